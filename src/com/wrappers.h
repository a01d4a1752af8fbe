// Owners of the COM resources the add-in touches: interface pointers, BSTRs,
// VARIANTs and SAFEARRAYs. Each frees what it owns exactly once; nothing else in the
// COM code calls Release, SysFreeString, VariantClear or SafeArrayDestroy.
// Text is UTF-8 on the C++ side and UTF-16 at the COM boundary.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "com/win32.h"

namespace kelvane::com {

// A failed HRESULT, with what failed.
class ComError : public std::runtime_error {
 public:
  ComError(HRESULT hr, const std::string& message) : std::runtime_error(message), hr_(hr) {}
  HRESULT hr() const { return hr_; }

 private:
  HRESULT hr_;
};

// Throws ComError(hr, what) when `hr` failed.
void check(HRESULT hr, const std::string& what);
// "0x80004005" for E_FAIL.
std::string hresultText(HRESULT hr);

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Shares `p`: takes a reference of its own.
  explicit ComPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  // Adopts `p`: the reference the caller held now belongs to the new ComPtr.
  static ComPtr adopt(T* p) {
    ComPtr c;
    c.p_ = p;
    return c;
  }
  ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~ComPtr() { reset(); }

  void reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For an out-parameter: releases what is held and lends the slot.
  T** put() {
    reset();
    return &p_;
  }
  void** putVoid() { return reinterpret_cast<void**>(put()); }
  // Hands the reference to the caller.
  T* detach() { return std::exchange(p_, nullptr); }

  // The object's interface U, or null when it has none.
  template <class U>
  ComPtr<U> query() const {
    ComPtr<U> u;
    if (p_) p_->QueryInterface(__uuidof(U), u.putVoid());
    return u;
  }

 private:
  T* p_ = nullptr;
};

std::wstring toUtf16(std::string_view utf8);
std::string toUtf8(std::wstring_view utf16);
// A BSTR's text; a null BSTR is "".
std::string toUtf8(BSTR text);

class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::string_view utf8);
  static Bstr adopt(BSTR b) {
    Bstr s;
    s.b_ = b;
    return s;
  }
  Bstr(const Bstr& other);
  Bstr(Bstr&& other) noexcept : b_(std::exchange(other.b_, nullptr)) {}
  Bstr& operator=(Bstr other) noexcept {
    std::swap(b_, other.b_);
    return *this;
  }
  ~Bstr() { SysFreeString(b_); }

  BSTR get() const { return b_; }
  BSTR* put() {
    SysFreeString(std::exchange(b_, nullptr));
    return &b_;
  }
  BSTR detach() { return std::exchange(b_, nullptr); }
  std::string utf8() const { return toUtf8(b_); }

 private:
  BSTR b_ = nullptr;
};

class SafeArray {
 public:
  SafeArray() = default;
  static SafeArray adopt(SAFEARRAY* a) {
    SafeArray s;
    s.a_ = a;
    return s;
  }
  // A one-dimensional, zero-based array of BSTR.
  static SafeArray ofStrings(const std::vector<std::string>& texts);
  SafeArray(const SafeArray&) = delete;
  SafeArray(SafeArray&& other) noexcept : a_(std::exchange(other.a_, nullptr)) {}
  SafeArray& operator=(SafeArray other) noexcept {
    std::swap(a_, other.a_);
    return *this;
  }
  ~SafeArray() {
    if (a_) SafeArrayDestroy(a_);
  }

  SAFEARRAY* get() const { return a_; }
  SAFEARRAY* detach() { return std::exchange(a_, nullptr); }

 private:
  SAFEARRAY* a_ = nullptr;
};

// The texts of a one-dimensional array of BSTR, or of VARIANTs that convert to text.
std::vector<std::string> stringsOf(SAFEARRAY* array);

class Variant {
 public:
  Variant() { VariantInit(&v_); }
  Variant(const Variant& other);
  Variant(Variant&& other) noexcept : v_(other.v_) { VariantInit(&other.v_); }
  Variant& operator=(Variant other) noexcept {
    std::swap(v_, other.v_);
    return *this;
  }
  ~Variant() { VariantClear(&v_); }

  static Variant ofBool(bool b);
  static Variant ofInt16(std::int16_t i);
  static Variant ofInt32(std::int32_t i);
  static Variant ofInt64(std::int64_t i);
  static Variant ofDouble(double d);
  static Variant ofString(std::string_view utf8);
  static Variant ofStrings(const std::vector<std::string>& texts);  // VT_ARRAY | VT_BSTR
  static Variant ofDispatch(IDispatch* d);  // shares; null gives a null VT_DISPATCH
  // A reference to `target`, for an out-argument; the VARIANT does not own it.
  static Variant refTo(LONG* target);
  // Copies a VARIANT the caller keeps.
  static Variant copyOf(const VARIANT& v);

  VARIANT* get() { return &v_; }
  const VARIANT* get() const { return &v_; }
  VARTYPE type() const { return v_.vt; }
  // For an out-parameter: clears what is held and lends the slot.
  VARIANT* put() {
    VariantClear(&v_);
    return &v_;
  }
  // Hands the contents to the caller, who must clear them.
  VARIANT detach() {
    VARIANT out = v_;
    VariantInit(&v_);
    return out;
  }

  // The value converted as Automation converts it; throws ComError when it cannot be.
  bool toBool() const;
  std::int16_t toInt16() const;
  std::int32_t toInt32() const;
  std::int64_t toInt64() const;
  double toDouble() const;
  std::string toString() const;
  // An object, or null for a null object, VT_EMPTY or VT_NULL.
  ComPtr<IDispatch> toDispatch() const;
  // Text or an array of texts.
  std::vector<std::string> toStrings() const;

 private:
  Variant converted(VARTYPE to) const;
  VARIANT v_;
};

}  // namespace kelvane::com

#include "com/wrappers.h"

#include <cstdio>
#include <new>

#include "platform/windows_platform.h"

namespace kelvane::com {

void check(HRESULT hr, const std::string& what) {
  if (FAILED(hr)) throw ComError(hr, what + " failed (" + hresultText(hr) + ")");
}

std::string hresultText(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

std::wstring toUtf16(std::string_view utf8) { return platform::utf8ToUtf16(utf8); }
std::string toUtf8(std::wstring_view utf16) { return platform::utf16ToUtf8(utf16); }
std::string toUtf8(BSTR text) {
  return text ? toUtf8(std::wstring_view(text, SysStringLen(text))) : std::string();
}

namespace {

BSTR allocate(std::string_view utf8) {
  const std::wstring wide = toUtf16(utf8);
  BSTR b = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  if (!b) throw std::bad_alloc();
  return b;
}

}  // namespace

Bstr::Bstr(std::string_view utf8) : b_(allocate(utf8)) {}

Bstr::Bstr(const Bstr& other) {
  if (other.b_) {
    b_ = SysAllocStringLen(other.b_, SysStringLen(other.b_));
    if (!b_) throw std::bad_alloc();
  }
}

SafeArray SafeArray::ofStrings(const std::vector<std::string>& texts) {
  SafeArray array = adopt(SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(texts.size())));
  if (!array.get()) throw std::bad_alloc();
  for (LONG i = 0; i < static_cast<LONG>(texts.size()); ++i) {
    Bstr text(texts[static_cast<std::size_t>(i)]);
    check(SafeArrayPutElement(array.get(), &i, text.get()), "SafeArrayPutElement");  // copies
  }
  return array;
}

std::vector<std::string> stringsOf(SAFEARRAY* array) {
  std::vector<std::string> texts;
  if (!array) return texts;
  if (SafeArrayGetDim(array) != 1) throw ComError(E_INVALIDARG, "not a one-dimensional array");
  VARTYPE type = VT_EMPTY;
  check(SafeArrayGetVartype(array, &type), "SafeArrayGetVartype");
  LONG low = 0, high = -1;
  check(SafeArrayGetLBound(array, 1, &low), "SafeArrayGetLBound");
  check(SafeArrayGetUBound(array, 1, &high), "SafeArrayGetUBound");
  for (LONG i = low; i <= high; ++i) {
    if (type == VT_BSTR) {
      Bstr text;
      check(SafeArrayGetElement(array, &i, text.put()), "SafeArrayGetElement");
      texts.push_back(text.utf8());
    } else if (type == VT_VARIANT) {
      Variant item;
      check(SafeArrayGetElement(array, &i, item.put()), "SafeArrayGetElement");
      texts.push_back(item.toString());
    } else {
      throw ComError(DISP_E_TYPEMISMATCH, "not an array of strings");
    }
  }
  return texts;
}

Variant::Variant(const Variant& other) {
  VariantInit(&v_);
  check(VariantCopy(&v_, const_cast<VARIANT*>(&other.v_)), "VariantCopy");
}

Variant Variant::ofBool(bool b) {
  Variant v;
  v.v_.vt = VT_BOOL;
  v.v_.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

Variant Variant::ofInt16(std::int16_t i) {
  Variant v;
  v.v_.vt = VT_I2;
  v.v_.iVal = i;
  return v;
}

Variant Variant::ofInt32(std::int32_t i) {
  Variant v;
  v.v_.vt = VT_I4;
  v.v_.lVal = i;
  return v;
}

Variant Variant::ofInt64(std::int64_t i) {
  Variant v;
  v.v_.vt = VT_I8;
  v.v_.llVal = i;
  return v;
}

Variant Variant::ofDouble(double d) {
  Variant v;
  v.v_.vt = VT_R8;
  v.v_.dblVal = d;
  return v;
}

Variant Variant::ofString(std::string_view utf8) {
  Variant v;
  v.v_.bstrVal = allocate(utf8);
  v.v_.vt = VT_BSTR;
  return v;
}

Variant Variant::ofStrings(const std::vector<std::string>& texts) {
  SafeArray array = SafeArray::ofStrings(texts);
  Variant v;
  v.v_.parray = array.detach();
  v.v_.vt = VT_ARRAY | VT_BSTR;
  return v;
}

Variant Variant::ofDispatch(IDispatch* d) {
  Variant v;
  v.v_.vt = VT_DISPATCH;
  v.v_.pdispVal = d;
  if (d) d->AddRef();
  return v;
}

Variant Variant::refTo(LONG* target) {
  Variant v;
  v.v_.vt = VT_BYREF | VT_I4;
  v.v_.plVal = target;
  return v;
}

Variant Variant::copyOf(const VARIANT& source) {
  Variant v;
  check(VariantCopy(&v.v_, const_cast<VARIANT*>(&source)), "VariantCopy");
  return v;
}

Variant Variant::converted(VARTYPE to) const {
  Variant out;
  // VariantChangeType looks through VT_BYREF and converts as Automation does.
  check(VariantChangeType(&out.v_, const_cast<VARIANT*>(&v_), 0, to), "converting a VARIANT");
  return out;
}

bool Variant::toBool() const { return converted(VT_BOOL).v_.boolVal != VARIANT_FALSE; }
std::int16_t Variant::toInt16() const { return converted(VT_I2).v_.iVal; }
std::int32_t Variant::toInt32() const { return converted(VT_I4).v_.lVal; }
std::int64_t Variant::toInt64() const { return converted(VT_I8).v_.llVal; }
double Variant::toDouble() const { return converted(VT_R8).v_.dblVal; }

std::string Variant::toString() const {
  if (v_.vt == VT_EMPTY) return {};
  return toUtf8(converted(VT_BSTR).v_.bstrVal);
}

ComPtr<IDispatch> Variant::toDispatch() const {
  const VARIANT& v = v_.vt == (VT_BYREF | VT_VARIANT) ? *v_.pvarVal : v_;
  switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return nullptr;
    case VT_DISPATCH:
      return ComPtr<IDispatch>(v.pdispVal);
    case VT_DISPATCH | VT_BYREF:
      return ComPtr<IDispatch>(*v.ppdispVal);
    case VT_UNKNOWN:
    case VT_UNKNOWN | VT_BYREF: {
      IUnknown* unknown = v.vt == VT_UNKNOWN ? v.punkVal : *v.ppunkVal;
      if (!unknown) return nullptr;
      ComPtr<IDispatch> d;
      check(unknown->QueryInterface(IID_IDispatch, d.putVoid()), "QueryInterface(IDispatch)");
      return d;
    }
    default:
      throw ComError(DISP_E_TYPEMISMATCH, "not an object");
  }
}

std::vector<std::string> Variant::toStrings() const {
  const VARIANT& v = v_.vt == (VT_BYREF | VT_VARIANT) ? *v_.pvarVal : v_;
  if (v.vt == VT_EMPTY || v.vt == VT_NULL) return {};
  if (v.vt & VT_ARRAY) return stringsOf(v.vt & VT_BYREF ? *v.pparray : v.parray);
  return {Variant::copyOf(v).toString()};
}

}  // namespace kelvane::com

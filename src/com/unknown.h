// IUnknown for the hand-written COM classes: one reference count and a QueryInterface
// that answers each listed interface. The first one is the object's identity, and
// also answers IUnknown and, when it derives from it, IDispatch.
#pragma once

#include <atomic>
#include <type_traits>

#include "com/win32.h"

namespace kelvane::com {

template <class Primary, class... Others>
class Unknown : public Primary, public Others... {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = find(iid);
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  // The object's identity, for handing out a reference the caller adopts.
  Primary* primary() { return static_cast<Primary*>(this); }

 protected:
  Unknown() = default;  // starts with the creator's one reference
  virtual ~Unknown() = default;
  Unknown(const Unknown&) = delete;
  Unknown& operator=(const Unknown&) = delete;

 private:
  void* find(REFIID iid) {
    if (iid == IID_IUnknown || iid == __uuidof(Primary)) return primary();
    if constexpr (std::is_base_of_v<IDispatch, Primary>) {
      if (iid == IID_IDispatch) return primary();
    }
    void* found = nullptr;
    ((found = found ? found : iid == __uuidof(Others) ? static_cast<void*>(static_cast<Others*>(this)) : nullptr),
     ...);
    return found;
  }

  std::atomic<ULONG> refs_{1};
};

}  // namespace kelvane::com

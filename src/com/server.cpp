#include "com/server.h"

#include <string>

#include "addin/swaddin.h"
#include "com/boundary.h"
#include "com/dispatch.h"
#include "com/host_adapter.h"
#include "com/unknown.h"
#include "platform/windows_platform.h"

namespace kelvane::com {

Module& module() {
  static Module instance;
  return instance;
}

namespace {

constexpr DISPID kDispPropMgr = 1;
constexpr DISPID kMenuStatus = 2;

VARIANT_BOOL toVariantBool(bool b) { return b ? VARIANT_TRUE : VARIANT_FALSE; }

template <class T>
void requireOut(T* out, const char* name) {
  if (!out) throw ComError(E_POINTER, std::string(name) + " is null");
}

// Type information of one of the add-in's interfaces, from the type library embedded
// in this module.
HRESULT typeInfoOf(REFIID iid, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  wchar_t path[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameW(module().instance, path, MAX_PATH * 4);
  if (n == 0 || n >= MAX_PATH * 4) return E_UNEXPECTED;
  ComPtr<ITypeLib> library;
  const HRESULT hr = LoadTypeLibEx(path, REGKIND_NONE, library.put());
  if (FAILED(hr)) return hr;
  return library->GetTypeInfoOfGuid(iid, info);
}

// Every live object of the module keeps it from unloading.
class Counted {
 protected:
  Counted() { ++module().objects; }
  ~Counted() { --module().objects; }
};

class AddIn final : public Unknown<_swAddIn, ISwAddin, ISupportErrorInfo>, Counted {
 public:
  AddIn() : platform_(reinterpret_cast<std::uintptr_t>(module().instance)), core_(platform_) {}

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (index != 0) return DISP_E_BADINDEX;
    return typeInfoOf(IID__swAddIn, info);
  }

  // The host asks for the names it registered with the menu item, the enable method
  // also qualified with the class name ("swAddIn.menuStatus").
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (!names || !ids) return E_POINTER;
    if (count == 0) return S_OK;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    const wchar_t* name = names[0];
    if (!name) return DISP_E_UNKNOWNNAME;
    constexpr std::wstring_view kClass = L"swAddIn.";
    const std::wstring_view full(name);
    if (full.size() > kClass.size() &&
        CompareStringOrdinal(name, static_cast<int>(kClass.size()), kClass.data(),
                             static_cast<int>(kClass.size()), TRUE) == CSTR_EQUAL) {
      name += kClass.size();
    }
    if (sameName(name, L"DispPropMgr")) {
      ids[0] = kDispPropMgr;
    } else if (sameName(name, L"menuStatus")) {
      ids[0] = kMenuStatus;
    } else {
      return DISP_E_UNKNOWNNAME;
    }
    return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;  // the methods take no named arguments
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* info, UINT*) override {
    if (id != kDispPropMgr && id != kMenuStatus) return DISP_E_MEMBERNOTFOUND;
    if (!(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) return DISP_E_MEMBERNOTFOUND;
    if (params && params->cArgs != 0) return DISP_E_BADPARAMCOUNT;
    return guardedHr(IID__swAddIn, info, [&] {
      Variant answer = id == kDispPropMgr ? Variant::ofBool(core_.DispPropMgr())
                                          : Variant::ofInt32(core_.menuStatus());
      if (result) *result = answer.detach();
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE DispPropMgr(VARIANT_BOOL* shown) override {
    return guarded(IID__swAddIn, [&] {
      requireOut(shown, "Shown");
      *shown = toVariantBool(core_.DispPropMgr());
    });
  }

  HRESULT STDMETHODCALLTYPE menuStatus(LONG* enabled) override {
    return guarded(IID__swAddIn, [&] {
      requireOut(enabled, "Enabled");
      *enabled = core_.menuStatus();
    });
  }

  HRESULT STDMETHODCALLTYPE ConnectToSW(IDispatch* thisSW, LONG cookie, VARIANT_BOOL* connected) override {
    return guarded(IID_ISwAddin, [&] {
      requireOut(connected, "IsConnected");
      *connected = VARIANT_FALSE;
      if (!thisSW) throw ComError(E_INVALIDARG, "ThisSW is null");
      AddinObjects objects;
      objects.callbackTarget = &core_;
      objects.callbackObject = static_cast<_swAddIn*>(this);
      objects.wrapHandler = [this](std::shared_ptr<host::PropertyManagerPage2Handler> handler) {
        return wrapPageHandler(std::move(handler), static_cast<ISwAddin*>(this));
      };
      auto app = std::make_shared<ComApplication>(ComPtr<IDispatch>(thisSW), std::move(objects));
      *connected = toVariantBool(core_.SwAddIn_ConnectToSW(std::move(app), cookie));
    });
  }

  HRESULT STDMETHODCALLTYPE DisconnectFromSW(VARIANT_BOOL* disconnected) override {
    return guarded(IID_ISwAddin, [&] {
      requireOut(disconnected, "IsDisconnected");
      *disconnected = toVariantBool(core_.SwAddIn_DisconnectFromSW());
    });
  }

  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
    return iid == IID__swAddIn || iid == IID_ISwAddin || iid == IID_IDispatch ? S_OK : S_FALSE;
  }

 private:
  platform::WindowsPlatform platform_;
  kelvane::swAddIn core_;
};

class PageHandler final : public Unknown<_swPropMgrHdlr, IPropertyManagerPage2Handler, ISupportErrorInfo>,
                          Counted {
 public:
  PageHandler(std::shared_ptr<host::PropertyManagerPage2Handler> handler, IUnknown* owner)
      : handler_(std::move(handler)), owner_(owner) {}

  // _swPropMgrHdlr has no members of its own.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (index != 0) return DISP_E_BADINDEX;
    return typeInfoOf(IID__swPropMgrHdlr, info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (!names || !ids) return E_POINTER;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    return count == 0 ? S_OK : DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return DISP_E_MEMBERNOTFOUND;
  }

  HRESULT STDMETHODCALLTYPE OnClose(LONG reason) override {
    return event([&](auto& h) { h.PropertyManagerPage2Handler_OnClose(reason); });
  }
  HRESULT STDMETHODCALLTYPE AfterClose() override {
    return event([&](auto& h) { h.PropertyManagerPage2Handler_AfterClose(); });
  }
  HRESULT STDMETHODCALLTYPE OnHelp(VARIANT_BOOL* handled) override {
    return event([&](auto& h) {
      requireOut(handled, "retval");
      *handled = toVariantBool(h.PropertyManagerPage2Handler_OnHelp());
    });
  }
  HRESULT STDMETHODCALLTYPE OnGroupExpand(LONG id, VARIANT_BOOL expanded) override {
    return event([&](auto& h) { h.PropertyManagerPage2Handler_OnGroupExpand(id, expanded != VARIANT_FALSE); });
  }
  HRESULT STDMETHODCALLTYPE OnGroupCheck(LONG id, VARIANT_BOOL checked) override {
    return event([&](auto& h) { h.PropertyManagerPage2Handler_OnGroupCheck(id, checked != VARIANT_FALSE); });
  }
  HRESULT STDMETHODCALLTYPE OnCheckboxCheck(LONG id, VARIANT_BOOL checked) override {
    return event([&](auto& h) { h.PropertyManagerPage2Handler_OnCheckboxCheck(id, checked != VARIANT_FALSE); });
  }
  HRESULT STDMETHODCALLTYPE OnOptionCheck(LONG id) override {
    return event([&](auto& h) { h.PropertyManagerPage2Handler_OnOptionCheck(id); });
  }
  HRESULT STDMETHODCALLTYPE OnButtonPress(LONG id) override {
    return event([&](auto& h) { h.PropertyManagerPage2Handler_OnButtonPress(id); });
  }
  HRESULT STDMETHODCALLTYPE OnTextboxChanged(LONG id, BSTR text) override {
    return event([&](auto& h) { h.PropertyManagerPage2Handler_OnTextboxChanged(id, toUtf8(text)); });
  }
  HRESULT STDMETHODCALLTYPE OnNumberboxChanged(LONG id, double value) override {
    return event([&](auto& h) { h.PropertyManagerPage2Handler_OnNumberboxChanged(id, value); });
  }
  HRESULT STDMETHODCALLTYPE OnComboboxSelectionChanged(LONG id, LONG item) override {
    return event([&](auto& h) { h.PropertyManagerPage2Handler_OnComboboxSelectionChanged(id, item); });
  }
  HRESULT STDMETHODCALLTYPE OnListboxSelectionChanged(LONG id, LONG item) override {
    return event([&](auto& h) { h.PropertyManagerPage2Handler_OnListboxSelectionChanged(id, item); });
  }
  HRESULT STDMETHODCALLTYPE OnSelectionboxFocusChanged(LONG id) override {
    return event([&](auto& h) { h.PropertyManagerPage2Handler_OnSelectionboxFocusChanged(id); });
  }
  HRESULT STDMETHODCALLTYPE OnSelectionboxListChanged(LONG id, LONG count) override {
    return event([&](auto& h) { h.PropertyManagerPage2Handler_OnSelectionboxListChanged(id, count); });
  }

  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
    return iid == IID_IPropertyManagerPage2Handler ? S_OK : S_FALSE;
  }

 private:
  template <class Body>
  HRESULT event(Body&& body) {
    return guarded(IID_IPropertyManagerPage2Handler, [&] {
      if (!handler_) throw ComError(E_UNEXPECTED, "this page handler belongs to no add-in");
      body(*handler_);
    });
  }

  std::shared_ptr<host::PropertyManagerPage2Handler> handler_;
  ComPtr<IUnknown> owner_;
};

class ClassFactory final : public Unknown<IClassFactory>, Counted {
 public:
  using Create = HRESULT (*)(REFIID, void**);
  explicit ClassFactory(Create create) : create_(create) {}

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return create_(iid, out);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      ++module().locks;
    } else {
      --module().locks;
    }
    return S_OK;
  }

 private:
  Create create_;
};

// Creates an object with one reference and answers its interface `iid`.
template <class Make>
HRESULT createAs(REFIID iid, void** out, Make make) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return guardedHr(IID_IClassFactory, nullptr, [&] {
    auto* object = make();
    const HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
  });
}

}  // namespace

HRESULT createAddIn(REFIID iid, void** out) {
  return createAs(iid, out, [] { return new AddIn(); });
}

HRESULT createPageHandler(REFIID iid, void** out) {
  return createAs(iid, out, [] { return new PageHandler(nullptr, nullptr); });
}

ComPtr<IDispatch> wrapPageHandler(std::shared_ptr<host::PropertyManagerPage2Handler> handler, IUnknown* owner) {
  return ComPtr<IDispatch>::adopt((new PageHandler(std::move(handler), owner))->primary());
}

HRESULT getClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  ClassFactory::Create create = nullptr;
  if (clsid == CLSID_swAddIn) {
    create = createAddIn;
  } else if (clsid == CLSID_swPropMgrHdlr) {
    create = createPageHandler;
  } else {
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  return createAs(iid, out, [&] { return new ClassFactory(create); });
}

}  // namespace kelvane::com

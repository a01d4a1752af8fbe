#include "com_host/host_server.h"

#include "com/boundary.h"
#include "com/dispatch.h"
#include "kelvane.h"

namespace kelvane::com {

namespace {

using Args = DispatchServer::Args;

bool boolArg(const Args& a, std::size_t i) { return Variant::copyOf(*a.at(i)).toBool(); }
std::int16_t int16Arg(const Args& a, std::size_t i) { return Variant::copyOf(*a.at(i)).toInt16(); }
std::int32_t int32Arg(const Args& a, std::size_t i) { return Variant::copyOf(*a.at(i)).toInt32(); }
std::string textArg(const Args& a, std::size_t i) { return Variant::copyOf(*a.at(i)).toString(); }

// An argument the host writes back into: a VT_BYREF long, or a VT_BYREF VARIANT.
void writeBack(VARIANT& arg, std::int32_t value) {
  if (arg.vt == (VT_BYREF | VT_I4)) {
    *arg.plVal = value;
  } else if (arg.vt == (VT_BYREF | VT_VARIANT)) {
    VariantClear(arg.pvarVal);
    *arg.pvarVal = Variant::ofInt32(value).detach();
  } else {
    throw ComError(DISP_E_TYPEMISMATCH, "the out-argument is not a reference");
  }
}

void expectGet(Call kind) {
  if (kind == Call::Put) throw ComError(DISP_E_MEMBERNOTFOUND, "the member cannot be set");
}

// A face over a shared host object `T`.
template <class T>
class Face : public DispatchServer {
 protected:
  explicit Face(std::shared_ptr<T> object) : object_(std::move(object)) {}
  T& object() { return *object_; }

  // A member that is only read or called, taking `count` arguments.
  template <class Body>
  void getter(std::wstring name, std::size_t count, Body body) {
    member(std::move(name), [count, body](Call kind, Args& args) {
      expectGet(kind);
      expectArgs(args, count);
      return body(args);
    });
  }

 private:
  std::shared_ptr<T> object_;
};

template <class Face, class T>
Variant faceOf(std::shared_ptr<T> object) {
  if (!object) return Variant::ofDispatch(nullptr);  // the host's Nothing
  ComPtr<IDispatch> face = makeServer<Face>(std::move(object));
  return Variant::ofDispatch(face.get());
}

class FrameFace : public Face<host::Frame> {
 public:
  explicit FrameFace(std::shared_ptr<host::Frame> f) : Face(std::move(f)) {
    getter(L"SetStatusBarText", 1, [this](Args& a) {
      object().SetStatusBarText(textArg(a, 0));
      return Variant();
    });
  }
};

class ControlFace : public Face<host::Control> {
 public:
  explicit ControlFace(std::shared_ptr<host::Control> c) : Face(std::move(c)) {
    member(L"Checked", [this](Call kind, Args& a) {
      if (kind != Call::Put) throw ComError(DISP_E_MEMBERNOTFOUND, "Checked is only set");
      expectArgs(a, 1);
      object().SetChecked(boolArg(a, 0));
      return Variant();
    });
    member(L"Enabled", [this](Call kind, Args& a) {
      if (kind != Call::Put) throw ComError(DISP_E_MEMBERNOTFOUND, "Enabled is only set");
      expectArgs(a, 1);
      object().SetEnabled(boolArg(a, 0));
      return Variant();
    });
    getter(L"AddItems", 1, [this](Args& a) {
      for (const std::string& item : Variant::copyOf(*a[0]).toStrings()) object().AddItems(item);
      return Variant();
    });
    member(L"CurrentSelection", [this](Call kind, Args& a) {
      if (kind == Call::Put) {
        expectArgs(a, 1);
        object().SetCurrentSelection(int16Arg(a, 0));
        return Variant();
      }
      expectArgs(a, 0);
      return Variant::ofInt16(object().GetCurrentSelection());
    });
    getter(L"ItemText", 1, [this](Args& a) { return Variant::ofString(object().ItemText(int16Arg(a, 0))); });
    member(L"Text", [this](Call kind, Args& a) {
      if (kind == Call::Put) {
        expectArgs(a, 1);
        object().SetText(textArg(a, 0));
        return Variant();
      }
      expectArgs(a, 0);
      return Variant::ofString(object().GetText());
    });
  }
};

class GroupFace : public Face<host::Group> {
 public:
  explicit GroupFace(std::shared_ptr<host::Group> g) : Face(std::move(g)) {
    getter(L"AddControl", 6, [this](Args& a) {
      return faceOf<ControlFace>(object().AddControl(int16Arg(a, 0), int16Arg(a, 1), textArg(a, 2),
                                                     int16Arg(a, 3), int32Arg(a, 4), textArg(a, 5)));
    });
  }
};

class PageFace : public Face<host::Page> {
 public:
  explicit PageFace(std::shared_ptr<host::Page> p) : Face(std::move(p)) {
    getter(L"AddGroupBox", 3, [this](Args& a) {
      return faceOf<GroupFace>(object().AddGroupBox(int16Arg(a, 0), textArg(a, 1), int32Arg(a, 2)));
    });
    getter(L"Show", 0, [this](Args&) { return Variant::ofInt32(object().Show()); });
    getter(L"Close", 1, [this](Args& a) {
      object().Close(boolArg(a, 0));
      return Variant();
    });
  }
};

class ConfigurationFace : public Face<host::Configuration> {
 public:
  explicit ConfigurationFace(std::shared_ptr<host::Configuration> c) : Face(std::move(c)) {
    getter(L"Name", 0, [this](Args&) { return Variant::ofString(object().Name()); });
  }
};

class DocumentFace : public Face<host::Document> {
 public:
  explicit DocumentFace(std::shared_ptr<host::Document> d) : Face(std::move(d)) {
    getter(L"AddCustomInfo3", 4, [this](Args& a) {
      return Variant::ofBool(object().AddCustomInfo3(textArg(a, 0), textArg(a, 1), int32Arg(a, 2), textArg(a, 3)));
    });
    member(L"CustomInfo2", [this](Call kind, Args& a) {
      if (kind == Call::Put) {
        expectArgs(a, 3);
        object().SetCustomInfo2(textArg(a, 0), textArg(a, 1), textArg(a, 2));
        return Variant();
      }
      expectArgs(a, 2);
      return Variant::ofString(object().GetCustomInfo2(textArg(a, 0), textArg(a, 1)));
    });
    getter(L"DeleteCustomInfo2", 2, [this](Args& a) {
      return Variant::ofBool(object().DeleteCustomInfo2(textArg(a, 0), textArg(a, 1)));
    });
    getter(L"GetConfigurationCount", 0, [this](Args&) { return Variant::ofInt32(object().GetConfigurationCount()); });
    getter(L"GetConfigurationNames", 0, [this](Args&) { return Variant::ofStrings(object().GetConfigurationNames()); });
    getter(L"GetActiveConfiguration", 0,
           [this](Args&) { return faceOf<ConfigurationFace>(object().GetActiveConfiguration()); });
    getter(L"GetTitle", 0, [this](Args&) { return Variant::ofString(object().GetTitle()); });
    getter(L"GetUserPreferenceDoubleValue", 1,
           [this](Args& a) { return Variant::ofDouble(object().GetUserPreferenceDoubleValue(int32Arg(a, 0))); });
  }
};

class ApplicationFace : public Face<host::Application> {
 public:
  ApplicationFace(std::shared_ptr<host::Application> app, TrackAddinObject track)
      : Face(std::move(app)), track_(std::move(track)) {
    getter(L"ActiveDoc", 0, [this](Args&) { return faceOf<DocumentFace>(object().ActiveDoc()); });
    getter(L"Frame", 0, [this](Args&) { return faceOf<FrameFace>(object().GetFrame()); });
    getter(L"RemoveMenu", 3, [this](Args& a) {
      return Variant::ofBool(object().RemoveMenu(int32Arg(a, 0), textArg(a, 1), textArg(a, 2)));
    });
    getter(L"GetLocalizedMenuName", 1,
           [this](Args& a) { return Variant::ofString(object().GetLocalizedMenuName(int32Arg(a, 0))); });
    // Both registrations of the host's interface: the module handle whole, and the
    // obsolete one that holds it in a 32-bit long.
    getter(L"SetAddinCallbackInfo2", 3, [this](Args& a) {
      return registerCallbacks(static_cast<std::uintptr_t>(Variant::copyOf(*a[0]).toInt64()), a);
    });
    getter(L"SetAddinCallbackInfo", 3, [this](Args& a) {
      return registerCallbacks(static_cast<std::uintptr_t>(static_cast<std::uint32_t>(int32Arg(a, 0))), a);
    });
    getter(L"AddMenuItem2", 7, [this](Args& a) {
      return Variant::ofBool(object().AddMenuItem2(int32Arg(a, 0), int32Arg(a, 1), textArg(a, 2), int32Arg(a, 3),
                                                   textArg(a, 4), textArg(a, 5), textArg(a, 6)));
    });
    getter(L"CreatePropertyManagerPage", 4, [this](Args& a) {
      ComPtr<IDispatch> handler = Variant::copyOf(*a[2]).toDispatch();
      if (!handler) throw ComError(E_INVALIDARG, "no page handler");
      auto client = std::make_shared<HandlerClient>(handler.get());
      if (track_) track_(client);
      std::int32_t errors = 0;
      auto page = object().CreatePropertyManagerPage(textArg(a, 0), int32Arg(a, 1), client, errors);
      writeBack(*a[3], errors);
      return faceOf<PageFace>(std::move(page));
    });
  }

 private:
  Variant registerCallbacks(std::uintptr_t moduleHandle, Args& a) {
    ComPtr<IDispatch> callbacks = Variant::copyOf(*a[1]).toDispatch();
    if (!callbacks) throw ComError(E_INVALIDARG, "no callback object");
    auto target = std::make_shared<DispatchCallbackTarget>(std::move(callbacks));
    if (track_) track_(target);
    return Variant::ofBool(object().SetAddinCallbackInfo(moduleHandle, *target, int32Arg(a, 2)));
  }

  TrackAddinObject track_;
};

}  // namespace

ComPtr<IDispatch> serveApplication(std::shared_ptr<host::Application> app, TrackAddinObject track) {
  return makeServer<ApplicationFace>(std::move(app), std::move(track));
}

std::int32_t DispatchCallbackTarget::InvokeByName(const std::string& name) {
  const Variant answer = callByName(object_.get(), "invoke", name, Call::Method);
  try {
    return answer.type() == VT_EMPTY ? 0 : answer.toInt32();
  } catch (const ComError& e) {
    throw host::HostError("invoke", name + ": " + e.what());
  }
}

namespace {

VARIANT_BOOL variantBool(bool b) { return b ? VARIANT_TRUE : VARIANT_FALSE; }

}  // namespace

HandlerClient::HandlerClient(IUnknown* handler) {
  if (handler) handler->QueryInterface(IID_IPropertyManagerPage2Handler, h_.putVoid());
  if (!h_) throw ComError(E_NOINTERFACE, "the page handler does not implement IPropertyManagerPage2Handler");
}

IPropertyManagerPage2Handler& HandlerClient::handler() {
  if (!h_) throw ComError(E_UNEXPECTED, "the add-in has been released");
  return *h_.get();
}

void HandlerClient::PropertyManagerPage2Handler_OnClose(std::int32_t reason) { checkCall(handler().OnClose(reason)); }
void HandlerClient::PropertyManagerPage2Handler_AfterClose() { checkCall(handler().AfterClose()); }
bool HandlerClient::PropertyManagerPage2Handler_OnHelp() {
  VARIANT_BOOL handled = VARIANT_FALSE;
  checkCall(handler().OnHelp(&handled));
  return handled != VARIANT_FALSE;
}
void HandlerClient::PropertyManagerPage2Handler_OnGroupExpand(std::int32_t id, bool expanded) {
  checkCall(handler().OnGroupExpand(id, variantBool(expanded)));
}
void HandlerClient::PropertyManagerPage2Handler_OnGroupCheck(std::int32_t id, bool checked) {
  checkCall(handler().OnGroupCheck(id, variantBool(checked)));
}
void HandlerClient::PropertyManagerPage2Handler_OnCheckboxCheck(std::int32_t id, bool checked) {
  checkCall(handler().OnCheckboxCheck(id, variantBool(checked)));
}
void HandlerClient::PropertyManagerPage2Handler_OnOptionCheck(std::int32_t id) {
  checkCall(handler().OnOptionCheck(id));
}
void HandlerClient::PropertyManagerPage2Handler_OnButtonPress(std::int32_t id) {
  checkCall(handler().OnButtonPress(id));
}
void HandlerClient::PropertyManagerPage2Handler_OnTextboxChanged(std::int32_t id, const std::string& text) {
  Bstr b(text);
  checkCall(handler().OnTextboxChanged(id, b.get()));
}
void HandlerClient::PropertyManagerPage2Handler_OnNumberboxChanged(std::int32_t id, double value) {
  checkCall(handler().OnNumberboxChanged(id, value));
}
void HandlerClient::PropertyManagerPage2Handler_OnComboboxSelectionChanged(std::int32_t id, std::int32_t item) {
  checkCall(handler().OnComboboxSelectionChanged(id, item));
}
void HandlerClient::PropertyManagerPage2Handler_OnListboxSelectionChanged(std::int32_t id, std::int32_t item) {
  checkCall(handler().OnListboxSelectionChanged(id, item));
}
void HandlerClient::PropertyManagerPage2Handler_OnSelectionboxFocusChanged(std::int32_t id) {
  checkCall(handler().OnSelectionboxFocusChanged(id));
}
void HandlerClient::PropertyManagerPage2Handler_OnSelectionboxListChanged(std::int32_t id, std::int32_t count) {
  checkCall(handler().OnSelectionboxListChanged(id, count));
}

}  // namespace kelvane::com

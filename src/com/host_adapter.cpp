#include "com/host_adapter.h"

#include "com/dispatch.h"

namespace kelvane::com {

namespace {

// The answer of `operation` as the type the core wants; a VARIANT that does not
// convert is a failure of that operation.
template <class Convert>
auto as(const char* operation, const Variant& answer, Convert convert) {
  try {
    return convert(answer);
  } catch (const ComError& e) {
    throw host::HostError(operation, e.what());
  }
}
bool asBool(const char* operation, const Variant& v) {
  return as(operation, v, [](const Variant& x) { return x.toBool(); });
}
std::int16_t asInt16(const char* operation, const Variant& v) {
  return as(operation, v, [](const Variant& x) { return x.toInt16(); });
}
std::int32_t asInt32(const char* operation, const Variant& v) {
  return as(operation, v, [](const Variant& x) { return x.toInt32(); });
}
double asDouble(const char* operation, const Variant& v) {
  return as(operation, v, [](const Variant& x) { return x.toDouble(); });
}
std::string asString(const char* operation, const Variant& v) {
  return as(operation, v, [](const Variant& x) { return x.toString(); });
}

// A core object over the host object answered by `operation`; null for no object.
template <class Adapter>
std::shared_ptr<Adapter> wrap(const char* operation, const Variant& v) {
  ComPtr<IDispatch> object = as(operation, v, [](const Variant& x) { return x.toDispatch(); });
  return object ? std::make_shared<Adapter>(std::move(object)) : nullptr;
}

// A host object: the IDispatch it is reached through. Each call names the host
// operation (as the simulated host names it) and the member that performs it.
class Remote {
 protected:
  explicit Remote(ComPtr<IDispatch> object) : object_(std::move(object)) {}

  Variant call(const char* operation, const char* name, std::vector<Variant> args = {}) {
    return object_.call(operation, name, Call::Method, std::move(args));
  }
  Variant get(const char* operation, const char* name, std::vector<Variant> args = {}) {
    return object_.call(operation, name, Call::Get, std::move(args));
  }
  void put(const char* operation, const char* name, std::vector<Variant> args) {
    object_.call(operation, name, Call::Put, std::move(args));
  }

 private:
  Dispatcher object_;
};

Variant text(std::string_view s) { return Variant::ofString(s); }
Variant i4(std::int32_t i) { return Variant::ofInt32(i); }
Variant i2(std::int16_t i) { return Variant::ofInt16(i); }
Variant boolean(bool b) { return Variant::ofBool(b); }

class ComFrame : public host::Frame, Remote {
 public:
  explicit ComFrame(ComPtr<IDispatch> o) : Remote(std::move(o)) {}
  void SetStatusBarText(std::string_view t) override { call("set-status-bar-text", "SetStatusBarText", {text(t)}); }
};

class ComControl : public host::Control, Remote {
 public:
  explicit ComControl(ComPtr<IDispatch> o) : Remote(std::move(o)) {}
  void SetChecked(bool checked) override { put("set-checked", "Checked", {boolean(checked)}); }
  void SetEnabled(bool enabled) override { put("set-enabled", "Enabled", {boolean(enabled)}); }
  void AddItems(std::string_view item) override { call("add-items", "AddItems", {text(item)}); }
  std::int16_t GetCurrentSelection() override {
    return asInt16("get-current-selection", get("get-current-selection", "CurrentSelection"));
  }
  void SetCurrentSelection(std::int16_t index) override { put("set-current-selection", "CurrentSelection", {i2(index)}); }
  std::string ItemText(std::int16_t index) override {
    return asString("item-text", get("item-text", "ItemText", {i2(index)}));
  }
  std::string GetText() override { return asString("get-text", get("get-text", "Text")); }
  void SetText(std::string_view t) override { put("set-text", "Text", {text(t)}); }
};

class ComGroup : public host::Group, Remote {
 public:
  explicit ComGroup(ComPtr<IDispatch> o) : Remote(std::move(o)) {}
  std::shared_ptr<host::Control> AddControl(std::int16_t id, std::int16_t kind, std::string_view caption,
                                            std::int16_t align, std::int32_t options,
                                            std::string_view tip) override {
    return wrap<ComControl>("add-control", call("add-control", "AddControl", {i4(id), i2(kind), text(caption), i2(align),
                                                              i4(options), text(tip)}));
  }
};

class ComPage : public host::Page, Remote {
 public:
  explicit ComPage(ComPtr<IDispatch> o) : Remote(std::move(o)) {}
  std::shared_ptr<host::Group> AddGroupBox(std::int16_t id, std::string_view caption,
                                           std::int32_t options) override {
    return wrap<ComGroup>("add-group", call("add-group", "AddGroupBox", {i4(id), text(caption), i4(options)}));
  }
  std::int32_t Show() override { return asInt32("show-page", call("show-page", "Show")); }
  void Close(bool okay) override { call("close-page", "Close", {boolean(okay)}); }
};

class ComConfiguration : public host::Configuration, Remote {
 public:
  explicit ComConfiguration(ComPtr<IDispatch> o) : Remote(std::move(o)) {}
  std::string Name() override { return asString("configuration-name", get("configuration-name", "Name")); }
};

class ComDocument : public host::Document, Remote {
 public:
  explicit ComDocument(ComPtr<IDispatch> o) : Remote(std::move(o)) {}

  bool AddCustomInfo3(std::string_view config, std::string_view name, std::int32_t type,
                      std::string_view value) override {
    return asBool("add-custom-property", call("add-custom-property", "AddCustomInfo3", {text(config), text(name), i4(type), text(value)}));
  }
  std::string GetCustomInfo2(std::string_view config, std::string_view name) override {
    return asString("get-custom-property", get("get-custom-property", "CustomInfo2", {text(config), text(name)}));
  }
  void SetCustomInfo2(std::string_view config, std::string_view name, std::string_view value) override {
    put("set-custom-property", "CustomInfo2", {text(config), text(name), text(value)});
  }
  bool DeleteCustomInfo2(std::string_view config, std::string_view name) override {
    return asBool("delete-custom-property", call("delete-custom-property", "DeleteCustomInfo2", {text(config), text(name)}));
  }
  std::int32_t GetConfigurationCount() override {
    return asInt32("get-configuration-count", call("get-configuration-count", "GetConfigurationCount"));
  }
  std::vector<std::string> GetConfigurationNames() override {
    const Variant names = call("get-configuration-names", "GetConfigurationNames");
    return as("get-configuration-names", names, [](const Variant& v) { return v.toStrings(); });
  }
  std::shared_ptr<host::Configuration> GetActiveConfiguration() override {
    return wrap<ComConfiguration>("get-active-configuration",
                                   call("get-active-configuration", "GetActiveConfiguration"));
  }
  std::string GetTitle() override { return asString("get-title", call("get-title", "GetTitle")); }
  double GetUserPreferenceDoubleValue(std::int32_t preference) override {
    return asDouble("get-user-preference-double",
                    call("get-user-preference-double", "GetUserPreferenceDoubleValue", {i4(preference)}));
  }
};

}  // namespace

ComApplication::ComApplication(ComPtr<IDispatch> app, AddinObjects addin)
    : app_(std::move(app)), addin_(std::move(addin)) {}

std::shared_ptr<host::Document> ComApplication::ActiveDoc() {
  return wrap<ComDocument>("active-document", app_.call("active-document", "ActiveDoc", Call::Get));
}

std::shared_ptr<host::Frame> ComApplication::GetFrame() {
  return wrap<ComFrame>("frame", app_.call("frame", "Frame", Call::Method));
}

bool ComApplication::RemoveMenu(std::int32_t docType, const std::string& menuItem,
                                const std::string& callback) {
  return asBool("remove-menu-item", app_.call("remove-menu-item", "RemoveMenu", Call::Method,
                                               {i4(docType), text(menuItem), text(callback)}));
}

std::string ComApplication::GetLocalizedMenuName(std::int32_t menuId) {
  return asString("menu-name", app_.call("menu-name", "GetLocalizedMenuName", Call::Method, {i4(menuId)}));
}

bool ComApplication::SetAddinCallbackInfo(std::uintptr_t moduleHandle, host::CallbackTarget& callbacks,
                                          std::int32_t cookie) {
  // Only the add-in's own object has a COM face the host can call back.
  if (&callbacks != addin_.callbackTarget || !addin_.callbackObject) {
    throw host::HostError("register-callbacks", "the callback object is not the add-in");
  }
  const Variant object = Variant::ofDispatch(addin_.callbackObject);
  // SetAddinCallbackInfo2 takes the whole 64-bit handle; only a host from before it
  // was offered gets the obsolete SetAddinCallbackInfo, whose long holds 32 bits.
  if (app_.knows("register-callbacks", "SetAddinCallbackInfo2")) {
    return asBool("register-callbacks",
                  app_.call("register-callbacks", "SetAddinCallbackInfo2", Call::Method,
                            {Variant::ofInt64(static_cast<std::int64_t>(moduleHandle)), object, i4(cookie)}));
  }
  const auto handle = static_cast<std::int32_t>(moduleHandle);
  return asBool("register-callbacks", app_.call("register-callbacks", "SetAddinCallbackInfo", Call::Method,
                                                {i4(handle), object, i4(cookie)}));
}

bool ComApplication::AddMenuItem2(std::int32_t docType, std::int32_t cookie, const std::string& menuItem,
                                  std::int32_t position, const std::string& menuCallback,
                                  const std::string& menuEnableMethod, const std::string& hint) {
  return asBool("add-menu-item",
                app_.call("add-menu-item", "AddMenuItem2", Call::Method,
                          {i4(docType), i4(cookie), text(menuItem), i4(position), text(menuCallback),
                           text(menuEnableMethod), text(hint)}));
}

std::shared_ptr<host::Page> ComApplication::CreatePropertyManagerPage(
    const std::string& title, std::int32_t options, std::shared_ptr<host::PropertyManagerPage2Handler> handler,
    std::int32_t& errors) {
  if (!addin_.wrapHandler) throw host::HostError("create-page", "no page handler class");
  ComPtr<IDispatch> handlerObject = addin_.wrapHandler(std::move(handler));
  LONG code = errors;
  const Variant page = app_.call("create-page", "CreatePropertyManagerPage", Call::Method,
                                 {text(title), i4(options), Variant::ofDispatch(handlerObject.get()),
                                  Variant::refTo(&code)});
  errors = code;
  return wrap<ComPage>("create-page", page);
}

}  // namespace kelvane::com

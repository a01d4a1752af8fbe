#include "com/host_adapter.h"

#include "com/dispatch.h"

namespace kelvane::com {

namespace {

// The answer of `member` as the type the core wants; a VARIANT that does not convert
// is a failure of that member.
template <class Convert>
auto as(const char* member, const Variant& answer, Convert convert) {
  try {
    return convert(answer);
  } catch (const ComError& e) {
    throw host::HostError(member, e.what());
  }
}
bool asBool(const char* member, const Variant& v) {
  return as(member, v, [](const Variant& x) { return x.toBool(); });
}
std::int16_t asInt16(const char* member, const Variant& v) {
  return as(member, v, [](const Variant& x) { return x.toInt16(); });
}
std::int32_t asInt32(const char* member, const Variant& v) {
  return as(member, v, [](const Variant& x) { return x.toInt32(); });
}
double asDouble(const char* member, const Variant& v) {
  return as(member, v, [](const Variant& x) { return x.toDouble(); });
}
std::string asString(const char* member, const Variant& v) {
  return as(member, v, [](const Variant& x) { return x.toString(); });
}

// A core object over the host object answered by `member`; null for no object.
template <class Adapter>
std::shared_ptr<Adapter> wrap(const char* member, const Variant& v) {
  ComPtr<IDispatch> object = as(member, v, [](const Variant& x) { return x.toDispatch(); });
  return object ? std::make_shared<Adapter>(std::move(object)) : nullptr;
}

// A host object: the IDispatch it is reached through.
class Remote {
 protected:
  explicit Remote(ComPtr<IDispatch> object) : object_(std::move(object)) {}

  Variant call(const char* name, std::vector<Variant> args = {}) {
    return callByName(object_.get(), name, Call::Method, std::move(args));
  }
  Variant get(const char* name, std::vector<Variant> args = {}) {
    return callByName(object_.get(), name, Call::Get, std::move(args));
  }
  void put(const char* name, std::vector<Variant> args) {
    callByName(object_.get(), name, Call::Put, std::move(args));
  }

 private:
  ComPtr<IDispatch> object_;
};

Variant text(const std::string& s) { return Variant::ofString(s); }
Variant i4(std::int32_t i) { return Variant::ofInt32(i); }
Variant i2(std::int16_t i) { return Variant::ofInt16(i); }
Variant boolean(bool b) { return Variant::ofBool(b); }

class ComFrame : public host::Frame, Remote {
 public:
  explicit ComFrame(ComPtr<IDispatch> o) : Remote(std::move(o)) {}
  void SetStatusBarText(const std::string& t) override { call("SetStatusBarText", {text(t)}); }
};

class ComControl : public host::Control, Remote {
 public:
  explicit ComControl(ComPtr<IDispatch> o) : Remote(std::move(o)) {}
  void SetChecked(bool checked) override { put("Checked", {boolean(checked)}); }
  void SetEnabled(bool enabled) override { put("Enabled", {boolean(enabled)}); }
  void AddItems(const std::string& item) override { call("AddItems", {text(item)}); }
  std::int16_t GetCurrentSelection() override {
    return asInt16("CurrentSelection", get("CurrentSelection"));
  }
  void SetCurrentSelection(std::int16_t index) override { put("CurrentSelection", {i2(index)}); }
  std::string ItemText(std::int16_t index) override {
    return asString("ItemText", get("ItemText", {i2(index)}));
  }
  std::string GetText() override { return asString("Text", get("Text")); }
  void SetText(const std::string& t) override { put("Text", {text(t)}); }
};

class ComGroup : public host::Group, Remote {
 public:
  explicit ComGroup(ComPtr<IDispatch> o) : Remote(std::move(o)) {}
  std::shared_ptr<host::Control> AddControl(std::int16_t id, std::int16_t kind, const std::string& caption,
                                            std::int16_t align, std::int32_t options,
                                            const std::string& tip) override {
    return wrap<ComControl>("AddControl", call("AddControl", {i4(id), i2(kind), text(caption), i2(align),
                                                              i4(options), text(tip)}));
  }
};

class ComPage : public host::Page, Remote {
 public:
  explicit ComPage(ComPtr<IDispatch> o) : Remote(std::move(o)) {}
  std::shared_ptr<host::Group> AddGroupBox(std::int16_t id, const std::string& caption,
                                           std::int32_t options) override {
    return wrap<ComGroup>("AddGroupBox", call("AddGroupBox", {i4(id), text(caption), i4(options)}));
  }
  std::int32_t Show() override { return asInt32("Show", call("Show")); }
  void Close(bool okay) override { call("Close", {boolean(okay)}); }
};

class ComConfiguration : public host::Configuration, Remote {
 public:
  explicit ComConfiguration(ComPtr<IDispatch> o) : Remote(std::move(o)) {}
  std::string Name() override { return asString("Name", get("Name")); }
};

class ComDocument : public host::Document, Remote {
 public:
  explicit ComDocument(ComPtr<IDispatch> o) : Remote(std::move(o)) {}

  bool AddCustomInfo3(const std::string& config, const std::string& name, std::int32_t type,
                      const std::string& value) override {
    return asBool("AddCustomInfo3", call("AddCustomInfo3", {text(config), text(name), i4(type), text(value)}));
  }
  std::string GetCustomInfo2(const std::string& config, const std::string& name) override {
    return asString("CustomInfo2", get("CustomInfo2", {text(config), text(name)}));
  }
  void SetCustomInfo2(const std::string& config, const std::string& name, const std::string& value) override {
    put("CustomInfo2", {text(config), text(name), text(value)});
  }
  bool DeleteCustomInfo2(const std::string& config, const std::string& name) override {
    return asBool("DeleteCustomInfo2", call("DeleteCustomInfo2", {text(config), text(name)}));
  }
  std::int32_t GetConfigurationCount() override {
    return asInt32("GetConfigurationCount", call("GetConfigurationCount"));
  }
  std::vector<std::string> GetConfigurationNames() override {
    const Variant names = call("GetConfigurationNames");
    return as("GetConfigurationNames", names, [](const Variant& v) { return v.toStrings(); });
  }
  std::shared_ptr<host::Configuration> GetActiveConfiguration() override {
    return wrap<ComConfiguration>("GetActiveConfiguration", call("GetActiveConfiguration"));
  }
  std::string GetTitle() override { return asString("GetTitle", call("GetTitle")); }
  double GetUserPreferenceDoubleValue(std::int32_t preference) override {
    return asDouble("GetUserPreferenceDoubleValue", call("GetUserPreferenceDoubleValue", {i4(preference)}));
  }
};

}  // namespace

ComApplication::ComApplication(ComPtr<IDispatch> app, AddinObjects addin)
    : app_(std::move(app)), addin_(std::move(addin)) {}

std::shared_ptr<host::Document> ComApplication::ActiveDoc() {
  return wrap<ComDocument>("ActiveDoc", callByName(app_.get(), "ActiveDoc", Call::Get));
}

std::shared_ptr<host::Frame> ComApplication::GetFrame() {
  return wrap<ComFrame>("Frame", callByName(app_.get(), "Frame", Call::Method));
}

bool ComApplication::RemoveMenu(std::int32_t docType, const std::string& menuItem,
                                const std::string& callback) {
  return asBool("RemoveMenu",
                callByName(app_.get(), "RemoveMenu", Call::Method, {i4(docType), text(menuItem), text(callback)}));
}

std::string ComApplication::GetLocalizedMenuName(std::int32_t menuId) {
  return asString("GetLocalizedMenuName",
                  callByName(app_.get(), "GetLocalizedMenuName", Call::Method, {i4(menuId)}));
}

bool ComApplication::SetAddinCallbackInfo(std::uintptr_t moduleHandle, host::CallbackTarget& callbacks,
                                          std::int32_t cookie) {
  // Only the add-in's own object has a COM face the host can call back.
  if (&callbacks != addin_.callbackTarget || !addin_.callbackObject) {
    throw host::HostError("SetAddinCallbackInfo", "the callback object is not the add-in");
  }
  // The host's interface takes the module handle as a 32-bit long.
  const auto handle = static_cast<std::int32_t>(moduleHandle);
  return asBool("SetAddinCallbackInfo",
                callByName(app_.get(), "SetAddinCallbackInfo", Call::Method,
                           {i4(handle), Variant::ofDispatch(addin_.callbackObject), i4(cookie)}));
}

bool ComApplication::AddMenuItem2(std::int32_t docType, std::int32_t cookie, const std::string& menuItem,
                                  std::int32_t position, const std::string& menuCallback,
                                  const std::string& menuEnableMethod, const std::string& hint) {
  return asBool("AddMenuItem2",
                callByName(app_.get(), "AddMenuItem2", Call::Method,
                           {i4(docType), i4(cookie), text(menuItem), i4(position), text(menuCallback),
                            text(menuEnableMethod), text(hint)}));
}

std::shared_ptr<host::Page> ComApplication::CreatePropertyManagerPage(
    const std::string& title, std::int32_t options, std::shared_ptr<host::PropertyManagerPage2Handler> handler,
    std::int32_t& errors) {
  if (!addin_.wrapHandler) throw host::HostError("CreatePropertyManagerPage", "no page handler class");
  ComPtr<IDispatch> handlerObject = addin_.wrapHandler(std::move(handler));
  LONG code = errors;
  const Variant page = callByName(app_.get(), "CreatePropertyManagerPage", Call::Method,
                                  {text(title), i4(options), Variant::ofDispatch(handlerObject.get()),
                                   Variant::refTo(&code)});
  errors = code;
  return wrap<ComPage>("CreatePropertyManagerPage", page);
}

}  // namespace kelvane::com

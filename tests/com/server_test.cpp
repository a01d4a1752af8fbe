// The DLL's COM classes, driven the way the host drives them: class factories and
// module counts, the add-in's callback names, and a whole session through the host
// faces over the simulated host, under Wine.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "com/boundary.h"
#include "com/dispatch.h"
#include "com/host_adapter.h"
#include "com_host/host_server.h"
#include "com/unknown.h"
#include "com/server.h"
#include "platform/windows_platform.h"
#include "sim/sim.h"

namespace kelvane::com {
namespace {

ULONG refs(IUnknown* p) {
  p->AddRef();
  return p->Release();
}

// The add-in's folder is this program's folder here, as the add-in runs inside it.
std::string programFolder() {
  return platform::WindowsPlatform(reinterpret_cast<std::uintptr_t>(GetModuleHandleW(nullptr))).ModuleFolder();
}

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_TRUE(module().canUnload()) << "a previous test leaked an object";
    ini_ = programFolder() + "\\Kelvane.ini";
    std::ofstream(std::filesystem::path(platform::utf8ToUtf16(ini_)), std::ios::binary)
        << "[Groups]\r\nPart\r\n[Part]\r\nPart Number;Part_No\r\n";
  }
  void TearDown() override {
    DeleteFileW(platform::utf8ToUtf16(ini_).c_str());
    EXPECT_TRUE(module().canUnload()) << "objects: " << module().objects << ", locks: " << module().locks;
    CoUninitialize();
  }

  static ComPtr<IClassFactory> factory(REFCLSID clsid) {
    ComPtr<IClassFactory> f;
    EXPECT_EQ(getClassObject(clsid, IID_IClassFactory, f.putVoid()), S_OK);
    return f;
  }

  static ComPtr<ISwAddin> newAddIn() {
    ComPtr<ISwAddin> addin;
    EXPECT_EQ(factory(CLSID_swAddIn)->CreateInstance(nullptr, IID_ISwAddin, addin.putVoid()), S_OK);
    return addin;
  }

  static DISPID idOf(IDispatch* object, const wchar_t* name) {
    std::wstring copy = name;
    LPOLESTR names[] = {copy.data()};
    DISPID id = DISPID_UNKNOWN;
    object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    return id;
  }

  std::string ini_;
};

TEST_F(ServerTest, ClassObjectsServeBothClassesAndRefuseOthers) {
  ComPtr<IUnknown> object;
  EXPECT_EQ(factory(CLSID_swAddIn)->CreateInstance(nullptr, IID__swAddIn, object.putVoid()), S_OK);
  EXPECT_EQ(factory(CLSID_swPropMgrHdlr)->CreateInstance(nullptr, IID_IPropertyManagerPage2Handler, object.putVoid()),
            S_OK);
  object.reset();

  ComPtr<IClassFactory> none;
  EXPECT_EQ(getClassObject(IID_IDispatch, IID_IClassFactory, none.putVoid()), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_FALSE(none);
  EXPECT_EQ(factory(CLSID_swAddIn)->CreateInstance(nullptr, IID_IClassFactory, object.putVoid()), E_NOINTERFACE);
  ComPtr<IUnknown> outer = newAddIn().query<IUnknown>();
  EXPECT_EQ(factory(CLSID_swAddIn)->CreateInstance(outer.get(), IID_IUnknown, object.putVoid()),
            CLASS_E_NOAGGREGATION);
}

TEST_F(ServerTest, ModuleMayUnloadOnlyWithoutObjectsAndLocks) {
  ComPtr<IClassFactory> f = factory(CLSID_swPropMgrHdlr);
  EXPECT_FALSE(module().canUnload()) << "a factory held by a client keeps the module";
  f->LockServer(TRUE);
  ComPtr<IUnknown> handler;
  f->CreateInstance(nullptr, IID_IUnknown, handler.putVoid());
  f.reset();
  EXPECT_EQ(module().objects, 1);
  handler.reset();
  EXPECT_FALSE(module().canUnload()) << "locked";
  factory(CLSID_swPropMgrHdlr)->LockServer(FALSE);
  EXPECT_TRUE(module().canUnload());
}

TEST_F(ServerTest, AddInAnswersEachInterfaceWithOneIdentity) {
  ComPtr<ISwAddin> addin = newAddIn();
  ComPtr<IUnknown> identity = addin.query<IUnknown>();
  for (REFIID iid : {IID_IDispatch, IID__swAddIn, IID_ISwAddin, IID_ISupportErrorInfo}) {
    ComPtr<IUnknown> face;
    ASSERT_EQ(addin->QueryInterface(iid, face.putVoid()), S_OK);
    EXPECT_EQ(face.query<IUnknown>().get(), identity.get());
  }
  ComPtr<IUnknown> none;
  EXPECT_EQ(addin->QueryInterface(IID_IPropertyManagerPage2Handler, none.putVoid()), E_NOINTERFACE);
  identity.reset();
  EXPECT_EQ(refs(addin.get()), 1u);
}

TEST_F(ServerTest, AddInResolvesTheCallbackNamesTheHostRegisters) {
  ComPtr<IDispatch> addin = newAddIn().query<IDispatch>();
  const std::vector<std::pair<const wchar_t*, DISPID>> names = {
      {L"DispPropMgr", 1},        {L"menuStatus", 2},          {L"swAddIn.menuStatus", 2},
      {L"MENUSTATUS", 2},         {L"swaddin.DispPropMgr", 1}, {L"swAddIn.", DISPID_UNKNOWN},
      {L"other.menuStatus", DISPID_UNKNOWN}, {L"ConnectToSW", DISPID_UNKNOWN}, {L"", DISPID_UNKNOWN},
  };
  for (const auto& [name, id] : names) EXPECT_EQ(idOf(addin.get(), name), id) << toUtf8(std::wstring_view(name));

  UINT count = 0;
  addin->GetTypeInfoCount(&count);
  EXPECT_EQ(count, 1u);
}

TEST_F(ServerTest, UnattachedPageHandlerFailsEveryEventWithItsReason) {
  ComPtr<IPropertyManagerPage2Handler> handler;
  ASSERT_EQ(factory(CLSID_swPropMgrHdlr)->CreateInstance(nullptr, IID_IPropertyManagerPage2Handler, handler.putVoid()),
            S_OK);
  VARIANT_BOOL handled = VARIANT_TRUE;
  const std::vector<std::function<HRESULT()>> events = {
      [&] { return handler->OnClose(1); },
      [&] { return handler->AfterClose(); },
      [&] { return handler->OnHelp(&handled); },
      [&] { return handler->OnTextboxChanged(1, nullptr); },
  };
  for (const auto& event : events) {
    EXPECT_EQ(event(), E_UNEXPECTED);
    EXPECT_EQ(takeErrorDescription(), "this page handler belongs to no add-in");
  }
  ComPtr<IDispatch> dispatch = handler.query<IDispatch>();
  EXPECT_EQ(idOf(dispatch.get(), L"OnClose"), DISPID_UNKNOWN) << "_swPropMgrHdlr has no members";
}

// The simulated host behind its IDispatch faces, holding what the add-in gives it.
struct ServedHost {
  std::shared_ptr<sim::SimHost> host = std::make_shared<sim::SimHost>();
  std::vector<std::shared_ptr<AddinObject>> held;
  ComPtr<IDispatch> app = serveApplication(host, [this](std::shared_ptr<AddinObject> o) { held.push_back(o); });

  ~ServedHost() {
    for (auto& o : held) o->detach();
  }
};

TEST_F(ServerTest, SessionThroughComReachesTheSimulatedHost) {
  ServedHost served;
  auto doc = served.host->newDocument();
  doc->title = "Plate.SLDPRT";
  doc->addConfiguration("Default");
  served.host->activeDocument = doc;
  {
    ComPtr<ISwAddin> addin = newAddIn();
    VARIANT_BOOL connected = VARIANT_FALSE;
    ASSERT_EQ(addin->ConnectToSW(served.app.get(), 7, &connected), S_OK) << takeErrorDescription();
    EXPECT_EQ(connected, VARIANT_TRUE);

    ASSERT_EQ(served.host->menu.size(), 2u);
    EXPECT_EQ(served.host->menu[0].path, "Kelvane 1.1@Tools");
    EXPECT_EQ(served.host->menu[1].cookie, 7);
    ASSERT_TRUE(served.host->callbacks);
    EXPECT_EQ(served.host->callbacks->cookie, 7);
    ASSERT_TRUE(served.host->page);
    EXPECT_EQ(served.host->page->title, "Kelvane 1.1");
    EXPECT_EQ(served.host->menuStatusNow(), 1);

    // The menu command by name, then the page's events through the handler's vtable.
    ASSERT_EQ(served.host->pickMenu(), sim::SimHost::MenuResult::Ran);
    ASSERT_TRUE(served.host->page->shown);
    EXPECT_EQ(served.host->menuStatusNow(), 0);
    ASSERT_TRUE(served.host->typeText(0, "A-100 Grüße"));
    ASSERT_TRUE(served.host->help());
    ASSERT_TRUE(served.host->closePage(1));
    EXPECT_EQ(doc->properties.get("Part_No"), "A-100 Grüße");
    EXPECT_EQ(served.host->menu[0].enableCallback, "swAddIn.menuStatus");
    EXPECT_EQ(served.host->menuStatusNow(), 1);
    EXPECT_EQ(served.host->statusTexts.back(), "Thank you for using Kelvane");

    VARIANT_BOOL disconnected = VARIANT_FALSE;
    ASSERT_EQ(addin->DisconnectFromSW(&disconnected), S_OK);
    EXPECT_EQ(disconnected, VARIANT_TRUE);
    EXPECT_TRUE(served.host->menu.empty());
  }
  // The host still holds the page and its handler; the add-in lives on until it lets go.
  EXPECT_FALSE(module().canUnload());
  served.host->page.reset();
  served.held.clear();
  EXPECT_TRUE(module().canUnload());
}

TEST_F(ServerTest, FailedConnectionNamesTheMemberAndKeepsEarlierSteps) {
  ServedHost served;
  served.host->faults->failNext("create-page");
  ComPtr<ISwAddin> addin = newAddIn();
  VARIANT_BOOL connected = VARIANT_TRUE;
  EXPECT_EQ(addin->ConnectToSW(served.app.get(), 1, &connected), E_FAIL);
  EXPECT_EQ(connected, VARIANT_FALSE);
  EXPECT_EQ(takeErrorDescription(),
            "host operation failed: create-page: CreatePropertyManagerPage: host operation failed: create-page");
  EXPECT_EQ(served.host->menu.size(), 2u);
  EXPECT_EQ(addin->ConnectToSW(nullptr, 1, &connected), E_INVALIDARG);
  EXPECT_EQ(addin->ConnectToSW(served.app.get(), 1, nullptr), E_POINTER);
  takeErrorDescription();
}

// The simulated host's application, whose look-up of one member name answers `lookup`
// (an older host, which does not know the name, or a broken one).
class HostWithout final : public Unknown<IDispatch> {
 public:
  HostWithout(ComPtr<IDispatch> inner, const wchar_t* name, HRESULT lookup)
      : inner_(std::move(inner)), name_(name), lookup_(lookup) {}

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return inner_->GetTypeInfoCount(count); }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override {
    return inner_->GetTypeInfo(index, lcid, info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override {
    if (count == 1 && sameName(names[0], name_)) {
      ids[0] = DISPID_UNKNOWN;
      return lookup_;
    }
    return inner_->GetIDsOfNames(iid, names, count, lcid, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* info, UINT* argError) override {
    return inner_->Invoke(id, iid, lcid, flags, params, result, info, argError);
  }

 private:
  ComPtr<IDispatch> inner_;
  const wchar_t* name_;
  HRESULT lookup_;
};

TEST_F(ServerTest, RegistersTheWholeModuleHandleUnlessTheHostKnowsOnlyTheOldCall) {
  // The add-in's module is this program here, which a 64-bit system loads above 4 GiB.
  module().instance = GetModuleHandleW(nullptr);
  struct Reset {
    ~Reset() { module().instance = nullptr; }
  } reset;
  const auto whole = reinterpret_cast<std::uintptr_t>(module().instance);
  ASSERT_GT(whole, 0xFFFFFFFFu) << "a handle that 32 bits cannot hold";
  struct Case {
    const char* host;
    HRESULT lookup;  // of SetAddinCallbackInfo2; S_OK: the simulated host's own answer
    std::optional<std::uintptr_t> registered;
  };
  const Case cases[] = {
      {"current", S_OK, whole},
      {"without SetAddinCallbackInfo2", DISP_E_UNKNOWNNAME, whole & 0xFFFFFFFFu},
      {"failing the look-up", E_OUTOFMEMORY, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host);
    ServedHost served;
    served.host->activeDocument = served.host->newDocument();
    served.host->activeDocument->addConfiguration("Default");
    ComPtr<IDispatch> app =
        c.lookup == S_OK ? served.app
                         : ComPtr<IDispatch>::adopt((new HostWithout(served.app, L"SetAddinCallbackInfo2", c.lookup))
                                                        ->primary());
    {
      ComPtr<ISwAddin> addin = newAddIn();
      VARIANT_BOOL done = VARIANT_FALSE;
      const HRESULT hr = addin->ConnectToSW(app.get(), 5, &done);
      const std::string error = takeErrorDescription();
      if (c.registered) {
        ASSERT_EQ(hr, S_OK) << error;
        ASSERT_TRUE(served.host->callbacks);
        EXPECT_EQ(served.host->callbacks->moduleHandle, *c.registered);
        EXPECT_EQ(served.host->callbacks->cookie, 5);
        EXPECT_EQ(served.host->pickMenu(), sim::SimHost::MenuResult::Ran) << "the callbacks reach the add-in";
        ASSERT_TRUE(served.host->closePage(2));
        EXPECT_EQ(addin->DisconnectFromSW(&done), S_OK);
      } else {
        EXPECT_EQ(hr, E_FAIL);
        EXPECT_THAT(error, ::testing::StartsWith("host operation failed: register-callbacks: SetAddinCallbackInfo2"));
        EXPECT_FALSE(served.host->callbacks) << "the obsolete call is only for a host that does not know the name";
      }
    }
    served.host->page.reset();
    served.held.clear();
  }
}

// Counts the calls that reach a host object and every object it hands out.
struct CallCounts {
  std::map<std::pair<int, std::wstring>, int> lookups;  // (object, name) -> GetIDsOfNames
  int objects = 0;
  int lookupTotal = 0;
  int invokes = 0;
};

class CountingHost final : public Unknown<IDispatch> {
 public:
  // Numbered, as a freed object's address may come back for the next one.
  CountingHost(ComPtr<IDispatch> inner, CallCounts& counts)
      : inner_(std::move(inner)), counts_(counts), serial_(++counts.objects) {}

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return inner_->GetTypeInfoCount(count); }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override {
    return inner_->GetTypeInfo(index, lcid, info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override {
    ++counts_.lookups[{serial_, names[0]}];
    ++counts_.lookupTotal;
    return inner_->GetIDsOfNames(iid, names, count, lcid, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* info, UINT* argError) override {
    ++counts_.invokes;
    const HRESULT hr = inner_->Invoke(id, iid, lcid, flags, params, result, info, argError);
    if (SUCCEEDED(hr) && result && result->vt == VT_DISPATCH && result->pdispVal) {
      ComPtr<IDispatch> inner = ComPtr<IDispatch>::adopt(result->pdispVal);
      result->pdispVal = (new CountingHost(std::move(inner), counts_))->primary();
    }
    return hr;
  }

 private:
  ComPtr<IDispatch> inner_;
  CallCounts& counts_;
  int serial_;
};

TEST_F(ServerTest, AddInLooksUpEachMemberOncePerHostObject) {
  // An edit that a composite field follows, so that it calls the host.
  std::ofstream(std::filesystem::path(platform::utf8ToUtf16(ini_)), std::ios::binary)
      << "[Groups]\r\nPart\r\n[Part]\r\nPart Number;Part_No\r\nCode;;<Part Number!-!X>\r\n";
  ServedHost served;
  auto doc = served.host->newDocument();
  doc->addConfiguration("Default");
  served.host->activeDocument = doc;
  CallCounts counts;
  ComPtr<IDispatch> app = ComPtr<IDispatch>::adopt((new CountingHost(served.app, counts))->primary());
  {
    ComPtr<ISwAddin> addin = newAddIn();
    VARIANT_BOOL done = VARIANT_FALSE;
    ASSERT_EQ(addin->ConnectToSW(app.get(), 1, &done), S_OK) << takeErrorDescription();
    // The calls of one opening and of one edit, for the performance notes (reported in
    // the test's XML output); natively the simulated host counts its own calls.
    auto record = [&](const char* step, const auto& body) {
      const CallCounts before = counts;
      served.host->faults->calls.clear();
      body();
      RecordProperty(std::string(step) + "_host_calls", static_cast<int>(served.host->faults->calls.size()));
      RecordProperty(std::string(step) + "_invokes", counts.invokes - before.invokes);
      RecordProperty(std::string(step) + "_lookups", counts.lookupTotal - before.lookupTotal);
      EXPECT_GT(counts.invokes - before.invokes, counts.lookupTotal - before.lookupTotal)
          << step << ": the application, the page, its groups and controls are asked for a name once";
    };
    record("opening", [&] { ASSERT_EQ(served.host->pickMenu(), sim::SimHost::MenuResult::Ran); });
    record("edit", [&] { ASSERT_TRUE(served.host->typeText(0, "A-100")); });
    ASSERT_TRUE(served.host->closePage(1));
    EXPECT_EQ(doc->properties.get("Part_No"), "A-100");
    ASSERT_EQ(addin->DisconnectFromSW(&done), S_OK);
  }
  for (const auto& [key, n] : counts.lookups) EXPECT_EQ(n, 1) << toUtf8(key.second);
  served.host->page.reset();
  served.held.clear();
}

TEST_F(ServerTest, HostAdapterNamesEachFailedOperationAsTheSimulatedHostDoes) {
  ServedHost served;
  auto simDoc = served.host->newDocument();
  simDoc->addConfiguration("Default");
  served.host->activeDocument = simDoc;
  AddinObjects objects;
  objects.wrapHandler = [](std::shared_ptr<host::PropertyManagerPage2Handler>) {
    ComPtr<IDispatch> handler;
    EXPECT_EQ(createPageHandler(IID_IDispatch, handler.putVoid()), S_OK);
    return handler;
  };
  ComApplication app(served.app, std::move(objects));
  std::int32_t errors = 0;
  auto page = app.CreatePropertyManagerPage("Kelvane 1.1", 7, nullptr, errors);
  auto group = page->AddGroupBox(1, "Part", 12);
  auto box = group->AddControl(1, host::code::kKindTextbox, "", 2, 7, "Name");
  auto combo = group->AddControl(2, host::code::kKindCombobox, "", 2, 7, "Kind");
  auto check = group->AddControl(3, host::code::kKindCheckbox, "Use", 2, 7, "Use");
  combo->AddItems("A");
  auto doc = app.ActiveDoc();
  auto configuration = doc->GetActiveConfiguration();

  const std::vector<std::pair<std::string, std::function<void()>>> cases = {
      {"active-document", [&] { app.ActiveDoc(); }},
      {"frame", [&] { app.GetFrame(); }},
      {"set-status-bar-text", [&] { app.GetFrame()->SetStatusBarText("x"); }},
      {"remove-menu-item", [&] { app.RemoveMenu(1, "p", "c"); }},
      {"menu-name", [&] { app.GetLocalizedMenuName(4); }},
      {"add-menu-item", [&] { app.AddMenuItem2(1, 1, "p", 0, "c", "e", "h"); }},
      {"create-page", [&] { app.CreatePropertyManagerPage("t", 7, nullptr, errors); }},
      {"add-custom-property", [&] { doc->AddCustomInfo3("", "a", 30, "v"); }},
      {"get-custom-property", [&] { doc->GetCustomInfo2("", "a"); }},
      {"set-custom-property", [&] { doc->SetCustomInfo2("", "a", "v"); }},
      {"delete-custom-property", [&] { doc->DeleteCustomInfo2("", "a"); }},
      {"get-configuration-count", [&] { doc->GetConfigurationCount(); }},
      {"get-configuration-names", [&] { doc->GetConfigurationNames(); }},
      {"get-active-configuration", [&] { doc->GetActiveConfiguration(); }},
      {"configuration-name", [&] { configuration->Name(); }},
      {"get-title", [&] { doc->GetTitle(); }},
      {"get-user-preference-double", [&] { doc->GetUserPreferenceDoubleValue(7); }},
      {"add-group", [&] { page->AddGroupBox(2, "g", 12); }},
      {"show-page", [&] { page->Show(); }},
      {"close-page", [&] { page->Close(true); }},
      {"add-control", [&] { group->AddControl(5, host::code::kKindTextbox, "", 2, 7, "t"); }},
      {"set-checked", [&] { check->SetChecked(true); }},
      {"set-enabled", [&] { combo->SetEnabled(true); }},
      {"add-items", [&] { combo->AddItems("B"); }},
      {"get-current-selection", [&] { combo->GetCurrentSelection(); }},
      {"set-current-selection", [&] { combo->SetCurrentSelection(0); }},
      {"item-text", [&] { combo->ItemText(0); }},
      {"get-text", [&] { box->GetText(); }},
      {"set-text", [&] { box->SetText("x"); }},
  };
  for (const auto& [operation, call] : cases) {
    served.host->faults->failNext(operation);
    try {
      call();
      ADD_FAILURE() << operation << ": no error";
    } catch (const host::HostError& e) {
      EXPECT_EQ(e.operation(), operation);
    }
    served.host->faults->clear();
  }
  served.host->page.reset();
}

// A host whose document answers its configuration names as an array of VARIANTs.
class VariantNamesHost : public DispatchServer {
 public:
  VariantNamesHost() {
    member(L"ActiveDoc", [](Call, Args&) { return Variant::ofDispatch(makeServer<Document>().get()); });
  }
  class Document : public DispatchServer {
   public:
    Document() {
      member(L"GetConfigurationNames", [](Call, Args&) {
        SafeArray array = SafeArray::adopt(SafeArrayCreateVector(VT_VARIANT, 0, 2));
        const char* names[] = {"Default", "Long"};
        for (LONG i = 0; i < 2; ++i) {
          Variant item = Variant::ofString(names[i]);
          SafeArrayPutElement(array.get(), &i, item.get());
        }
        Variant v;
        v.get()->vt = VT_ARRAY | VT_VARIANT;
        v.get()->parray = array.detach();
        return v;
      });
      member(L"GetConfigurationCount", [](Call, Args&) { return Variant::ofString("not a number"); });
    }
  };
};

TEST_F(ServerTest, HostAdapterConvertsTheHostsAnswers) {
  ComApplication app(makeServer<VariantNamesHost>(), {});
  auto doc = app.ActiveDoc();
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->GetConfigurationNames(), (std::vector<std::string>{"Default", "Long"}));
  try {
    doc->GetConfigurationCount();
    ADD_FAILURE();
  } catch (const host::HostError& e) {
    EXPECT_EQ(e.operation(), "get-configuration-count") << "named as the simulated host names it";
  }
  EXPECT_THROW(doc->GetTitle(), host::HostError);
  struct Target : host::CallbackTarget {
    std::int32_t InvokeByName(const std::string&) override { return 0; }
  } foreign;
  EXPECT_THROW(app.SetAddinCallbackInfo(1, foreign, 1), host::HostError) << "only the add-in's own object";
}

}  // namespace
}  // namespace kelvane::com

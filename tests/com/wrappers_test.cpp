// The COM wrappers, late binding both ways, and the exception boundary, under Wine.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "com/boundary.h"
#include "com/dispatch.h"
#include "com/wrappers.h"
#include "host/host.h"

namespace kelvane::com {
namespace {

// The reference count of `p` apart from the probe's own.
ULONG refs(IUnknown* p) {
  p->AddRef();
  return p->Release();
}

class ComTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
  void TearDown() override { CoUninitialize(); }
};

// A served object that records what its members receive.
class Recorder : public DispatchServer {
 public:
  std::vector<std::string> calls;

  Recorder() {
    member(L"Join", [this](Call kind, Args& args) {
      std::string joined = kind == Call::Put ? "put:" : "call:";
      for (VARIANT* a : args) joined += Variant::copyOf(*a).toString() + ",";
      calls.push_back(joined);
      return Variant::ofString(joined);
    });
    member(L"Fail", [](Call, Args&) -> Variant { throw std::runtime_error("the member failed"); });
    member(L"Keep", [this](Call, Args& args) {
      kept = Variant::copyOf(*args.at(0));
      return Variant();
    });
    member(L"WriteBack", [](Call, Args& args) {
      *args.at(0)->plVal = 42;
      return Variant();
    });
  }
  Variant kept;
};

TEST_F(ComTest, ComPtrSharesAdoptsAndReleasesExactlyOnce) {
  ComPtr<IDispatch> owner = makeServer<Recorder>();
  IDispatch* raw = owner.get();
  ASSERT_EQ(refs(raw), 1u);
  {
    ComPtr<IDispatch> shared(raw);
    EXPECT_EQ(refs(raw), 2u);
    ComPtr<IDispatch> copy = shared;
    EXPECT_EQ(refs(raw), 3u);
    ComPtr<IDispatch> moved = std::move(copy);
    EXPECT_EQ(refs(raw), 3u);
    EXPECT_FALSE(copy);
    moved = shared;  // self-type assignment: one reference swapped for another
    EXPECT_EQ(refs(raw), 3u);
    raw->AddRef();
    ComPtr<IDispatch> adopted = ComPtr<IDispatch>::adopt(raw);
    EXPECT_EQ(refs(raw), 4u);
    IDispatch* detached = adopted.detach();
    EXPECT_EQ(refs(raw), 4u);
    detached->Release();
  }
  EXPECT_EQ(refs(raw), 1u);
}

TEST_F(ComTest, QueryAnswersNullForAMissingInterfaceAndCountsAFoundOne) {
  ComPtr<IDispatch> object = makeServer<Recorder>();
  EXPECT_FALSE(object.query<IClassFactory>());
  {
    ComPtr<IUnknown> unknown = object.query<IUnknown>();
    ASSERT_TRUE(unknown);
    EXPECT_EQ(refs(object.get()), 2u);
  }
  EXPECT_EQ(refs(object.get()), 1u);
}

TEST_F(ComTest, BstrCarriesUtf8ThroughUtf16Unchanged) {
  const std::vector<std::string> texts = {
      "", "Part Number", "Grüße ½ €", "A-100\tTab", std::string("nul\0inside", 10), "\xF0\x9F\x94\xA7 wrench",
  };
  for (const std::string& text : texts) {
    Bstr b(text);
    EXPECT_EQ(b.utf8(), text);
    EXPECT_EQ(Bstr(b).utf8(), text);  // the copy is a second BSTR
    EXPECT_EQ(Variant::ofString(text).toString(), text);
  }
  EXPECT_EQ(toUtf8(static_cast<BSTR>(nullptr)), "");
  EXPECT_EQ(toUtf16("\xF0\x9F\x94\xA7").size(), 2u);  // a surrogate pair
}

TEST_F(ComTest, VariantConvertsAsAutomationDoes) {
  EXPECT_TRUE(Variant::ofInt16(-1).toBool());
  EXPECT_FALSE(Variant::ofInt32(0).toBool());
  EXPECT_EQ(Variant::ofBool(true).toInt32(), -1);
  EXPECT_EQ(Variant::ofBool(false).toInt16(), 0);
  EXPECT_EQ(Variant::ofString("12").toInt32(), 12);
  EXPECT_EQ(Variant::ofInt32(-32768).toInt16(), -32768);
  EXPECT_DOUBLE_EQ(Variant::ofInt32(7850).toDouble(), 7850.0);
  EXPECT_EQ(Variant::ofInt16(5).toString(), "5");
  EXPECT_EQ(Variant().toString(), "");
  EXPECT_FALSE(Variant().toDispatch());
}

TEST_F(ComTest, VariantThatDoesNotConvertThrowsComErrorWithTheHresult) {
  struct Case {
    const char* name;
    Variant value;
    HRESULT hr;
    bool (*convert)(const Variant&);
  };
  const std::vector<Case> cases = {
      {"text to long", Variant::ofString("x"), DISP_E_TYPEMISMATCH, [](const Variant& v) { return v.toInt32() != 0; }},
      {"long to short", Variant::ofInt32(70000), DISP_E_OVERFLOW, [](const Variant& v) { return v.toInt16() != 0; }},
      {"text to object", Variant::ofString("x"), DISP_E_TYPEMISMATCH, [](const Variant& v) { return !!v.toDispatch(); }},
  };
  for (const Case& c : cases) {
    try {
      c.convert(c.value);
      ADD_FAILURE() << c.name << ": no error";
    } catch (const ComError& e) {
      EXPECT_EQ(e.hr(), c.hr) << c.name;
    }
  }
}

TEST_F(ComTest, VariantHoldsOneReferenceToItsObject) {
  ComPtr<IDispatch> object = makeServer<Recorder>();
  {
    Variant v = Variant::ofDispatch(object.get());
    EXPECT_EQ(refs(object.get()), 2u);
    Variant copy = v;
    EXPECT_EQ(refs(object.get()), 3u);
    Variant moved = std::move(copy);
    EXPECT_EQ(refs(object.get()), 3u);
    ComPtr<IDispatch> back = v.toDispatch();
    EXPECT_EQ(back.get(), object.get());
    EXPECT_EQ(refs(object.get()), 4u);
  }
  EXPECT_EQ(refs(object.get()), 1u);
}

TEST_F(ComTest, StringArraysReadAsBstrOrVariantElements) {
  const std::vector<std::string> names = {"Default", "Long", "Grün"};
  EXPECT_EQ(Variant::ofStrings(names).toStrings(), names);
  EXPECT_TRUE(Variant::ofStrings({}).toStrings().empty());
  EXPECT_EQ(Variant::ofString("single").toStrings(), std::vector<std::string>{"single"});

  // The host may answer an array of VARIANTs instead.
  SafeArray array = SafeArray::adopt(SafeArrayCreateVector(VT_VARIANT, 1, 2));  // lower bound 1
  for (LONG i = 1; i <= 2; ++i) {
    Variant item = Variant::ofString(names[static_cast<std::size_t>(i - 1)]);
    ASSERT_EQ(SafeArrayPutElement(array.get(), &i, item.get()), S_OK);
  }
  Variant v;
  v.get()->vt = VT_ARRAY | VT_VARIANT;
  v.get()->parray = array.detach();
  EXPECT_EQ(v.toStrings(), (std::vector<std::string>{"Default", "Long"}));
}

TEST_F(ComTest, CallByNamePassesArgumentsInWrittenOrderAndAPutValueLast) {
  ComPtr<IDispatch> object = makeServer<Recorder>();
  auto* recorder = static_cast<Recorder*>(object.get());
  EXPECT_EQ(callByName(object.get(), "call-member", "Join", Call::Method,
                       {Variant::ofString("a"), Variant::ofInt32(2), Variant::ofInt16(3)})
                .toString(),
            "call:a,2,3,");
  callByName(object.get(), "call-member", "join", Call::Put, {Variant::ofString("key"), Variant::ofString("value")});
  EXPECT_EQ(recorder->calls, (std::vector<std::string>{"call:a,2,3,", "put:key,value,"}));
}

TEST_F(ComTest, CallByNameWritesOutArgumentsBack) {
  ComPtr<IDispatch> object = makeServer<Recorder>();
  LONG out = 0;
  callByName(object.get(), "call-member", "WriteBack", Call::Method, {Variant::refTo(&out)});
  EXPECT_EQ(out, 42);
}

TEST_F(ComTest, CallByNameFailureIsHostErrorNamingTheOperationAndMember) {
  ComPtr<IDispatch> object = makeServer<Recorder>();
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Fail", "host operation failed: call-member: Fail: the member failed"},
      {"Missing", "host operation failed: call-member: Missing: unknown member (0x80020006)"},
  };
  for (const auto& [member, message] : cases) {
    try {
      callByName(object.get(), "call-member", member, Call::Method);
      ADD_FAILURE() << member;
    } catch (const host::HostError& e) {
      EXPECT_EQ(e.operation(), "call-member");
      EXPECT_STREQ(e.what(), message.c_str());
    }
  }
  EXPECT_THROW(callByName(nullptr, "call-member", "Frame", Call::Method), host::HostError);
}

TEST_F(ComTest, CallByNameLeavesNoReferenceBehind) {
  ComPtr<IDispatch> object = makeServer<Recorder>();
  ComPtr<IDispatch> argument = makeServer<Recorder>();
  for (int i = 0; i < 3; ++i) {
    callByName(object.get(), "call-member", "Join", Call::Method, {Variant::ofString("x")});
    EXPECT_THROW(callByName(object.get(), "call-member", "Fail", Call::Method, {Variant::ofDispatch(argument.get())}),
                 host::HostError);
  }
  EXPECT_EQ(refs(object.get()), 1u);
  EXPECT_EQ(refs(argument.get()), 1u);
  // A member that keeps its argument holds exactly one reference.
  callByName(object.get(), "call-member", "Keep", Call::Method, {Variant::ofDispatch(argument.get())});
  EXPECT_EQ(refs(argument.get()), 2u);
  static_cast<Recorder*>(object.get())->kept = Variant();
  EXPECT_EQ(refs(argument.get()), 1u);
}

TEST_F(ComTest, ServedObjectRefusesBadCallsWithTheirHresults) {
  ComPtr<IDispatch> object = makeServer<Recorder>();
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXCEPINFO info{};
  EXPECT_EQ(object->Invoke(99, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, &info, nullptr), DISP_E_MEMBERNOTFOUND);
  Variant value = Variant::ofString("v");
  DISPPARAMS putWithoutName{value.get(), nullptr, 1, 0};
  EXPECT_EQ(object->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYPUT, &putWithoutName, nullptr, &info, nullptr),
            DISP_E_PARAMNOTOPTIONAL);
  wchar_t name[] = L"Nothing";
  LPOLESTR names[] = {name};
  DISPID id = 0;
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);
}

TEST_F(ComTest, BoundaryTurnsEachExceptionIntoAnHresultAndErrorInfo) {
  struct Case {
    const char* name;
    void (*raise)();
    HRESULT hr;
    const char* description;
  };
  const std::vector<Case> cases = {
      {"com", [] { throw ComError(E_INVALIDARG, "bad argument"); }, E_INVALIDARG, "bad argument"},
      {"host", [] { throw host::HostError("Frame", "gone"); }, E_FAIL, "host operation failed: Frame: gone"},
      {"memory", [] { throw std::bad_alloc(); }, E_OUTOFMEMORY, "out of memory"},
      {"other", [] { throw 42; }, E_FAIL, "unknown error"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(guarded(IID_IDispatch, c.raise), c.hr) << c.name;
    EXPECT_EQ(takeErrorDescription(), c.description) << c.name;
    EXPECT_EQ(takeErrorDescription(), "") << c.name << ": taken once";
  }
  EXPECT_EQ(guarded(IID_IDispatch, [] {}), S_OK);
}

TEST_F(ComTest, BoundaryFillsExcepinfoForInvoke) {
  EXCEPINFO info{};
  const HRESULT hr = guardedHr(IID_IDispatch, &info, []() -> HRESULT { throw std::runtime_error("Grüße"); });
  EXPECT_EQ(hr, DISP_E_EXCEPTION);
  EXPECT_EQ(info.scode, E_FAIL);
  EXPECT_EQ(toUtf8(info.bstrDescription), "Grüße");
  EXPECT_EQ(toUtf8(info.bstrSource), "Kelvane");
  SysFreeString(info.bstrDescription);
  SysFreeString(info.bstrSource);
  takeErrorDescription();
}

}  // namespace
}  // namespace kelvane::com

// Late binding, both ways. Dispatcher and callByName() are the client: they call a
// member of a host object by name, as the host's dual interfaces allow. DispatchServer
// is the server: an IDispatch whose members are looked up by name in a table of
// handlers.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "com/unknown.h"
#include "com/wrappers.h"

namespace kelvane::com {

enum class Call : WORD {
  Method = DISPATCH_METHOD | DISPATCH_PROPERTYGET,  // as Automation clients call methods
  Get = DISPATCH_PROPERTYGET,
  Put = DISPATCH_PROPERTYPUT,
};

// One host object reached by name. Each member name is looked up (GetIDsOfNames) once
// per object and its DISPID kept, so repeated calls cost one round trip each.
class Dispatcher {
 public:
  explicit Dispatcher(ComPtr<IDispatch> object) : object_(std::move(object)) {}

  // Calls member `name` with `args` in their written order (for a put, the new value
  // last) and answers the result. Any failure throws host::HostError(operation) whose
  // detail names the member and carries the callee's error description. `name` is
  // kept as given, so it must outlive the object: a string literal.
  Variant call(const char* operation, const char* name, Call kind, std::vector<Variant> args = {});
  // Whether the object has member `name`: false only when it answers that it does not
  // know the name (DISP_E_UNKNOWNNAME); any other failure throws as call() does.
  bool knows(const char* operation, const char* name);

 private:
  DISPID idOf(const char* name);

  ComPtr<IDispatch> object_;
  std::vector<std::pair<const char*, DISPID>> ids_;  // by name; the names are literals, kept by pointer
};

// A single call by name on an object that is not kept: looks the member up each time.
Variant callByName(IDispatch* object, const char* operation, const std::string& name, Call kind,
                   std::vector<Variant> args = {});

// True when two member names match as Automation matches them (ignoring case).
bool sameName(const wchar_t* a, const wchar_t* b);

class DispatchServer : public Unknown<IDispatch> {
 public:
  // The arguments in their written order; for a put, the new value last. An
  // out-argument arrives as a VT_BYREF VARIANT.
  using Args = std::vector<VARIANT*>;
  using Handler = std::function<Variant(Call kind, Args& args)>;

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* info, UINT* argError) override;

 protected:
  DispatchServer() = default;
  virtual ~DispatchServer() = default;
  // Adds a member; its DISPID is its position in the table, from 1.
  void member(std::wstring name, Handler handler);

  // Throws ComError(DISP_E_BADPARAMCOUNT) unless there are `count` arguments.
  static void expectArgs(const Args& args, std::size_t count);

 private:
  std::vector<std::pair<std::wstring, Handler>> members_;
};

// Creates a DispatchServer-derived object; the caller owns its one reference.
template <class T, class... A>
ComPtr<IDispatch> makeServer(A&&... args) {
  return ComPtr<IDispatch>::adopt(new T(std::forward<A>(args)...));
}

}  // namespace kelvane::com

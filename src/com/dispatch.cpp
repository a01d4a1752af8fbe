#include "com/dispatch.h"

#include <cstring>
#include <optional>

#include "com/boundary.h"
#include "host/host.h"

namespace kelvane::com {

namespace {

// The callee's own words when it gave any, else the HRESULT.
std::string failureText(HRESULT hr, EXCEPINFO& info) {
  if (hr == DISP_E_EXCEPTION) {
    if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
    Bstr source = Bstr::adopt(info.bstrSource);
    Bstr description = Bstr::adopt(info.bstrDescription);
    Bstr help = Bstr::adopt(info.bstrHelpFile);
    const HRESULT code = info.scode ? info.scode : static_cast<HRESULT>(info.wCode);
    const std::string text = description.utf8();
    return text.empty() ? hresultText(code) : text;
  }
  return errorText(hr);
}

// The member's DISPID, or none when the object does not know the name.
std::optional<DISPID> find(IDispatch* object, const std::string& name) {
  std::wstring wideName = toUtf16(name);
  LPOLESTR names[] = {wideName.data()};
  DISPID id = DISPID_UNKNOWN;
  const HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (hr == DISP_E_UNKNOWNNAME) return std::nullopt;
  if (FAILED(hr)) throw ComError(hr, "unknown member (" + hresultText(hr) + ")");
  return id;
}

DISPID lookUp(IDispatch* object, const std::string& name) {
  const auto id = find(object, name);
  if (!id) throw ComError(DISP_E_UNKNOWNNAME, "unknown member (" + hresultText(DISP_E_UNKNOWNNAME) + ")");
  return *id;
}

Variant invoke(IDispatch* object, DISPID id, Call kind, std::vector<Variant>& args) {
  // DISPPARAMS wants the arguments last to first.
  std::vector<VARIANT> reversed;
  reversed.reserve(args.size());
  for (auto it = args.rbegin(); it != args.rend(); ++it) reversed.push_back(*it->get());
  DISPID putId = DISPID_PROPERTYPUT;
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  if (kind == Call::Put) {
    params.rgdispidNamedArgs = &putId;
    params.cNamedArgs = 1;
  }
  Variant result;
  EXCEPINFO info{};
  UINT argError = 0;
  const HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, static_cast<WORD>(kind), &params,
                                    kind == Call::Put ? nullptr : result.put(), &info, &argError);
  // `reversed` only borrowed the VARIANTs of `args`, which still own them.
  if (FAILED(hr)) throw ComError(hr, failureText(hr, info));
  return result;
}

// The core sees a failed member as a failed host operation.
template <class Body>
Variant asOperation(const char* operation, const std::string& name, Body&& body) {
  try {
    return body();
  } catch (const ComError& e) {
    throw host::HostError(operation, name + ": " + e.what());
  }
}

}  // namespace

bool sameName(const wchar_t* a, const wchar_t* b) {
  return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

Variant Dispatcher::call(const char* operation, const char* name, Call kind, std::vector<Variant> args) {
  return asOperation(operation, name, [&] {
    if (!object_) throw ComError(E_POINTER, "no object");
    return invoke(object_.get(), idOf(name), kind, args);
  });
}

bool Dispatcher::knows(const char* operation, const char* name) {
  for (const auto& entry : ids_) {
    if (std::strcmp(entry.first, name) == 0) return true;
  }
  bool found = false;
  asOperation(operation, name, [&] {
    if (!object_) throw ComError(E_POINTER, "no object");
    const auto id = find(object_.get(), name);
    if (id) ids_.emplace_back(name, *id);
    found = id.has_value();
    return Variant();
  });
  return found;
}

DISPID Dispatcher::idOf(const char* name) {
  for (const auto& [known, id] : ids_) {
    if (std::strcmp(known, name) == 0) return id;
  }
  const DISPID id = lookUp(object_.get(), name);
  ids_.emplace_back(name, id);
  return id;
}

Variant callByName(IDispatch* object, const char* operation, const std::string& name, Call kind,
                   std::vector<Variant> args) {
  return asOperation(operation, name, [&] {
    if (!object) throw ComError(E_POINTER, "no object");
    return invoke(object, lookUp(object, name), kind, args);
  });
}

HRESULT DispatchServer::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT DispatchServer::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return DISP_E_BADINDEX;
}

HRESULT DispatchServer::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!names || !ids) return E_POINTER;
  if (count == 0) return S_OK;
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  for (std::size_t m = 0; m < members_.size(); ++m) {
    if (sameName(names[0], members_[m].first.c_str())) {
      ids[0] = static_cast<DISPID>(m + 1);
      return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;  // named arguments are not served
    }
  }
  return DISP_E_UNKNOWNNAME;
}

HRESULT DispatchServer::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                               VARIANT* result, EXCEPINFO* info, UINT*) {
  if (id < 1 || static_cast<std::size_t>(id) > members_.size()) return DISP_E_MEMBERNOTFOUND;
  if (!params) return E_POINTER;
  const bool put = flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF);
  const UINT named = params->cNamedArgs;
  if (named > (put ? 1u : 0u)) return DISP_E_NONAMEDARGS;
  if (put && (named != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)) return DISP_E_PARAMNOTOPTIONAL;
  return guardedHr(IID_IDispatch, info, [&] {
    // Positional arguments arrive last to first, after the named put value.
    Args args;
    for (UINT i = params->cArgs; i > named; --i) args.push_back(&params->rgvarg[i - 1]);
    if (put) args.push_back(&params->rgvarg[0]);
    const Call kind = put ? Call::Put : (flags & DISPATCH_METHOD) ? Call::Method : Call::Get;
    Variant answer = members_[static_cast<std::size_t>(id - 1)].second(kind, args);
    if (result) *result = answer.detach();
    return S_OK;
  });
}

void DispatchServer::member(std::wstring name, Handler handler) {
  members_.emplace_back(std::move(name), std::move(handler));
}

void DispatchServer::expectArgs(const Args& args, std::size_t count) {
  if (args.size() != count) {
    throw ComError(DISP_E_BADPARAMCOUNT, "expected " + std::to_string(count) + " arguments, got " +
                                             std::to_string(args.size()));
  }
}

}  // namespace kelvane::com

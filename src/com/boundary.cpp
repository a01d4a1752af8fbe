#include "com/boundary.h"

#include <new>
#include <stdexcept>

#include "com/wrappers.h"

namespace kelvane::com {

namespace {

constexpr const wchar_t* kSource = L"Kelvane";

void setErrorInfo(REFIID iid, const std::wstring& description) noexcept {
  ComPtr<ICreateErrorInfo> create;
  if (FAILED(CreateErrorInfo(create.put()))) return;
  create->SetGUID(iid);
  create->SetSource(const_cast<wchar_t*>(kSource));
  create->SetDescription(const_cast<wchar_t*>(description.c_str()));
  if (auto info = create.query<IErrorInfo>()) SetErrorInfo(0, info.get());
}

}  // namespace

HRESULT reportFailure(REFIID iid, EXCEPINFO* info) noexcept {
  HRESULT hr = E_FAIL;
  std::wstring description = L"unknown error";
  try {
    try {
      throw;
    } catch (const ComError& e) {
      hr = e.hr();
      description = toUtf16(e.what());
    } catch (const std::bad_alloc&) {
      hr = E_OUTOFMEMORY;
      description = L"out of memory";
    } catch (const std::exception& e) {
      description = toUtf16(e.what());
    }
  } catch (...) {
    // An exception of no known kind, or no memory left for its message.
  }
  if (SUCCEEDED(hr)) hr = E_FAIL;
  setErrorInfo(iid, description);
  if (!info) return hr;
  *info = EXCEPINFO{};
  info->scode = hr;
  info->bstrSource = SysAllocString(kSource);
  info->bstrDescription = SysAllocString(description.c_str());
  return DISP_E_EXCEPTION;
}

std::string takeErrorDescription() {
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) != S_OK || !info) return {};
  Bstr description;
  if (FAILED(info->GetDescription(description.put()))) return {};
  return description.utf8();
}

std::string errorText(HRESULT hr) {
  std::string text = takeErrorDescription();
  return text.empty() ? hresultText(hr) : text;
}

void checkCall(HRESULT hr) {
  if (FAILED(hr)) throw ComError(hr, errorText(hr));
}

}  // namespace kelvane::com

// The COM boundary: no exception leaves a COM object of ours. Every exported method
// runs its body through guarded() (or guardedHr() when the body answers an HRESULT
// itself), and reportFailure() turns whatever was thrown into an HRESULT and an
// IErrorInfo.
#pragma once

#include <string>

#include "com/win32.h"

namespace kelvane::com {

// Call only inside a catch block: answers the HRESULT for the exception in flight and
// sets the thread's IErrorInfo to its message (source "Kelvane", interface `iid`).
// With `info`, also fills the EXCEPINFO and answers DISP_E_EXCEPTION.
HRESULT reportFailure(REFIID iid, EXCEPINFO* info = nullptr) noexcept;

template <class Body>
HRESULT guarded(REFIID iid, Body&& body) noexcept {
  try {
    body();
    return S_OK;
  } catch (...) {
    return reportFailure(iid);
  }
}

// With `info` (IDispatch::Invoke), a failure fills it and answers DISP_E_EXCEPTION.
template <class Body>
HRESULT guardedHr(REFIID iid, EXCEPINFO* info, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return reportFailure(iid, info);
  }
}

// The description of the thread's current IErrorInfo, which it takes and clears;
// "" when there is none.
std::string takeErrorDescription();

// Why a call failed with `hr`: the callee's IErrorInfo text (taken and cleared), else
// the HRESULT ("0x80004005").
std::string errorText(HRESULT hr);
// Throws ComError(hr, errorText(hr)) when `hr` failed.
void checkCall(HRESULT hr);

}  // namespace kelvane::com

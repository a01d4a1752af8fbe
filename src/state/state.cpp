#include "state/state.h"

namespace kelvane {

void State::emptyModel() {
  model.clear();
  bindings.clear();
  logRead = LogRead::None;
  logLines.clear();
  compositesStale = false;
  lastGroup = -1;
}

host::Control& controlOf(const pagedef::FieldDef& field, const FieldBinding& bound) {
  if (!bound.control) throw host::HostError("control", "field " + std::string(field.caption) + " has no control");
  return *bound.control;
}

void showStatus(State& s, const std::string& text) {
  if (!s.ThisSW) throw host::HostError("frame", "not connected");
  auto frame = s.ThisSW->GetFrame();
  if (!frame) throw host::HostError("frame", "no frame");
  frame->SetStatusBarText(text);
}

std::shared_ptr<host::Document> activeDocument(State& s) {
  if (!s.ThisSW) throw host::HostError("active-document", "not connected");
  auto doc = s.ThisSW->ActiveDoc();
  if (!doc) throw host::HostError("active-document", "no active document");
  return doc;
}

bool trapped(State& s, const char* procedure, const char* statusText, const std::function<bool()>& body) {
  try {
    return body();
  } catch (const std::exception& e) {
    noteFailure(s.onFailure, procedure, e);
  }
  showStatus(s, statusText);
  return false;
}

bool attempted(State& s, const char* procedure, const std::function<void()>& body) {
  try {
    body();
    return true;
  } catch (const std::exception& e) {
    noteFailure(s.onFailure, procedure, e);
    return false;
  }
}

void removeMenuItems(State& s) {
  for (int docType : {host::code::kDocTypePart, host::code::kDocTypeAssembly})
    s.callStatus = s.ThisSW->RemoveMenu(docType, s.menuPath, s.menuCallback);
}

void addMenuItems(State& s) {
  for (int docType : {host::code::kDocTypePart, host::code::kDocTypeAssembly})
    s.callStatus = s.ThisSW->AddMenuItem2(docType, s.Cookie, s.menuPath, 0, s.menuCallback,
                                          s.menuEnableCallback, "Edit Custom Properties");
}

}  // namespace kelvane

#include "live_session.h"

#include <optional>
#include <utility>

#include "document_file.h"
#include "page_view.h"
#include "transcript.h"

namespace kelvane::cli {

using Kind = Command::Kind;

LiveSession::LiveSession(std::shared_ptr<sim::SimHost> host, CliPlatform& platform, std::ostream& out,
                         std::unique_ptr<host::SwAddin> addin)
    : LiveSession(std::move(host), platform, out, std::move(addin),
                  [&out](const std::string& kind, const std::string& text) { printLine(out, kind + ": " + text); }) {}

LiveSession::LiveSession(std::shared_ptr<sim::SimHost> host, CliPlatform& platform, std::ostream& out,
                         std::unique_ptr<host::SwAddin> addin, EventSink sink)
    : host_(std::move(host)), platform_(platform), out_(out), addin_(std::move(addin)), sink_(std::move(sink)) {
  host_->onEvent = [this](const std::string& kind, const std::string& text) { sink_(kind, text); };
}

LiveSession::~LiveSession() { host_->onEvent = nullptr; }

void LiveSession::connect(std::int32_t cookie) {
  connected_ = true;
  call("SwAddIn_ConnectToSW", [&] { addin_->SwAddIn_ConnectToSW(host_, cookie); });
}

void LiveSession::disconnect() {
  if (!connected_) return;
  connected_ = false;
  call("SwAddIn_DisconnectFromSW", [&] { addin_->SwAddIn_DisconnectFromSW(); });
}

void LiveSession::run(const Command& c) {
  switch (c.kind) {
    case Kind::Menu: return menu();
    case Kind::Text: return typeText(c);
    case Kind::Select: return select(c);
    case Kind::Check: return check(c);
    case Kind::Press: return press(c);
    case Kind::Help: return help();
    case Kind::Close: return close(c);
    case Kind::Set: return set(c);
    case Kind::Fail: return host_->faults->failNext(c.text, c.number);
    case Kind::Show: return showPage(out_, connected_ ? host_->page.get() : nullptr);
    case Kind::Dump: return dump();
    case Kind::Disconnect:
      if (!connected_) return refuse("disconnect", "the add-in is not connected");
      return disconnect();
  }
}

// The host reports a failed call into the add-in and goes on.
template <typename Body>
void LiveSession::call(const std::string& method, Body&& body) {
  // Where the host itself refuses a person's action, the reason goes to refuse().
  try {
    body();
  } catch (const std::exception& e) {
    error(method, e.what());
  }
}

std::optional<std::string> LiveSession::perform(const Command& c) {
  refusal_.reset();
  run(c);
  return std::exchange(refusal_, std::nullopt);
}

void LiveSession::error(const std::string& what, const std::string& problem) {
  sink_("error", what + ": " + problem);
}

void LiveSession::refuse(const std::string& command, const std::string& reason) {
  if (!refusal_) refusal_ = reason;
  error(command, reason);
}

sim::SimPage* LiveSession::shownPage() const {
  return connected_ && host_->page && host_->page->shown ? host_->page.get() : nullptr;
}

void LiveSession::menu() {
  if (!connected_ || host_->menu.empty()) {
    sink_("menu", "unavailable");
    return;
  }
  const std::string callback = host_->menu.front().callback;
  call(callback, [&] {
    if (host_->pickMenu() == sim::SimHost::MenuResult::Unavailable) sink_("menu", "unavailable");
  });
}

// A person's action: the host's refusal is reported under the command, a failure of
// the add-in under its method.
template <typename Body>
void LiveSession::act(const std::string& command, const std::string& method, Body&& body) {
  try {
    body();
  } catch (const sim::UserError& e) {
    refuse(command, e.what());
  } catch (const std::exception& e) {
    error(method, e.what());
  }
}

void LiveSession::typeText(int id, const std::string& text, const std::string& command) {
  act(command, "OnTextboxChanged", [&] { host_->typeText(id, text); });
}

void LiveSession::selectEntry(int id, int index, const std::string& command) {
  act(command, "OnComboboxSelectionChanged", [&] { host_->selectItem(id, index); });
}

void LiveSession::typeText(const Command& c) { typeText(c.id, c.text, "text " + std::to_string(c.id)); }

void LiveSession::select(const Command& c) {
  selectEntry(c.id, c.number, "select " + std::to_string(c.id) + " " + std::to_string(c.number));
}

void LiveSession::check(const Command& c) {
  const std::string command = "check " + std::to_string(c.id) + " " + std::to_string(c.number);
  act(command, "OnCheckboxCheck", [&] { host_->checkBox(c.id, c.number == 1); });
}

void LiveSession::press(const Command& c) {
  act("press " + std::to_string(c.id), "OnButtonPress", [&] { host_->pressButton(c.id); });
}

void LiveSession::help() {
  act("help", "OnHelp", [&] { host_->help(); });
}

void LiveSession::close(const Command& c) {
  // OnClose and AfterClose failures are reported by the host, which closes anyway.
  act("close " + std::to_string(c.number), "close", [&] { host_->closePage(c.number); });
}

// The first input control in page order whose tip is the caption.
void LiveSession::set(const Command& c) {
  const std::string command = "set " + c.text;
  const sim::SimPage* page = nullptr;
  act(command, "set", [&] { page = &host_->pageInUse(); });
  if (!page) return;
  for (const auto& group : page->groups) {
    for (const auto& control : group->controls) {
      if (control->tip != c.text) continue;
      if (control->kind == host::code::kKindTextbox) return typeText(control->id, c.value, command);
      if (control->kind != host::code::kKindCombobox) continue;
      for (std::size_t i = 0; i < control->items.size(); ++i) {
        if (control->items[i] == c.value) return selectEntry(control->id, static_cast<int>(i), command);
      }
      return refuse(command, "\"" + c.text + "\" has no entry \"" + c.value + "\"");
    }
  }
  refuse(command, "the page has no field captioned \"" + c.text + "\"");
}

void LiveSession::dump() {
  std::optional<std::int32_t> menuStatus;
  if (connected_) {
    try {
      menuStatus = host_->menuStatusNow();
    } catch (const std::exception&) {
      // An enable callback that fails answers nothing.
    }
  }
  Json j = Json::object();
  j["document"] = host_->activeDocument ? documentJson(*host_->activeDocument) : Json(nullptr);
  j["page"] = connected_ && host_->page ? pageJson(*host_->page) : Json(nullptr);
  j["menu"] = menuJson(host_->menu);
  j["menuStatus"] = menuStatus ? Json(*menuStatus) : Json(nullptr);
  j["status"] = host_->statusTexts;
  j["messages"] = platform_.messages();
  j["processes"] = platform_.processes();
  out_ << oneLine(j) << '\n';
}

}  // namespace kelvane::cli

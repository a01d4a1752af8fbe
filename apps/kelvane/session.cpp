#include "session.h"

#include <filesystem>
#include <iostream>
#include <memory>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "addin/swaddin.h"
#include "atomic_file.h"
#include "cli_platform.h"
#include "document_file.h"
#include "page_view.h"
#include "script.h"
#include "sim/sim.h"
#include "transcript.h"
#ifdef _WIN32
#include "com_session.h"
#endif

namespace kelvane::cli {

namespace {

using Kind = Command::Kind;

class Session {
 public:
  Session(std::shared_ptr<sim::SimHost> host, CliPlatform& platform, std::ostream& out,
          std::unique_ptr<host::SwAddin> addin)
      : host_(std::move(host)), platform_(platform), out_(out), addin_(std::move(addin)) {
    host_->onEvent = [this](const std::string& kind, const std::string& text) {
      printLine(out_, kind + ": " + text);
    };
  }

  ~Session() { host_->onEvent = nullptr; }

  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  void connect(std::int32_t cookie) {
    connected_ = true;
    call("SwAddIn_ConnectToSW", [&] { addin_->SwAddIn_ConnectToSW(host_, cookie); });
  }

  void disconnect() {
    if (!connected_) return;
    connected_ = false;
    call("SwAddIn_DisconnectFromSW", [&] { addin_->SwAddIn_DisconnectFromSW(); });
  }

  void run(const Command& c) {
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
        if (!connected_) return error("disconnect", "the add-in is not connected");
        return disconnect();
    }
  }

 private:
  // The host reports a failed call into the add-in and goes on.
  template <typename Body>
  void call(const std::string& method, Body&& body) {
    try {
      body();
    } catch (const std::exception& e) {
      error(method, e.what());
    }
  }

  void error(const std::string& what, const std::string& problem) {
    printLine(out_, "error: " + what + ": " + problem);
  }

  sim::SimPage* shownPage() const {
    return connected_ && host_->page && host_->page->shown ? host_->page.get() : nullptr;
  }

  // The control a person would use, or null after saying why there is none.
  sim::SimControl* usable(const std::string& command, int id, int kind, const char* kindName) {
    sim::SimPage* page = shownPage();
    if (!page) {
      error(command, "no page is shown");
      return nullptr;
    }
    sim::SimControl* control = page->findControl(id, kind);
    if (!control) {
      error(command, std::string("the page has no ") + kindName + " " + std::to_string(id));
      return nullptr;
    }
    if (!control->enabled) {
      error(command, std::string(kindName) + " " + std::to_string(id) + " is disabled");
      return nullptr;
    }
    return control;
  }

  void menu() {
    if (!connected_ || host_->menu.empty()) {
      printLine(out_, "menu: unavailable");
      return;
    }
    const std::string callback = host_->menu.front().callback;
    call(callback, [&] {
      if (host_->pickMenu() == sim::SimHost::MenuResult::Unavailable) printLine(out_, "menu: unavailable");
    });
  }

  void typeText(int id, const std::string& text, const std::string& command) {
    if (!usable(command, id, host::code::kKindTextbox, "text box")) return;
    call("OnTextboxChanged", [&] { host_->typeText(id, text); });
  }

  void selectEntry(int id, int index, const std::string& command) {
    sim::SimControl* combo = usable(command, id, host::code::kKindCombobox, "combo box");
    if (!combo) return;
    if (index >= static_cast<int>(combo->items.size())) {
      return error(command, "combo box " + std::to_string(id) + " has no entry " + std::to_string(index));
    }
    call("OnComboboxSelectionChanged", [&] { host_->selectItem(id, index); });
  }

  void typeText(const Command& c) { typeText(c.id, c.text, "text " + std::to_string(c.id)); }

  void select(const Command& c) {
    selectEntry(c.id, c.number, "select " + std::to_string(c.id) + " " + std::to_string(c.number));
  }

  void check(const Command& c) {
    const std::string command = "check " + std::to_string(c.id) + " " + std::to_string(c.number);
    if (!usable(command, c.id, host::code::kKindCheckbox, "checkbox")) return;
    call("OnCheckboxCheck", [&] { host_->checkBox(c.id, c.number == 1); });
  }

  void press(const Command& c) {
    if (!usable("press " + std::to_string(c.id), c.id, host::code::kKindButton, "button")) return;
    call("OnButtonPress", [&] { host_->pressButton(c.id); });
  }

  void help() {
    if (!shownPage()) return error("help", "no page is shown");
    call("OnHelp", [&] { host_->help(); });
  }

  void close(const Command& c) {
    // OnClose and AfterClose failures are reported by the host, which closes anyway.
    if (!shownPage()) return error("close " + std::to_string(c.number), "no page is shown");
    host_->closePage(c.number);
  }

  // The first input control in page order whose tip is the caption.
  void set(const Command& c) {
    const std::string command = "set " + c.text;
    sim::SimPage* page = shownPage();
    if (!page) return error(command, "no page is shown");
    for (const auto& group : page->groups) {
      for (const auto& control : group->controls) {
        if (control->tip != c.text) continue;
        if (control->kind == host::code::kKindTextbox) return typeText(control->id, c.value, command);
        if (control->kind != host::code::kKindCombobox) continue;
        for (std::size_t i = 0; i < control->items.size(); ++i) {
          if (control->items[i] == c.value) return selectEntry(control->id, static_cast<int>(i), command);
        }
        return error(command, "\"" + c.text + "\" has no entry \"" + c.value + "\"");
      }
    }
    error(command, "the page has no field captioned \"" + c.text + "\"");
  }

  void dump() {
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

  std::shared_ptr<sim::SimHost> host_;
  CliPlatform& platform_;
  std::ostream& out_;
  std::unique_ptr<host::SwAddin> addin_;
  bool connected_ = false;
};

std::string readScript(const SessionOptions& options, std::istream& in) {
  try {
    return options.script ? readInputFile(*options.script, " the script") : readInputStream(in);
  } catch (const ReadError& e) {
    throw ScriptError(options.script.value_or("<stdin>") + ": " + e.what());
  }
}

// A folder that does not exist would lose the session's result at the very end.
void checkOutputFolder(const std::string& path) {
  std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (folder.empty()) folder = ".";
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) {
    throw DocumentError(path + ": the folder " + folder.string() + " does not exist");
  }
}

}  // namespace

int runSession(const SessionOptions& options, std::istream& in, std::ostream& out, std::ostream& err) {
  auto host = std::make_shared<sim::SimHost>();
  std::shared_ptr<sim::SimDocument> doc;
  DocumentContents before;
  std::vector<Command> commands;
  try {
    commands = parseScript(readScript(options, in), options.script.value_or("<stdin>"));
    if (options.doc) {
      doc = host->newDocument();
      loadDocument(*options.doc, *doc);
      checkOutputFolder(options.out.value_or(*options.doc));
      before = contentsOf(*doc);
      host->activeDocument = doc;
    }
  } catch (const std::runtime_error& e) {
    err << "kelvane: " << e.what() << '\n';
    return 2;
  } catch (const std::bad_alloc&) {
    err << "kelvane: out of memory reading the " << (doc ? "document" : "script") << '\n';
    return 2;
  }

  CliPlatform platform(moduleFolderOf(options.addinDir), &out);
  std::unique_ptr<host::SwAddin> addin;
#ifdef _WIN32
  if (options.com) {
    try {
      addin = loadRegisteredAddin(moduleFolderOf(options.addinDir), platform);
    } catch (const std::runtime_error& e) {
      err << "kelvane: " << e.what() << '\n';
      return 2;
    }
  }
#endif
  if (!addin) {
    auto inProcess = std::make_unique<swAddIn>(platform);
    if (options.verbose) {
      inProcess->state().onFailure = [&out](std::string_view procedure, const std::exception& e) {
        printLine(out, "trace: " + std::string(procedure) + ": " + e.what());
      };
    }
    addin = std::move(inProcess);
  }
  {
    Session session(host, platform, out, std::move(addin));
    session.connect(options.cookie);
    for (const auto& command : commands) session.run(command);
    session.disconnect();
  }
  out.flush();

  if (!doc || sameContents(before, *doc)) return 0;
  try {
    writeFileAtomically(options.out.value_or(*options.doc), documentText(*doc));
  } catch (const WriteError& e) {
    err << "kelvane: " << e.what() << '\n';
    return 1;
  }
  return 0;
}

}  // namespace kelvane::cli

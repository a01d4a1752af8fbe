#include "session.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

#include "addin/swaddin.h"
#include "atomic_file.h"
#include "cli_platform.h"
#include "document_file.h"
#include "page_view.h"
#include "script.h"
#include "sim/sim.h"
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
      out_ << kind << ": " << text << '\n';
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
    out_ << "error: " << what << ": " << problem << '\n';
  }

  void menu() {
    if (!connected_ || host_->menu.empty()) {
      out_ << "menu: unavailable\n";
      return;
    }
    const std::string callback = host_->menu.front().callback;
    call(callback, [&] {
      if (host_->pickMenu() == sim::SimHost::MenuResult::Unavailable) out_ << "menu: unavailable\n";
    });
  }

  // A user action: the host's refusal is reported under the command, a failure of
  // the add-in under its method.
  template <typename Body>
  void act(const std::string& command, const std::string& method, Body&& body) {
    try {
      body();
    } catch (const sim::UserError& e) {
      error(command, e.what());
    } catch (const std::exception& e) {
      error(method, e.what());
    }
  }

  void typeText(int id, const std::string& text, const std::string& command) {
    act(command, "OnTextboxChanged", [&] { host_->typeText(id, text); });
  }

  void selectEntry(int id, int index, const std::string& command) {
    act(command, "OnComboboxSelectionChanged", [&] { host_->selectItem(id, index); });
  }

  void typeText(const Command& c) { typeText(c.id, c.text, "text " + std::to_string(c.id)); }

  void select(const Command& c) {
    selectEntry(c.id, c.number, "select " + std::to_string(c.id) + " " + std::to_string(c.number));
  }

  void check(const Command& c) {
    const std::string command = "check " + std::to_string(c.id) + " " + std::to_string(c.number);
    act(command, "OnCheckboxCheck", [&] { host_->checkBox(c.id, c.number == 1); });
  }

  void press(const Command& c) {
    act("press " + std::to_string(c.id), "OnButtonPress", [&] { host_->pressButton(c.id); });
  }

  void help() {
    act("help", "OnHelp", [&] { host_->help(); });
  }

  void close(const Command& c) {
    // OnClose and AfterClose failures are reported by the host, which closes anyway.
    act("close " + std::to_string(c.number), "close", [&] { host_->closePage(c.number); });
  }

  void set(const Command& c) {
    const std::string command = "set " + c.text;
    try {
      setField(host_->pageInUse(), c, command);
    } catch (const sim::UserError& e) {
      error(command, e.what());
    }
  }

  // The first input control in page order whose tip is the caption.
  void setField(const sim::SimPage& page, const Command& c, const std::string& command) {
    for (const auto& group : page.groups) {
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
  if (!options.script) return std::string(std::istreambuf_iterator<char>(in), {});
  std::error_code ec;
  if (std::filesystem::is_directory(*options.script, ec)) throw ScriptError(*options.script + ": is a folder");
  std::ifstream file(*options.script, std::ios::binary);
  if (!file) throw ScriptError(*options.script + ": cannot open the script: " + std::strerror(errno));
  std::string text(std::istreambuf_iterator<char>(file), {});
  if (file.bad()) throw ScriptError(*options.script + ": cannot read the script");
  return text;
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
  std::string before;
  std::vector<Command> commands;
  try {
    commands = parseScript(readScript(options, in), options.script.value_or("<stdin>"));
    if (options.doc) {
      doc = host->newDocument();
      loadDocument(*options.doc, *doc);
      checkOutputFolder(options.out.value_or(*options.doc));
      before = documentText(*doc);
      host->activeDocument = doc;
    }
  } catch (const std::runtime_error& e) {
    err << "kelvane: " << e.what() << '\n';
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
  if (!addin) addin = std::make_unique<swAddIn>(platform);
  {
    Session session(host, platform, out, std::move(addin));
    session.connect(options.cookie);
    for (const auto& command : commands) session.run(command);
    session.disconnect();
  }
  out.flush();

  if (!doc) return 0;
  const std::string after = documentText(*doc);
  if (after == before) return 0;
  try {
    writeFileAtomically(options.out.value_or(*options.doc), after);
  } catch (const WriteError& e) {
    err << "kelvane: " << e.what() << '\n';
    return 1;
  }
  return 0;
}

}  // namespace kelvane::cli

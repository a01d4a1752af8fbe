#include "script.h"

#include <charconv>
#include <optional>
#include <string_view>

#include "sim/sim.h"

namespace kelvane::cli {

const char* const kScriptHelp =
    "Script commands, one per line (blank lines and lines starting with # are skipped):\n"
    "  menu                   pick the add-in's menu command\n"
    "  text ID TEXT           type TEXT into text box ID (TEXT: all after the blank after ID)\n"
    "  select ID INDEX        select entry INDEX (from 0) of combo box ID\n"
    "  check ID 0|1           clear or tick checkbox ID\n"
    "  press ID               press button ID\n"
    "  help                   ask the page for help\n"
    "  close REASON           close the page with REASON; ok = close 1, cancel = close 2\n"
    "  set CAPTION = VALUE    type VALUE into the field CAPTION, or select its entry VALUE\n"
    "  fail OPERATION [N]     make the Nth next call (default 1) of a host operation fail\n"
    "  show                   print the page\n"
    "  dump                   print one line of JSON: document, page, menu, status, ...\n"
    "  disconnect             disconnect the add-in now instead of at the end\n";

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view skipBlanks(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view trimRightBlanks(std::string_view s) {
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Takes the next blank-separated word off the front of `s`.
std::string_view nextWord(std::string_view& s) {
  s = skipBlanks(s);
  std::size_t end = 0;
  while (end < s.size() && !isBlank(s[end])) ++end;
  const std::string_view word = s.substr(0, end);
  s.remove_prefix(end);
  return word;
}

std::vector<std::string_view> words(std::string_view s) {
  std::vector<std::string_view> all;
  for (std::string_view w = nextWord(s); !w.empty(); w = nextWord(s)) all.push_back(w);
  return all;
}

std::optional<std::int32_t> number(std::string_view s) {
  std::int32_t value = 0;
  const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (error != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return value;
}

class LineParser {
 public:
  LineParser(std::string_view line, int lineNumber, const std::string& scriptName)
      : line_(line), lineNumber_(lineNumber), scriptName_(scriptName) {}

  Command parse() {
    std::string_view rest = line_;
    const std::string_view keyword = nextWord(rest);
    command_.line = lineNumber_;
    if (keyword == "text") return textCommand(rest);
    if (keyword == "set") return setCommand(rest);

    const auto args = words(rest);
    using K = Command::Kind;
    if (keyword == "menu") return plain(K::Menu, args, "menu");
    if (keyword == "help") return plain(K::Help, args, "help");
    if (keyword == "show") return plain(K::Show, args, "show");
    if (keyword == "dump") return plain(K::Dump, args, "dump");
    if (keyword == "disconnect") return plain(K::Disconnect, args, "disconnect");
    if (keyword == "ok" || keyword == "cancel") {
      plain(K::Close, args, keyword);
      command_.number = keyword == "ok" ? 1 : 2;
      return command_;
    }
    if (keyword == "select") {
      command_.kind = K::Select;
      command_.id = idOf(args, 2, "select ID INDEX");
      command_.number = numberOf(args, 1, "select ID INDEX");
      if (command_.number < 0) fail("INDEX must not be negative");
      return command_;
    }
    if (keyword == "check") {
      command_.kind = K::Check;
      command_.id = idOf(args, 2, "check ID 0|1");
      if (args[1] != "0" && args[1] != "1") fail("expected check ID 0|1");
      command_.number = args[1] == "1" ? 1 : 0;
      return command_;
    }
    if (keyword == "press") {
      command_.kind = K::Press;
      command_.id = idOf(args, 1, "press ID");
      return command_;
    }
    if (keyword == "close") {
      if (args.size() != 1) fail("expected close REASON");
      command_.kind = K::Close;
      command_.number = numberOf(args, 0, "close REASON");
      return command_;
    }
    if (keyword == "fail") return failCommand(args);
    fail("not a command");
  }

 private:
  [[noreturn]] void fail(const std::string& problem) const {
    throw ScriptError(scriptName_ + " line " + std::to_string(lineNumber_) + ": " + problem + ": " +
                      std::string(line_));
  }

  Command plain(Command::Kind kind, const std::vector<std::string_view>& args, std::string_view syntax) {
    if (!args.empty()) fail("expected " + std::string(syntax) + " alone");
    command_.kind = kind;
    return command_;
  }

  std::int32_t numberOf(const std::vector<std::string_view>& args, std::size_t at, const char* syntax) const {
    const auto n = at < args.size() ? number(args[at]) : std::nullopt;
    if (!n) fail(std::string("expected ") + syntax);
    return *n;
  }

  std::int32_t idOf(const std::vector<std::string_view>& args, std::size_t count, const char* syntax) const {
    if (args.size() != count) fail(std::string("expected ") + syntax);
    return numberOf(args, 0, syntax);
  }

  // TEXT is everything after the one blank that follows ID, kept exactly.
  Command textCommand(std::string_view rest) {
    const std::string_view id = nextWord(rest);
    const auto n = number(id);
    if (!n || (!rest.empty() && !isBlank(rest.front()))) fail("expected text ID TEXT");
    if (!rest.empty()) rest.remove_prefix(1);
    command_.kind = Command::Kind::Text;
    command_.id = *n;
    command_.text = std::string(rest);
    return command_;
  }

  // CAPTION ends at the first " = "; VALUE is everything after it, kept exactly.
  Command setCommand(std::string_view rest) {
    rest = skipBlanks(rest);
    std::string_view caption;
    std::string_view value;
    if (const auto at = rest.find(" = "); at != std::string_view::npos) {
      caption = rest.substr(0, at);
      value = rest.substr(at + 3);
    } else if (rest.ends_with(" =")) {
      caption = rest.substr(0, rest.size() - 2);
    } else {
      fail("expected set CAPTION = VALUE");
    }
    caption = trimRightBlanks(caption);
    if (caption.empty()) fail("expected set CAPTION = VALUE");
    command_.kind = Command::Kind::Set;
    command_.text = std::string(caption);
    command_.value = std::string(value);
    return command_;
  }

  Command failCommand(const std::vector<std::string_view>& args) {
    if (args.empty() || args.size() > 2) fail("expected fail OPERATION [N]");
    command_.kind = Command::Kind::Fail;
    command_.text = std::string(args[0]);
    if (!sim::Faults::isOperation(command_.text)) fail("unknown host operation \"" + command_.text + "\"");
    command_.number = args.size() == 2 ? numberOf(args, 1, "fail OPERATION [N]") : 1;
    if (command_.number < 1) fail("N must be 1 or more");
    return command_;
  }

  std::string_view line_;
  int lineNumber_;
  const std::string& scriptName_;
  Command command_;
};

}  // namespace

std::vector<Command> parseScript(const std::string& script, const std::string& scriptName) {
  std::vector<Command> commands;
  std::string_view rest = script;
  for (int lineNumber = 1; !rest.empty(); ++lineNumber) {
    const auto end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);  // scripts written on Windows

    const std::string_view start = skipBlanks(line);
    if (start.empty() || start.front() == '#') continue;
    commands.push_back(LineParser(line, lineNumber, scriptName).parse());
  }
  return commands;
}

}  // namespace kelvane::cli

#include "logfile/logfile.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>

#include "common/checked.h"
#include "common/text.h"

namespace kelvane {

namespace {

// Whether the reader gets `value` back as it stands: it cuts a line at "#" and ";",
// reads tabs as blanks, and a line break would start a line of its own.
bool loggable(State& s, const std::string& value) {
  return value.find_first_of("#;\t\r\n") == std::string::npos && s.platform.FitsCodePage(value);
}

// The line for a remembered field, or none. A value the user or the document gave is
// logged as ever when the log can hold it exactly (the empty mark is not logged). In
// every other case (a default, a value never read, one the log cannot hold) the line
// this opening read stays as it was, never cut; only a definition's default with no
// line yet is logged as before.
std::optional<std::string> logLine(State& s, const pagedef::FieldDef& f, const FieldBinding& b) {
  const std::size_t k = valuesPerConfiguration(s) ? s.currentConfig : 0;
  const std::string& value = b.configValues.at(k);
  const SlotOrigin origin = b.origins.at(k);
  const std::string caption(f.caption);
  const auto kept = s.logLines.find(caption);
  const bool hasKept = kept != s.logLines.end();
  // saveCP writes an empty document value as the mark; the mark was never shown then.
  const bool given = origin == SlotOrigin::User || (origin == SlotOrigin::Document && value != kEmptyMark && !value.empty());
  if ((given || (origin == SlotOrigin::Default && !hasKept)) && loggable(s, value)) {
    if (value == kEmptyMark) return std::nullopt;
    return caption + ";" + value;
  }
  if (hasKept) return kept->second;
  return std::nullopt;
}

// Writes the header and one "caption;value" line per remembered field that has a value.
void writeEntries(State& s, platform::LineWriter& out) {
  out.WriteLine(std::string("# File written by ") + kProgramTitle + " on " + s.platform.NowText());
  out.WriteLine(std::string("# Kelvane is ") + kCopyrightNotice);
  out.WriteLine("# Do not edit of modify this file");
  out.WriteLine("");
  forEachBoundField(s, [&](const pagedef::FieldDef& f, const FieldBinding& b) {
    if (!f.remember) return;
    if (auto line = logLine(s, f, b)) out.WriteLine(*line);
  });
}

// Lines the reader passes over by their first character, as stored.
bool isIgnoredLine(const std::string& line) {
  if (line.empty()) return true;
  switch (line.front()) {
    case '#': case '\r': case '\b': case '\t': case '\n': case ' ':
      return true;
    default:
      return false;
  }
}

// The line cut before its first "#", tabs as blanks, trailing blanks removed.
std::string workingText(const std::string& line) {
  std::string cut = line.substr(0, line.find('#'));
  return text::trimRightSpaces(text::replaceAll(cut, '\t', ' '));
}

// Caption -> the value and the whole line of the last entry with that caption. A value
// the reader would cut at a "#" or ";" is no value: it is not remembered, and its line
// stays as it is.
struct Entry {
  std::optional<std::string> value;
  std::string line;
};
using Entries = std::unordered_map<std::string, Entry>;

Entries readEntries(platform::LineReader& in) {
  Entries last;
  int count = 0;
  while (!in.AtEndOfStream()) {
    const std::string line = in.ReadLine();
    if (isIgnoredLine(line)) continue;
    auto pieces = text::split(workingText(line), ';');
    if (pieces.size() < 2) continue;
    checked16(count++, "log entry index");  // entries 0..32767, a further one fails
    const bool cut = line.find_first_of("#;", line.find(';') + 1) != std::string::npos;
    last[std::move(pieces[0])] = {cut ? std::nullopt : std::optional(std::move(pieces[1])), line};
  }
  return last;
}

void closeQuietly(platform::LineReader& in) {
  try {
    in.Close();
  } catch (const std::exception&) {
  }
}

}  // namespace

// The platform writes the log whole or not at all, so a failure part-way keeps the
// remembered values of the last close. A Kelvane.log that is a symbolic link is
// followed: the file it names is replaced, as with the documents. Where the add-in's
// folder takes no new files, each user keeps a log of their own.
bool writeLogFile(State& s) {
  return trapped(s, "writeLogFile", status::kLogWriteError, [&] {
    // Without the lines this opening could not read, a new log would lose them.
    if (s.logRead == State::LogRead::Failed) throw std::runtime_error("the log was not read at the opening");
    auto out = platform::createUserFile(s.platform, kLogFileName);
    writeEntries(s, *out);  // dropping the writer unclosed leaves the old log
    out->Close();
    return true;
  });
}

bool readLogFile(State& s) {
  const std::string path = platform::userFileToRead(s.platform, kLogFileName);
  s.logRead = State::LogRead::None;
  s.logLines.clear();
  if (!s.platform.FileExists(path)) return false;
  s.logRead = State::LogRead::Failed;
  return trapped(s, "readLogFile", status::kLogReadError, [&] {
    auto in = s.platform.OpenTextFile(path);
    Entries entries;
    try {
      entries = readEntries(*in);
    } catch (...) {
      closeQuietly(*in);
      throw;
    }
    in->Close();
    // Applied only now, so a failure above leaves every default as it was.
    for (auto& group : s.model.groups) {
      for (auto& f : group.fields) {
        auto hit = entries.find(std::string(f.caption));
        if (hit != entries.end() && hit->second.value) f.defaultValue = s.model.keep(*hit->second.value);
      }
    }
    for (auto& [caption, entry] : entries) s.logLines.emplace(caption, std::move(entry.line));
    s.logRead = State::LogRead::Read;
    return true;
  });
}

}  // namespace kelvane

#include "logfile/logfile.h"

#include <string>
#include <unordered_map>

#include "common/checked.h"
#include "common/text.h"

namespace kelvane {

namespace {

// Writes the header and one "caption;value" line per remembered field that has a value.
void writeEntries(State& s, platform::LineWriter& out) {
  out.WriteLine(std::string("# File written by ") + kProgramTitle + " on " + s.platform.NowText());
  out.WriteLine(std::string("# Kelvane is ") + kCopyrightNotice);
  out.WriteLine("# Do not edit of modify this file");
  out.WriteLine("");
  forEachBoundField(s, [&](const pagedef::FieldDef& f, const FieldBinding& b) {
    if (!f.remember) return;
    const std::string& value = b.configValues.at(0);
    if (value == kEmptyMark) return;
    // A line break in a value would start a line of its own, read back as another
    // field's entry: each is written as a blank.
    out.WriteLine(std::string(f.caption) + ";" + text::replaceAll(text::replaceAll(value, '\r', ' '), '\n', ' '));
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

// Caption -> value of the last entry with that caption.
using Entries = std::unordered_map<std::string, std::string>;

Entries readEntries(platform::LineReader& in) {
  Entries last;
  int count = 0;
  while (!in.AtEndOfStream()) {
    const std::string line = in.ReadLine();
    if (isIgnoredLine(line)) continue;
    auto pieces = text::split(workingText(line), ';');
    if (pieces.size() < 2) continue;
    checked16(count++, "log entry index");  // entries 0..32767, a further one fails
    last[std::move(pieces[0])] = std::move(pieces[1]);
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
    auto out = platform::createUserFile(s.platform, kLogFileName);
    writeEntries(s, *out);  // dropping the writer unclosed leaves the old log
    out->Close();
    return true;
  });
}

bool readLogFile(State& s) {
  const std::string path = platform::userFileToRead(s.platform, kLogFileName);
  if (!s.platform.FileExists(path)) return false;
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
        if (hit != entries.end()) f.defaultValue = s.model.keep(hit->second);
      }
    }
    return true;
  });
}

}  // namespace kelvane

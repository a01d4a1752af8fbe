// The Kelvane.ini parser.
//
// Contract, line by line (line numbers count from 0):
//  - The first character of the raw line picks the kind: "[" header, ":" option,
//    "#" comment, CR / BS / TAB / LF / blank / empty line: ignored, else content.
//  - The working text is the line cut before its first "#", tabs turned to blanks,
//    trimmed of blanks.
//  - "[Groups]" starts the group list, "[Commands]" is ignored; any other header
//    selects the entry list of the first field with that caption, else the field list
//    of the first group with that name, else nothing. Fields are tried before groups.
//  - Option lines ":USE_CONFIGS=v" and ":ENABLE_INI_EDIT=v" are true for "True",
//    "TRUE", "Yes", "YES", "1" and "".
//  - Group lines: a trailing "-" collapses the group. Field lines:
//    [!]caption;property;default;number. List-entry lines: [*]text;code.
//  - Placeholders {FILE_NAME} and {DENSITY} are read from the active document.
// Any failure after the file was opened is a line error; the add-in shows it in a
// message box "Error caused by line N of Kelvane.ini". The line counter is 16-bit,
// so a file of more than 32767 lines fails at line 32767.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/failure.h"
#include "host/host.h"
#include "pagedef/model.h"
#include "platform/platform.h"

namespace kelvane::pagedef {

inline constexpr const char* kIniFileName = "Kelvane.ini";

// A line error found by the parser's own checks. The other line errors are the
// failures of the platform, of the host and of the 16-bit limits (OverflowError).
class DefinitionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The text of the line-error message box for line `line`.
std::string lineErrorText(int line);

// The first line error of a reading: the line (from 0, as the 16-bit counter had
// it) and why.
struct LineError {
  int line = 0;
  std::string reason;
};

struct ParseResult {
  std::optional<LineError> error;
  bool read() const { return !error; }
};

// Watches one parse: every call names the line (from 0) being parsed. `kelvane check`
// draws its warnings from it; without an observer nothing is called.
class ParseObserver {
 public:
  virtual ~ParseObserver() = default;
  // A line ignored for its first character (blank, tab, CR, BS, LF or none).
  virtual void ignoredLine(int /*line*/, std::string_view /*raw*/) {}
  // A content line before the first section header; ignored.
  virtual void lineBeforeSections(int /*line*/) {}
  // A header that selects nothing ("[Commands]" excepted): its lines are ignored.
  virtual void unmatchedHeader(int /*line*/, std::string_view /*header*/) {}
  // An option line, split at its first "=" (the value ends at a second one).
  virtual void option(int /*line*/, std::string_view /*key*/, std::string_view /*value*/) {}
  virtual void optionWithoutValue(int /*line*/) {}
  // A field appended at `at`; `defaultColumn` trimmed, empty when the line has none.
  virtual void field(int /*line*/, FieldRef /*at*/, std::string_view /*defaultColumn*/) {}
  // Composite number `index` was declared.
  virtual void composite(int /*line*/, std::int16_t /*index*/) {}
  // The line error, while the file is still open. A throw reaches the caller once
  // the file is closed.
  virtual void lineError(const LineError& /*error*/) {}
};

// Reads ModuleFolder()/Kelvane.ini into `model` (cleared first). `app` gives the
// active document for placeholders; it may be null (then a placeholder that needs
// the document is a line error). Read when the file was read to its end or does not
// exist; a line error leaves a partial model behind.
ParseResult parsePageDefinition(PageDefinition& model, platform::Platform& platform,
                                host::Application* app, ParseObserver* observer = nullptr);

// The reading the add-in does: a line error is shown in a message box, and its cause
// goes to `onFailure`. True when read.
bool readPageDefinition(PageDefinition& model, platform::Platform& platform,
                        host::Application* app, const FailureHook& onFailure = {});

// The line-by-line half of the parser: takes the raw lines in file order and builds
// `model` (emptied, options False, on construction). A line error throws; the line
// number of the error (the 16-bit counter) is the caller's. parsePageDefinition runs
// on it; tests and fuzzers may feed it lines without a file.
class LineParser {
 public:
  LineParser(PageDefinition& model, platform::Platform& platform, host::Application* app,
             ParseObserver* observer = nullptr);

  void parseLine(std::string_view raw);

  // First-match lookups among what the lines so far declared: the first field, in
  // group order then field order, whose "[" + caption + "]" equals `header`, and the
  // first group whose "[" + name + "]" does. Outputs are -1 when nothing matches.
  // Both throw DefinitionError while no group has been declared.
  bool findFieldSection(std::string_view header, std::int16_t& group, std::int16_t& field) const;
  bool findGroupSection(std::string_view header, std::int16_t& group) const;

 private:
  enum class Section { Start, Ignore, Groups, Fields, Entries };

  // What a section header names among what the lines so far declared.
  NameIndex::Named lookUpSection(std::string_view header) const;
  void sectionHeader(std::string_view header);
  void optionLine(std::string_view line);
  void groupLine(std::string_view line);
  void fieldLine(std::string_view line);
  void entryLine(std::string_view line);
  // The working text of a content line: cut at the first "#", tabs as blanks,
  // trimmed. Notes where its ";" breaks are, which splitColumns turns into columns_.
  std::string_view scan(std::string_view raw);
  void splitColumns(std::string_view work);
  void setDefault(FieldDef& field, std::int16_t fieldIndex, std::string_view column);
  std::string_view placeholderValue(std::string_view placeholder);

  PageDefinition& model_;
  platform::Platform& platform_;
  host::Application* app_;
  ParseObserver* observer_;

  int line_ = -1;  // the line being parsed
  Section section_ = Section::Start;
  std::int16_t group_ = -1;  // the group of the field list, or of the entry list's field
  std::int16_t field_ = -1;  // the field of the entry list

  std::string tabless_;                    // the working text when the line had tabs
  std::vector<std::size_t> breaks_;        // where the current line has ";"
  std::size_t trimmed_ = 0;                // blanks trimmed off its start
  std::vector<std::string_view> columns_;  // the columns of the current line
  std::vector<std::string_view> parts_;    // the parts of its composite formula
};

}  // namespace kelvane::pagedef

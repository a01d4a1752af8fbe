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
// Any failure after the file was opened is a line error: a message box
// "Error caused by line N of Kelvane.ini", and the parse returns false.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "host/host.h"
#include "pagedef/model.h"
#include "platform/platform.h"

namespace kelvane::pagedef {

inline constexpr const char* kIniFileName = "Kelvane.ini";

// The text of the line-error message box for line `line`.
std::string lineErrorText(int line);

// Reads ModuleFolder()/Kelvane.ini into `model` (cleared first). `app` gives the
// active document for placeholders; it may be null (then a placeholder that needs
// the document is a line error). True when the file was read to its end or does not
// exist; false after a line error, which leaves a partial model behind.
bool parsePageDefinition(PageDefinition& model, platform::Platform& platform,
                         host::Application* app);

}  // namespace kelvane::pagedef

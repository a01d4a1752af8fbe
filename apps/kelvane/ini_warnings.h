// What a page definition says that parses but will not work as its author probably
// meant. The parser decides what the file means; this only reads the same lines
// again to point at the ones that deserve a second look.
#pragma once

#include <string>
#include <vector>

#include "pagedef/model.h"

namespace kelvane::cli {

struct IniWarning {
  int line = 0;  // counted from 0, as in the parser's "Error caused by line N"
  std::string text;
};

// `lines` are the file's lines as the parser read them; `model` is what it built
// from them. Warnings come in line order.
std::vector<IniWarning> iniWarnings(const std::vector<std::string>& lines, const pagedef::PageDefinition& model);

}  // namespace kelvane::cli

// Helpers shared by the fuzz targets: invariant checks that stop the run with a
// message, the model as text, and cutting one input into named parts.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "pagedef/model.h"

namespace kelvane::fuzz {

// An invariant that does not hold is a finding like a crash.
[[noreturn]] inline void broken(const char* what, std::string_view detail = "") {
  std::fprintf(stderr, "invariant broken: %s %.*s\n", what, static_cast<int>(detail.size()), detail.data());
  std::abort();
}

inline void require(bool holds, const char* what, std::string_view detail = "") {
  if (!holds) broken(what, detail);
}

// The model as text, one line per record.
inline std::string dumpModel(const pagedef::PageDefinition& m) {
  std::ostringstream out;
  out << m.useConfigs << m.enableIniEdit << "\n";
  for (const auto& g : m.groups) {
    out << "g|" << g.name << "|" << g.expanded << "\n";
    for (const auto& f : g.fields) {
      out << " f|" << f.caption << "|" << f.propName << "|" << f.defaultValue << "|" << f.remember
          << "|" << f.auxNumber << "\n";
      for (const auto& i : f.items) out << "  i|" << i.text << "|" << i.code << "\n";
    }
  }
  for (const auto& c : m.composites) {
    out << "c|" << c.groupIndex << "|" << c.fieldIndex;
    for (const auto& p : c.parts) out << "|" << p;
    out << "\n";
  }
  return out.str();
}

// What a parsed model always satisfies, whatever the file said.
inline void checkModel(const pagedef::PageDefinition& m) {
  require(m.groups.size() <= static_cast<std::size_t>(pagedef::kMaxGroups), "group count");
  require(m.composites.size() <= pagedef::kMaxIndex + 1u, "composite count");
  for (const auto& g : m.groups) {
    require(g.fields.size() <= pagedef::kMaxIndex + 1u, "field count");
    require(g.name.find('#') == std::string::npos, "'#' in a group name", g.name);
    for (const auto& f : g.fields) {
      require(f.items.size() <= pagedef::kMaxIndex + 1u, "entry count");
      require(f.propName.find(' ') == std::string::npos, "blank in a property name", f.propName);
      require(f.caption.find('#') == std::string::npos, "'#' in a caption", f.caption);
      require(f.caption.find('\t') == std::string::npos, "tab in a caption", f.caption);
    }
  }
  for (const auto& c : m.composites) {
    require(c.groupIndex >= 0 && c.groupIndex < static_cast<int>(m.groups.size()),
            "composite group index");
    require(c.fieldIndex >= 0 &&
                c.fieldIndex < static_cast<int>(m.groups[c.groupIndex].fields.size()),
            "composite field index");
  }
}

// Cuts `input` at every line that holds exactly `separator` (the separator line and
// its line break are dropped). Gives at most `maxParts` parts; the last one keeps the rest.
inline std::vector<std::string> cutParts(std::string_view input, std::string_view separator,
                                         std::size_t maxParts) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  std::size_t lineStart = 0;
  while (parts.size() + 1 < maxParts && lineStart <= input.size()) {
    std::size_t lineEnd = input.find('\n', lineStart);
    if (lineEnd == std::string_view::npos) break;
    std::string_view line = input.substr(lineStart, lineEnd - lineStart);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line == separator) {
      parts.emplace_back(input.substr(start, lineStart - start));
      start = lineEnd + 1;
    }
    lineStart = lineEnd + 1;
  }
  parts.emplace_back(input.substr(std::min(start, input.size())));
  return parts;
}

}  // namespace kelvane::fuzz

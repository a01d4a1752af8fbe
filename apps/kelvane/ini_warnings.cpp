#include "ini_warnings.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "common/text.h"

namespace kelvane::cli {

namespace {

constexpr int kMaxId = 32767;

std::string inQuotes(const std::string& s) { return "\"" + s + "\""; }

bool isTrueValue(const std::string& v) {
  return v == "True" || v == "TRUE" || v == "Yes" || v == "YES" || v == "1" || v.empty();
}

// Lower case, without blanks and underscores: how near misses are matched.
std::string folded(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c != ' ' && c != '_') out += static_cast<char>(std::tolower(c));
  }
  return out;
}

bool hasLetterOrDigit(const std::string& s) {
  return std::ranges::any_of(s, [](unsigned char c) { return std::isalnum(c) || c >= 0x80; });
}

// The fixed control that an input control of id `id` would be mistaken for.
const char* fixedControlName(int id) {
  switch (id) {
    case 10000: return "the \"Configurations\" group box";
    case 10001: return "the \"Current Configuration\" label";
    case 10002: return "the configuration combo box";
    case 10003: return "the \"Use Configurations\" checkbox";
    case 20000: return "the \"Tools...\" group box";
    case 20001: return "the \"Reset All Fields\" button";
    case 20002: return "the \"Load Default Values\" button";
    case 20003: return "the \"Purge Doc CP Fields\" button";
    case 20004: return "the \"Edit Kelvane.ini file\" button";
    default: return nullptr;
  }
}

class Scanner {
 public:
  explicit Scanner(const pagedef::PageDefinition& model) : model_(model) {
    for (const auto& group : model.groups) {
      allHeaders_.insert("[" + group.name + "]");
      for (const auto& field : group.fields) {
        allHeaders_.insert("[" + field.caption + "]");
        allCaptions_.insert(field.caption);
      }
    }
  }

  void scan(int line, const std::string& raw) {
    line_ = line;
    const std::string_view first = text::firstChar(raw);
    const std::string work = workingText(raw);
    if (first.empty() || first == "#" || first == "\r" || first == "\b" || first == "\n") return;
    if (first == " " || first == "\t") {
      if (!work.empty()) warn("the line starts with a blank, so all of it is ignored");
      return;
    }
    if (first == "[") return header(work);
    if (first == ":") return option(work);
    switch (section_) {
      case Section::Start: return warn("a line before the first section header is ignored");
      case Section::Groups: return groupLine(work);
      case Section::Fields: return fieldLine(work);
      case Section::Ignore:
      case Section::Entries: return;
    }
  }

  std::vector<IniWarning> finish() {
    compositeWarnings();
    std::ranges::stable_sort(warnings_, {}, &IniWarning::line);
    return std::move(warnings_);
  }

 private:
  enum class Section { Start, Ignore, Groups, Fields, Entries };

  struct Composite {
    int line;
    int group;
    int field;
    std::string caption;
    std::vector<std::string> parts;
  };

  static std::string workingText(const std::string& raw) {
    std::string work = raw.substr(0, raw.find('#'));
    std::ranges::replace(work, '\t', ' ');
    return text::trimSpaces(work);
  }

  void warn(const std::string& what) { warnings_.push_back({line_, what}); }

  // A name that differs from `name` only in letter case, blanks or underscores.
  template <typename Names>
  static std::string nearMiss(const std::string& name, const Names& candidates) {
    for (const auto& c : candidates) {
      if (c != name && folded(c) == folded(name)) return "; did you mean " + inQuotes(c) + "?";
    }
    return "";
  }

  void header(const std::string& h) {
    if (h == "[Groups]") {
      section_ = Section::Groups;
      return;
    }
    if (h == "[Commands]") {
      section_ = Section::Ignore;
      return;
    }
    for (std::size_t g = 0; g < captions_.size(); ++g) {
      for (const auto& caption : captions_[g]) {
        if ("[" + caption + "]" == h) {
          section_ = Section::Entries;
          return;
        }
      }
    }
    for (std::size_t g = 0; g < groupNames_.size(); ++g) {
      if ("[" + groupNames_[g] + "]" == h) {
        section_ = Section::Fields;
        group_ = static_cast<int>(g);
        return;
      }
    }
    section_ = Section::Ignore;
    if (allHeaders_.contains(h)) {
      return warn("section " + h + " comes before the line that declares its name, so it is ignored");
    }
    std::set<std::string> known = allHeaders_;
    known.insert({"[Groups]", "[Commands]"});
    warn("section header " + h + " matches no group or field, so its lines are ignored" + nearMiss(h, known));
  }

  void option(const std::string& work) {
    const auto pieces = text::split(work, '=');
    if (pieces.size() < 2) return warn("the option line has no \"=\", so it changes nothing");
    const std::string& key = pieces[0];
    static const std::vector<std::string> keys = {":USE_CONFIGS", ":ENABLE_INI_EDIT"};
    if (key != text::trimSpaces(key)) {
      return warn("the option key " + inQuotes(key) + " has blanks around it, so the line changes nothing");
    }
    if (std::ranges::find(keys, key) == keys.end()) {
      return warn("unknown option key " + inQuotes(key) + ", so the line changes nothing" + nearMiss(key, keys));
    }
    const std::string& value = pieces[1];
    std::string upper = text::trimSpaces(value);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (!isTrueValue(value) && (upper == "TRUE" || upper == "YES")) {
      warn("the value " + inQuotes(value) + " of " + key + " reads as False; only True, TRUE, Yes, YES, 1 and nothing read as True");
    }
  }

  void groupLine(std::string name) {
    if (!name.empty() && name.back() == '-') name.pop_back();
    groupNames_.push_back(text::trimSpaces(name));
    captions_.emplace_back();
    idsWarned_.push_back(false);
  }

  void fieldLine(const std::string& work) {
    const auto columns = text::split(work, ';');
    std::string caption = columns[0];
    if (!caption.empty() && caption.front() == '!') caption.erase(0, 1);
    caption = text::trimSpaces(caption);
    const int g = group_;
    const int f = static_cast<int>(captions_[g].size());
    captions_[g].push_back(caption);
    checkIds(g, f, caption);
    if (columns.size() >= 3) defaultColumn(g, f, caption, text::trimSpaces(columns[2]));
  }

  void checkIds(int g, int f, const std::string& caption) {
    const long input = g * 1000L + f;
    const long label = g * 1000L + 2L * f + 1;
    const std::string field = "field " + inQuotes(caption) + " (group " + std::to_string(g) + ", field " +
                              std::to_string(f) + ")";
    if (label > kMaxId) {
      if (idsWarned_[g]) return;
      idsWarned_[g] = true;
      if (g * 1000L > kMaxId) {
        return warn("group " + std::to_string(g) + " " + inQuotes(groupNames_[g]) + " gives its controls ids from " +
                    std::to_string(g * 1000L) + " on, beyond 32767, so the page cannot be built");
      }
      return warn(field + " gets the label id " + std::to_string(label) +
                  ", beyond 32767, so the page cannot be built");
    }
    if (const char* fixed = fixedControlName(static_cast<int>(input))) {
      warn(field + " gets the control id " + std::to_string(input) + ", the id of " + fixed);
    }
  }

  void defaultColumn(int g, int f, const std::string& caption, const std::string& column) {
    if (column.size() >= 2 && column.front() == '{' && column.back() == '}') {
      static const std::vector<std::string> known = {"{FILE_NAME}", "{DENSITY}", "{MASS}", "{VOLUME}"};
      if (std::ranges::find(known, column) == known.end()) {
        warn("the default " + column + " of " + inQuotes(caption) +
             " is no placeholder, so it is taken as literal text" + nearMiss(column, known));
      }
    } else if (column.size() >= 2 && column.front() == '<' && column.back() == '>') {
      const std::string formula = column.substr(1, column.size() - 2);
      composites_.push_back({line_, g, f, caption, formula.empty() ? std::vector<std::string>{}
                                                                   : text::split(formula, '!')});
    }
  }

  // Parts are looked up among all fields, wherever declared. A part without letters
  // or digits that names no field is a separator, taken as literal text on purpose.
  void compositeWarnings() {
    for (const auto& c : composites_) {
      line_ = c.line;
      const auto& target = model_.groups.at(c.group).fields.at(c.field);
      if (!target.isTextBox()) {
        warn("composite field " + inQuotes(c.caption) + " has list entries, so it is never built");
      }
      for (const auto& part : c.parts) {
        const bool marked = !part.empty() && part.front() == '^';
        const std::string name = marked ? part.substr(1) : part;
        if (allCaptions_.contains(name) || (!marked && !hasLetterOrDigit(name))) continue;
        warn("composite part " + inQuotes(part) + " of " + inQuotes(c.caption) +
             " names no field, so it is taken as literal text" + nearMiss(name, allCaptions_));
      }
    }
  }

  const pagedef::PageDefinition& model_;
  std::set<std::string> allHeaders_;   // "[name]" of every group and field in the file
  std::set<std::string> allCaptions_;  // every field caption in the file

  Section section_ = Section::Start;
  int group_ = -1;
  int line_ = 0;
  std::vector<std::string> groupNames_;             // declared so far
  std::vector<std::vector<std::string>> captions_;  // declared so far, per group
  std::vector<bool> idsWarned_;                     // per group: an id overflow was reported
  std::vector<Composite> composites_;
  std::vector<IniWarning> warnings_;
};

}  // namespace

std::vector<IniWarning> iniWarnings(const std::vector<std::string>& lines, const pagedef::PageDefinition& model) {
  Scanner scanner(model);
  for (std::size_t i = 0; i < lines.size(); ++i) scanner.scan(static_cast<int>(i), lines[i]);
  return scanner.finish();
}

}  // namespace kelvane::cli

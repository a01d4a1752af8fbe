#include "ini_warnings.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "common/text.h"

namespace kelvane::cli {

namespace {

constexpr long kMaxId = 32767;

std::string inQuotes(std::string_view s) { return "\"" + std::string(s) + "\""; }

bool isTrueValue(std::string_view v) {
  return v == "True" || v == "TRUE" || v == "Yes" || v == "YES" || v == "1" || v.empty();
}

// Lower case, without blanks and underscores: how near misses are matched.
std::string folded(std::string_view s) {
  std::string out;
  for (unsigned char c : s) {
    if (c != ' ' && c != '_') out += static_cast<char>(std::tolower(c));
  }
  return out;
}

bool hasLetterOrDigit(std::string_view s) {
  return std::ranges::any_of(s, [](unsigned char c) { return std::isalnum(c) || c >= 0x80; });
}

// The fixed control that an input control of id `id` would be mistaken for.
const char* fixedControlName(long id) {
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

const std::array<std::string, 2> kOptionKeys = {":USE_CONFIGS", ":ENABLE_INI_EDIT"};
const std::array<std::string, 4> kPlaceholders = {"{FILE_NAME}", "{DENSITY}", "{MASS}", "{VOLUME}"};

template <typename Names>
std::string nearMissAmong(const std::string& name, const Names& candidates) {
  const std::string fold = folded(name);
  const std::string* best = nullptr;
  for (const auto& c : candidates)
    if (c != name && folded(c) == fold && (!best || c < *best)) best = &c;
  return best ? "; did you mean " + inQuotes(*best) + "?" : "";
}

std::string fieldName(std::string_view caption, pagedef::FieldRef at) {
  return "field " + inQuotes(caption) + " (group " + std::to_string(at.group) + ", field " +
         std::to_string(at.field) + ")";
}

}  // namespace

void IniWarnings::NearMisses::add(const std::string& name) {
  std::vector<std::string>& smallest = byFold_[folded(name)];
  auto at = std::ranges::lower_bound(smallest, name);
  if (at != smallest.end() && *at == name) return;
  smallest.insert(at, name);
  if (smallest.size() > 2) smallest.pop_back();
}

std::string IniWarnings::NearMisses::of(const std::string& name) const {
  auto hit = byFold_.find(folded(name));
  if (hit == byFold_.end()) return "";
  for (const auto& c : hit->second)
    if (c != name) return "; did you mean " + inQuotes(c) + "?";
  return "";
}

void IniWarnings::ignoredLine(int line, std::string_view raw) {
  const std::string_view first = text::firstChar(raw);
  if (first != " " && first != "\t") return;
  std::string work(raw.substr(0, raw.find('#')));
  std::ranges::replace(work, '\t', ' ');
  if (!text::trimmedView(work).empty()) warn(line, "the line starts with a blank, so all of it is ignored");
}

void IniWarnings::lineBeforeSections(int line) {
  warn(line, "a line before the first section header is ignored");
}

// Whether the header names something declared further down is known only at the end.
void IniWarnings::unmatchedHeader(int line, std::string_view header) {
  headers_.push_back({line, std::string(header)});
}

void IniWarnings::optionWithoutValue(int line) {
  warn(line, "the option line has no \"=\", so it changes nothing");
}

void IniWarnings::option(int line, std::string_view key, std::string_view value) {
  if (key != text::trimmedView(key)) {
    return warn(line, "the option key " + inQuotes(key) + " has blanks around it, so the line changes nothing");
  }
  if (std::ranges::find(kOptionKeys, key) == kOptionKeys.end()) {
    return warn(line, "unknown option key " + inQuotes(key) + ", so the line changes nothing" +
                          nearMissAmong(std::string(key), kOptionKeys));
  }
  std::string upper(text::trimmedView(value));
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (!isTrueValue(value) && (upper == "TRUE" || upper == "YES")) {
    warn(line, "the value " + inQuotes(value) + " of " + std::string(key) +
                   " reads as False; only True, TRUE, Yes, YES, 1 and nothing read as True");
  }
}

void IniWarnings::field(int line, pagedef::FieldRef at, std::string_view defaultColumn) {
  const std::string_view caption = model_.groups[at.group].fields[at.field].caption;
  const long g = at.group;
  const long input = g * 1000 + at.field;
  const long label = g * 1000 + 2L * at.field + 1;
  if (idsWarned_.size() <= static_cast<std::size_t>(g)) idsWarned_.resize(g + 1, false);
  if (label > kMaxId) {
    if (!idsWarned_[g]) {
      idsWarned_[g] = true;
      if (g * 1000 > kMaxId) {
        warn(line, "group " + std::to_string(g) + " " + inQuotes(model_.groups[g].name) +
                       " gives its controls ids from " + std::to_string(g * 1000) +
                       " on, beyond 32767, so the page cannot be built");
      } else {
        warn(line, fieldName(caption, at) + " gets the label id " + std::to_string(label) +
                       ", beyond 32767, so the page cannot be built");
      }
    }
  } else if (const char* fixed = fixedControlName(input)) {
    warn(line, fieldName(caption, at) + " gets the control id " + std::to_string(input) + ", the id of " + fixed);
  }

  // A group of more than 1000 fields runs into the next group's ids.
  auto [first, unused] = inputIds_.try_emplace(input, IdUse{at, line});
  if (!unused) {
    const IdUse& other = first->second;
    const std::string_view otherCaption = model_.groups[other.at.group].fields[other.at.field].caption;
    // The page decodes an id as group id / 1000, field id % 1000.
    warn(line, fieldName(caption, at) + " gets the control id " + std::to_string(input) + ", also the id of " +
                   fieldName(otherCaption, other.at) + " on line " + std::to_string(other.line) +
                   ", so both edit the value of group " + std::to_string(input / 1000) + ", field " +
                   std::to_string(input % 1000));
  }

  if (defaultColumn.size() >= 2 && defaultColumn.front() == '{' && defaultColumn.back() == '}' &&
      std::ranges::find(kPlaceholders, defaultColumn) == kPlaceholders.end()) {
    warn(line, "the default " + std::string(defaultColumn) + " of " + inQuotes(caption) +
                   " is no placeholder, so it is taken as literal text" +
                   nearMissAmong(std::string(defaultColumn), kPlaceholders));
  }
  unclosedComposite(line, caption, defaultColumn);
}

// "<" opens a composite only when ">" closes the column; otherwise the formula is
// the field's literal default, which the author hardly meant.
void IniWarnings::unclosedComposite(int line, std::string_view caption, std::string_view defaultColumn) {
  if (defaultColumn.empty() || defaultColumn.front() != '<' || (defaultColumn.size() >= 2 && defaultColumn.back() == '>')) {
    return;
  }
  warn(line, "the default " + inQuotes(defaultColumn) + " of " + inQuotes(caption) +
                 " opens a composite with \"<\" that no \">\" closes at its end, so it is taken as literal text");
}

void IniWarnings::composite(int line, std::int16_t index) { composites_.push_back({line, "", index}); }

void IniWarnings::headerWarnings() {
  if (headers_.empty()) return;
  std::unordered_set<std::string> declared;
  NearMisses near;
  for (const char* fixed : {"[Groups]", "[Commands]"}) near.add(fixed);
  for (const auto& group : model_.groups) {
    const std::string groupHeader = "[" + std::string(group.name) + "]";
    declared.insert(groupHeader);
    near.add(groupHeader);
    for (const auto& field : group.fields) {
      const std::string fieldHeader = "[" + std::string(field.caption) + "]";
      declared.insert(fieldHeader);
      near.add(fieldHeader);
    }
  }
  for (const auto& h : headers_) {
    if (declared.contains(h.text)) {
      warn(h.line, "section " + h.text + " comes before the line that declares its name, so it is ignored");
    } else {
      warn(h.line, "section header " + h.text + " matches no group or field, so its lines are ignored" +
                       near.of(h.text));
    }
  }
}

// Parts are looked up among all fields, wherever declared. A part without letters
// or digits that names no field is a separator, taken as literal text on purpose.
void IniWarnings::compositeWarnings() {
  if (composites_.empty()) return;
  NearMisses near;
  for (const auto& group : model_.groups)
    for (const auto& field : group.fields) near.add(std::string(field.caption));
  for (const auto& pending : composites_) {
    const pagedef::CompositeDef& c = model_.composites.at(pending.index);
    const auto& target = model_.groups.at(c.groupIndex).fields.at(c.fieldIndex);
    if (!target.isTextBox()) {
      warn(pending.line, "composite field " + inQuotes(target.caption) + " has list entries, so it is never built");
    }
    for (const auto& part : c.parts) {
      const bool marked = !part.empty() && part.front() == '^';
      const std::string name(marked ? part.substr(1) : part);
      if (!model_.names().fields(name).empty() || (!marked && !hasLetterOrDigit(name))) continue;
      warn(pending.line, "composite part " + inQuotes(part) + " of " + inQuotes(target.caption) +
                             " names no field, so it is taken as literal text" + near.of(name));
    }
  }
}

namespace {

// Which composites each one reads the text of: the composite text boxes its parts name.
std::vector<std::vector<std::int16_t>> compositeUses(const pagedef::PageDefinition& model) {
  std::vector<std::vector<std::int16_t>> uses(model.composites.size());
  for (std::size_t i = 0; i < model.composites.size(); ++i) {
    for (const auto& part : model.composites[i].parts) {
      const std::string_view name = !part.empty() && part.front() == '^' ? part.substr(1) : part;
      for (const pagedef::FieldRef at : model.names().fields(name)) {
        const pagedef::FieldDef& f = model.groups[at.group].fields[at.field];
        if (f.isTextBox() && f.composite >= 0) uses[i].push_back(f.composite);
      }
    }
  }
  return uses;
}

// The strongly connected parts of the graph of uses (Tarjan's, without recursion, as
// a file may chain thousands): component[i] for each composite, numbered from 0.
std::vector<int> components(const std::vector<std::vector<std::int16_t>>& uses) {
  const int n = static_cast<int>(uses.size());
  std::vector<int> order(n, -1), low(n, 0), component(n, -1), stack;
  std::vector<std::pair<int, std::size_t>> path;  // node, next edge to follow
  int counter = 0, found = 0;
  for (int root = 0; root < n; ++root) {
    if (order[root] >= 0) continue;
    path.push_back({root, 0});
    order[root] = low[root] = counter++;
    stack.push_back(root);
    while (!path.empty()) {
      auto& [v, edge] = path.back();
      if (edge < uses[v].size()) {
        const int w = uses[v][edge++];
        if (order[w] < 0) {
          order[w] = low[w] = counter++;
          stack.push_back(w);
          path.push_back({w, 0});
        } else if (component[w] < 0) {
          low[v] = std::min(low[v], order[w]);
        }
        continue;
      }
      const int done = v;
      path.pop_back();
      if (!path.empty()) low[path.back().first] = std::min(low[path.back().first], low[done]);
      if (low[done] != order[done]) continue;
      for (int w = -1; w != done;) {
        w = stack.back();
        stack.pop_back();
        component[w] = found;
      }
      ++found;
    }
  }
  return component;
}

}  // namespace

// The page builds composites in file order, again until they agree: a composite that
// uses one declared below it costs a second pass, and a cycle never agrees.
void IniWarnings::compositeOrderWarnings() {
  if (composites_.empty()) return;
  const auto uses = compositeUses(model_);
  const auto component = components(uses);
  auto captionOf = [&](std::int16_t i) {
    const pagedef::CompositeDef& c = model_.composites[i];
    return inQuotes(model_.groups[c.groupIndex].fields[c.fieldIndex].caption);
  };
  std::vector<std::vector<std::int16_t>> members(composites_.size());
  for (std::size_t i = 0; i < uses.size(); ++i) members[component[i]].push_back(static_cast<std::int16_t>(i));
  for (const auto& cycle : members) {
    if (cycle.empty()) continue;
    const std::int16_t first = cycle.front();
    const bool selfUse = std::ranges::find(uses[first], first) != uses[first].end();
    if (cycle.size() == 1 && !selfUse) continue;
    std::string names;
    for (std::int16_t i : cycle) names += (names.empty() ? "" : ", ") + captionOf(i);
    warn(composites_[first].line,
         cycle.size() == 1 ? "composite field " + names + " uses itself, so its text grows with every change"
                           : "composite fields " + names +
                                 " use one another, so their text grows with every change");
  }
  for (std::size_t i = 0; i < uses.size(); ++i) {
    for (std::int16_t j : uses[i]) {
      if (j <= static_cast<std::int16_t>(i) || component[j] == component[i]) continue;
      warn(composites_[i].line, "composite field " + captionOf(static_cast<std::int16_t>(i)) + " uses " +
                                    captionOf(j) + ", a composite declared below it on line " +
                                    std::to_string(composites_[j].line) +
                                    ", so every change builds the composites again; declare " +
                                    captionOf(j) + " first");
      break;
    }
  }
}

std::vector<IniWarning> IniWarnings::finish() {
  headerWarnings();
  compositeWarnings();
  compositeOrderWarnings();
  std::ranges::stable_sort(warnings_, {}, &IniWarning::line);
  return std::move(warnings_);
}

}  // namespace kelvane::cli

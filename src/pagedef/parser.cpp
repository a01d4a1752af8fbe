#include "pagedef/parser.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <exception>
#include <limits>

#include "common/checked.h"
#include "common/text.h"
#include "common/words.h"

namespace kelvane::pagedef {

namespace {

constexpr std::string_view kGroupsHeader = "[Groups]";
constexpr std::string_view kCommandsHeader = "[Commands]";
constexpr std::size_t kFirstItems = 4;

// A line whose first byte is one of these (or that is empty) is ignored whole. The
// bytes are ASCII, so a character of several bytes never matches.
bool isBlankLineStart(char first) {
  return first == '\r' || first == '\b' || first == '\t' || first == '\n' || first == ' ';
}

bool isTrueValue(std::string_view v) {
  return v == "True" || v == "TRUE" || v == "Yes" || v == "YES" || v == "1" || v.empty();
}

// The name inside "[...]", or nothing when `header` is not bracketed.
bool bracketedName(std::string_view header, std::string_view& name) {
  if (header.size() < 2 || header.front() != '[' || header.back() != ']') return false;
  name = header.substr(1, header.size() - 2);
  return true;
}

bool encloses(std::string_view s, char open, char close) {
  return s.size() >= 2 && s.front() == open && s.back() == close;
}

// A word at a time: a blank (0x20) becomes "_" (0x5F) by flipping its low seven bits.
void blanksToUnderscores(char* p, std::size_t n) {
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const std::uint64_t word = words::load64(p + i);
    const std::uint64_t flipped = word ^ ((words::bytesEqual(word, ' ') >> 7) * 0x7F);
    std::memcpy(p + i, &flipped, sizeof flipped);
  }
  for (; i < n; ++i) p[i] = p[i] == ' ' ? '_' : p[i];
}

// The fourth column of a field line: an optional sign and decimal digits once the
// blanks are gone, within the 16-bit range.
std::int16_t auxNumberOf(std::string_view column) {
  std::string_view rest = text::trimmedView(column);
  const bool negative = !rest.empty() && rest.front() == '-';
  if (!rest.empty() && (rest.front() == '-' || rest.front() == '+')) rest.remove_prefix(1);
  long magnitude = 0;
  bool valid = false;
  for (char c : rest) {
    if (c == ' ') continue;
    if (c < '0' || c > '9' || magnitude > 32768) {
      valid = false;
      break;
    }
    magnitude = magnitude * 10 + (c - '0');
    valid = true;
  }
  const long value = negative ? -magnitude : magnitude;
  if (!valid || value < std::numeric_limits<std::int16_t>::min() ||
      value > std::numeric_limits<std::int16_t>::max()) {
    throw DefinitionError("not a 16-bit number: '" + std::string(column) + "'");
  }
  return static_cast<std::int16_t>(value);
}

// `value` with the pattern "0.00": two decimals, `separator` as the decimal point.
// Rounds the number as it was typed, not its binary double: on 15 significant
// digits, half away from zero, so that 2.675 shows as 2.68.
std::string formatTwoDecimals(double value, const std::string& separator) {
  if (!std::isfinite(value)) throw DefinitionError("density is not a number");
  char buffer[32];
  auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                    std::chars_format::scientific, 14);
  if (error != std::errc()) throw DefinitionError("density cannot be formatted");
  // buffer: "d.dddddddddddddde[+-]x..."
  std::string_view sci(buffer, end);
  const std::size_t e = sci.find('e');
  std::string digits = std::string(sci.substr(0, 1)) + std::string(sci.substr(2, e - 2));
  int exponent = 0;
  std::string_view exp = sci.substr(e + 1);
  if (exp.front() == '+') exp.remove_prefix(1);
  std::from_chars(exp.data(), exp.data() + exp.size(), exponent);

  // Hundredths: the digits down to the second decimal, rounded on the next one.
  const long keep = exponent + 3L;
  std::string hundredths;
  if (keep <= 0) {
    hundredths = (keep == 0 && digits[0] >= '5') ? "1" : "0";
  } else if (keep >= static_cast<long>(digits.size())) {
    hundredths = digits + std::string(keep - digits.size(), '0');
  } else {
    hundredths = digits.substr(0, keep);
    if (digits[keep] >= '5') {
      std::size_t i = hundredths.size();
      while (i > 0 && hundredths[i - 1] == '9') hundredths[--i] = '0';
      if (i == 0) hundredths.insert(hundredths.begin(), '1');
      else ++hundredths[i - 1];
    }
  }
  if (hundredths.size() < 3) hundredths.insert(0, 3 - hundredths.size(), '0');
  const bool zero = hundredths.find_first_not_of('0') == std::string::npos;
  std::string out = (value < 0 && !zero) ? "-" : "";
  out += hundredths.substr(0, hundredths.size() - 2);
  out += separator;
  out += hundredths.substr(hundredths.size() - 2);
  return out;
}

}  // namespace

std::string lineErrorText(int line) {
  return "Error caused by line " + std::to_string(line) + " of " + kIniFileName;
}

LineParser::LineParser(PageDefinition& model, platform::Platform& platform,
                       host::Application* app, ParseObserver* observer)
    : model_(model), platform_(platform), app_(app), observer_(observer) {
  model_.clear();
  model_.useConfigs = false;
  model_.enableIniEdit = false;
}

void LineParser::parseLine(std::string_view raw) {
  ++line_;
  const char first = raw.empty() ? '\0' : raw.front();
  if (first == '#') return;
  if (raw.empty() || isBlankLineStart(first)) {
    if (observer_) observer_->ignoredLine(line_, raw);
    return;
  }

  const std::string_view work = scan(raw);
  if (first == '[') return sectionHeader(work);
  if (first == ':') return optionLine(work);
  switch (section_) {
    case Section::Start:
      if (observer_) observer_->lineBeforeSections(line_);
      return;
    case Section::Ignore: return;
    case Section::Groups: return groupLine(work);
    case Section::Fields: return fieldLine(work);
    case Section::Entries: return entryLine(work);
  }
}

std::string_view LineParser::scan(std::string_view raw) {
  // One pass finds the "#", the tabs and the ";" breaks, eight bytes at a time where
  // the bytes sit in a word in reading order.
  breaks_.clear();
  bool tabs = false;
  std::size_t end = raw.size();
  std::size_t i = 0;
  if constexpr (words::kInReadingOrder) {
    for (; i + 8 <= raw.size(); i += 8) {
      const std::uint64_t word = words::load64(raw.data() + i);
      std::uint64_t semis = words::bytesEqual(word, ';');
      std::uint64_t tabBytes = words::bytesEqual(word, '\t');
      const std::uint64_t comment = words::bytesEqual(word, '#');
      if (comment) {  // keep only what lies before it
        const std::uint64_t before = (comment & -comment) - 1;
        semis &= before;
        tabBytes &= before;
      }
      tabs |= tabBytes != 0;
      for (; semis; semis &= semis - 1) breaks_.push_back(i + std::countr_zero(semis) / 8);
      if (comment) {
        end = i + std::countr_zero(comment) / 8;
        i = raw.size();
        break;
      }
    }
  }
  for (; i < raw.size(); ++i) {
    const char c = raw[i];
    if (c == '#') {
      end = i;
      break;
    }
    if (c == ';') breaks_.push_back(i);
    else if (c == '\t') tabs = true;
  }

  std::string_view text = raw.substr(0, end);
  if (tabs) {  // rare: the copy keeps every offset
    tabless_.assign(text);
    for (char& c : tabless_) c = c == '\t' ? ' ' : c;
    text = tabless_;
  }
  const std::string_view work = text::trimmedView(text);
  trimmed_ = static_cast<std::size_t>(work.data() - text.data());
  return work;
}

void LineParser::splitColumns(std::string_view work) {
  // A ";" is never a blank, so every break lies inside the trimmed text.
  columns_.clear();
  std::size_t start = 0;
  for (std::size_t at : breaks_) {
    columns_.push_back(work.substr(start, at - trimmed_ - start));
    start = at - trimmed_ + 1;
  }
  columns_.push_back(work.substr(start));
}

NameIndex::Named LineParser::lookUpSection(std::string_view header) const {
  if (model_.groups.empty()) throw DefinitionError("section before any group: " + std::string(header));
  std::string_view name;
  if (!bracketedName(header, name)) return {};
  return model_.names().find(name);
}

bool LineParser::findFieldSection(std::string_view header, std::int16_t& group,
                                  std::int16_t& field) const {
  group = -1;
  field = -1;
  const auto fields = lookUpSection(header).fields;
  group = fields.empty() ? -1 : fields.front().group;
  field = fields.empty() ? -1 : fields.front().field;
  return !fields.empty();
}

bool LineParser::findGroupSection(std::string_view header, std::int16_t& group) const {
  group = -1;
  group = lookUpSection(header).group;
  return group >= 0;
}

void LineParser::sectionHeader(std::string_view header) {
  if (header == kGroupsHeader) {
    section_ = Section::Groups;
    return;
  }
  if (header == kCommandsHeader) {
    section_ = Section::Ignore;
    return;
  }
  // A field's caption wins over a group's name.
  const NameIndex::Named named = lookUpSection(header);
  if (!named.fields.empty()) {
    section_ = Section::Entries;
    group_ = named.fields.front().group;
    field_ = named.fields.front().field;
  } else if (named.group >= 0) {
    section_ = Section::Fields;
    group_ = named.group;
  } else {
    section_ = Section::Ignore;
    if (observer_) observer_->unmatchedHeader(line_, header);
  }
}

void LineParser::optionLine(std::string_view line) {
  auto eq = line.find('=');
  if (eq == std::string_view::npos) {
    if (observer_) observer_->optionWithoutValue(line_);
    return;
  }
  std::string_view key = line.substr(0, eq);
  std::string_view value = line.substr(eq + 1);
  value = value.substr(0, value.find('='));
  if (observer_) observer_->option(line_, key, value);
  if (key == ":USE_CONFIGS") {
    model_.useConfigs = isTrueValue(value);
  } else if (key == ":ENABLE_INI_EDIT") {
    model_.enableIniEdit = isTrueValue(value);
  }
}

void LineParser::groupLine(std::string_view line) {
  const bool collapsed = !line.empty() && line.back() == '-';
  if (collapsed) line.remove_suffix(1);
  // The group is appended before the count is checked; the failing line leaves it.
  GroupDef& group = model_.addGroup(text::trimmedView(line));
  group.expanded = !collapsed;
  checked16(static_cast<long long>(model_.groups.size()), "group count");
}

void LineParser::fieldLine(std::string_view line) {
  splitColumns(line);
  auto index = checked16(static_cast<long long>(model_.groups[group_].fields.size()), "field index");

  std::string_view caption = columns_[0];
  const bool remember = !caption.empty() && caption.front() == '!';
  if (remember) caption.remove_prefix(1);
  FieldDef& field = model_.addField(group_, text::trimmedView(caption));
  field.remember = remember;

  // The property name: the given one, else the caption in proper case; no blanks.
  const std::string_view property = columns_.size() > 1 ? text::trimmedView(columns_[1]) : "";
  const std::string_view source = property.empty() ? field.caption : property;
  char* name = model_.allocate(source.size());
  std::copy(source.begin(), source.end(), name);
  if (property.empty()) text::properCaseInPlace(name, source.size());
  blanksToUnderscores(name, source.size());
  field.propName = {name, source.size()};

  const std::string_view defaultColumn = columns_.size() > 2 ? text::trimmedView(columns_[2]) : "";
  if (observer_) observer_->field(line_, {group_, index}, defaultColumn);
  if (columns_.size() > 2) setDefault(field, index, defaultColumn);
  if (columns_.size() > 3) field.auxNumber = auxNumberOf(columns_[3]);
}

void LineParser::setDefault(FieldDef& field, std::int16_t fieldIndex, std::string_view column) {
  if (encloses(column, '{', '}')) {
    field.defaultValue = placeholderValue(column);
  } else if (encloses(column, '<', '>')) {
    checked16(static_cast<long long>(model_.composites.size()), "composite index");
    CompositeDef& composite = model_.composites.emplace_back();
    composite.groupIndex = group_;
    composite.fieldIndex = fieldIndex;
    const std::string_view formula = model_.keep(column.substr(1, column.size() - 2));
    if (!formula.empty()) {
      text::splitViews(formula, '!', parts_);
      composite.parts = model_.keep(parts_);
    }
    field.defaultValue = kCompositeMark;
    field.composite = model_.lastComposite();
    if (observer_) observer_->composite(line_, model_.lastComposite());
  } else {
    field.defaultValue = model_.keep(column);
  }
}

std::string_view LineParser::placeholderValue(std::string_view placeholder) {
  if (placeholder == "{MASS}" || placeholder == "{VOLUME}") return "";
  const bool title = placeholder == "{FILE_NAME}";
  if (!title && placeholder != "{DENSITY}") return model_.keep(placeholder);

  std::shared_ptr<host::Document> doc = app_ ? app_->ActiveDoc() : nullptr;
  if (!doc) throw DefinitionError("no active document for " + std::string(placeholder));
  if (title) return model_.keep(doc->GetTitle());
  return model_.keep(
      formatTwoDecimals(doc->GetUserPreferenceDoubleValue(host::code::kPreferenceDensity),
                        platform_.DecimalSeparator()));
}

void LineParser::entryLine(std::string_view line) {
  splitColumns(line);
  FieldDef& field = model_.groups[group_].fields[field_];
  checked16(static_cast<long long>(field.items.size()), "list entry index");
  if (field.items.capacity() == 0) field.items.reserve(kFirstItems);  // a list has a few
  ListItem& item = field.items.emplace_back();

  std::string_view entry = columns_[0];
  const bool isDefault = !entry.empty() && entry.front() == '*';
  if (isDefault) entry.remove_prefix(1);
  item.text = model_.keep(text::trimmedView(entry));
  if (isDefault) field.defaultValue = item.text;
  if (columns_.size() == 2) item.code = model_.keep(text::trimmedView(columns_[1]));
}

ParseResult parsePageDefinition(PageDefinition& model, platform::Platform& platform,
                                host::Application* app, ParseObserver* observer) {
  LineParser parser(model, platform, app, observer);
  const std::string path = platform::joinPath(platform, platform.ModuleFolder(), kIniFileName);
  // A failing existence test is not the file's fault: it reaches the caller.
  if (!platform.FileExists(path)) return {};

  std::int16_t line = 0;
  std::unique_ptr<platform::LineReader> reader;
  LineError error;
  try {
    reader = platform.OpenTextFile(path);
    while (!reader->AtEndOfStream()) {
      parser.parseLine(reader->ReadLineView());
      line = checked16(line + 1, "line number");
    }
    auto done = std::move(reader);  // a failing Close is not tried twice
    done->Close();
    return {};
  } catch (const std::exception& e) {
    error = {line, e.what()};
  }

  // A line error: tell the observer, then let go of the file.
  auto closeQuietly = [&reader] {
    if (!reader) return;
    try {
      reader->Close();
    } catch (const std::exception&) {
    }
  };
  try {
    if (observer) observer->lineError(error);
  } catch (...) {
    closeQuietly();
    throw;
  }
  closeQuietly();
  return {std::move(error)};
}

namespace {

class MessageBoxOnError : public ParseObserver {
 public:
  MessageBoxOnError(platform::Platform& platform, const FailureHook& onFailure)
      : platform_(platform), onFailure_(onFailure) {}
  void lineError(const LineError& error) override {
    noteFailure(onFailure_, "parsePageDefinition", std::runtime_error(error.reason));
    platform_.ShowMessage(lineErrorText(error.line));
  }

 private:
  platform::Platform& platform_;
  const FailureHook& onFailure_;
};

}  // namespace

bool readPageDefinition(PageDefinition& model, platform::Platform& platform,
                        host::Application* app, const FailureHook& onFailure) {
  MessageBoxOnError messageBox(platform, onFailure);
  return parsePageDefinition(model, platform, app, &messageBox).read();
}

}  // namespace kelvane::pagedef

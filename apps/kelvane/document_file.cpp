#include "document_file.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <istream>
#include <iterator>
#include <string_view>
#include <unordered_map>
#include <utility>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kelvane::cli {

namespace {

constexpr const char* kMembers[] = {"title",      "density",
                                    "configurations", "activeConfiguration",
                                    "properties", "configurationProperties"};

[[noreturn]] void refuse(const std::string& problem) { throw DocumentError(problem); }

std::string inQuotes(const std::string& s) { return "\"" + s + "\""; }

// ---- reading input files whole ----

std::string tooLarge(std::uintmax_t limit) { return "is larger than " + std::to_string(limit >> 20) + " MiB"; }

#ifndef _WIN32
std::optional<std::string> notRegular(mode_t mode) {
  if (S_ISREG(mode)) return std::nullopt;
  if (S_ISDIR(mode)) return "is a folder, not a file";
  if (S_ISFIFO(mode)) return "is a FIFO, not a file";
  if (S_ISSOCK(mode)) return "is a socket, not a file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device, not a file";
  return "is not a regular file";
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { ::close(fd_); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

 private:
  int fd_;
};
#endif

// ---- a JSON tree that keeps members in order and costs linear time to build ----

struct JsonMember;

struct JsonValue {
  enum class Type : std::uint8_t { Null, Boolean, Number, String, Array, Object };
  Type type = Type::Null;
  double number = 0;
  std::string text;
  std::vector<JsonValue> elements;
  std::vector<JsonMember> members;

  bool is(Type t) const { return type == t; }
  JsonValue* find(std::string_view key);
  std::string typeName() const;
};

struct JsonMember {
  std::string key;
  JsonValue value;
  std::uint64_t order = 0;  // of the key among all keys of the text
};

JsonValue* JsonValue::find(std::string_view key) {
  for (auto& m : members) {
    if (m.key == key) return &m.value;
  }
  return nullptr;
}

std::string JsonValue::typeName() const {
  switch (type) {
    case Type::Null: return "null";
    case Type::Boolean: return "boolean";
    case Type::Number: return "number";
    case Type::String: return "string";
    case Type::Array: return "array";
    case Type::Object: return "object";
  }
  return "value";
}

// nlohmann's messages begin with an id such as "[json.exception.parse_error.101] ".
std::string withoutExceptionId(const std::string& what) {
  const auto end = what.find("] ");
  return !what.empty() && what.front() == '[' && end != std::string::npos ? what.substr(end + 2) : what;
}

// Builds a JsonValue from the parser's events. The plain parser keeps the last of two
// equal keys without a word; a document that says two things about one member is
// refused instead, naming the first repeated key met in the text.
class TreeBuilder : public nlohmann::json_sax<nlohmann::json> {
 public:
  JsonValue root;
  std::string error;      // the parser's message, when the text is not JSON

  // The first key met twice in one object, or "".
  const std::string& duplicate() const { return duplicate_; }

  bool null() override { return add(JsonValue::Type::Null); }
  bool boolean(bool) override { return add(JsonValue::Type::Boolean); }
  bool number_integer(number_integer_t n) override { return addNumber(static_cast<double>(n)); }
  bool number_unsigned(number_unsigned_t n) override { return addNumber(static_cast<double>(n)); }
  bool number_float(number_float_t n, const string_t&) override { return addNumber(n); }
  bool string(string_t& s) override {
    JsonValue& v = place();
    v.type = JsonValue::Type::String;
    v.text = std::move(s);
    return true;
  }
  bool binary(binary_t&) override { return add(JsonValue::Type::Null); }
  bool start_object(std::size_t) override {
    open_.push_back(&place());
    open_.back()->type = JsonValue::Type::Object;
    return true;
  }
  bool key(string_t& k) override {
    open_.back()->members.push_back({std::move(k), {}, keys_++});
    return true;
  }
  // The keys are checked once the object is whole, in one open-addressed table of
  // member positions sized for them: no copies of the keys, no allocation per key.
  bool end_object() override {
    const auto& members = open_.back()->members;
    if (members.size() > 1) {
      const std::size_t mask = std::bit_ceil(members.size() * 2) - 1;
      slots_.assign(mask + 1, 0);
      for (std::size_t i = 0; i < members.size(); ++i) {
        const std::string& key = members[i].key;
        std::size_t slot = std::hash<std::string_view>{}(key) & mask;
        while (slots_[slot] != 0 && members[slots_[slot] - 1].key != key) slot = (slot + 1) & mask;
        if (slots_[slot] == 0) {
          slots_[slot] = i + 1;
          continue;
        }
        if (members[i].order < duplicateOrder_) {
          duplicateOrder_ = members[i].order;
          duplicate_ = key;
        }
        break;
      }
    }
    open_.pop_back();
    return true;
  }
  bool start_array(std::size_t) override {
    open_.push_back(&place());
    open_.back()->type = JsonValue::Type::Array;
    return true;
  }
  bool end_array() override {
    open_.pop_back();
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
    error = withoutExceptionId(e.what());
    return false;
  }

 private:
  // Where the next value goes: the root, the member whose key came last, or a new
  // element. Only the innermost open container grows, so the pointers to the open
  // ones stay valid.
  JsonValue& place() {
    if (open_.empty()) return root;
    JsonValue& parent = *open_.back();
    if (parent.is(JsonValue::Type::Object)) {
      return parent.members.back().value;
    }
    return parent.elements.emplace_back();
  }
  bool add(JsonValue::Type type) {
    place().type = type;
    return true;
  }
  bool addNumber(double n) {
    JsonValue& v = place();
    v.type = JsonValue::Type::Number;
    v.number = n;
    return true;
  }

  std::vector<JsonValue*> open_;
  std::uint64_t keys_ = 0;
  std::vector<std::size_t> slots_;  // member position + 1; 0: free
  std::uint64_t duplicateOrder_ = UINT64_MAX;
  std::string duplicate_;
};

JsonValue parseJson(const std::string& text) {
  TreeBuilder builder;
  if (!nlohmann::json::sax_parse(text, &builder)) refuse("not valid JSON: " + builder.error);
  // The parser takes a NUL byte for the end of the text: what follows would be
  // dropped silently at the next write.
  if (const auto nul = text.find('\0'); nul != std::string::npos) {
    refuse("not valid JSON: a NUL byte at byte " + std::to_string(nul + 1) + " ends the document early");
  }
  if (!builder.duplicate().empty()) {
    refuse("the member " + inQuotes(builder.duplicate()) + " appears twice in one object");
  }
  return std::move(builder.root);
}

// ---- from the tree to the document ----

// Configuration name -> its position, built once.
using ConfigurationIndex = std::unordered_map<std::string, int>;

int indexOf(const ConfigurationIndex& index, const std::string& name) {
  const auto found = index.find(name);
  return found == index.end() ? -1 : found->second;
}

void readProperties(JsonValue& j, const std::string& where, sim::PropertySet& into) {
  if (!j.is(JsonValue::Type::Object)) refuse(where + " must be an object whose values are strings");
  for (auto& m : j.members) {
    if (!m.value.is(JsonValue::Type::String)) refuse(where + ": the value of " + inQuotes(m.key) + " must be a string");
    // The host matches property names without regard to letter case.
    if (!into.add(m.key, m.value.text)) {
      refuse(where + ": " + inQuotes(m.key) + " names a property given before (names ignore letter case)");
    }
  }
  // The tree's copy is done with: freed now, the document's grows in its place.
  std::vector<JsonMember>().swap(j.members);
}

ConfigurationIndex readConfigurations(const JsonValue& j, sim::SimDocument& doc) {
  ConfigurationIndex index;
  if (!j.is(JsonValue::Type::Array)) refuse("\"configurations\" must be an array of strings");
  for (const auto& name : j.elements) {
    if (!name.is(JsonValue::Type::String)) refuse("\"configurations\" must be an array of strings");
    // "" addresses the document-wide properties in every host call.
    if (name.text.empty()) refuse("\"configurations\" holds an empty name");
    if (!index.emplace(name.text, static_cast<int>(index.size())).second) {
      refuse("\"configurations\" lists " + inQuotes(name.text) + " twice");
    }
    doc.addConfiguration(name.text);
  }
  return index;
}

// The properties of configuration `name` as stored, or null.
const sim::PropertySet* propertiesOf(const sim::SimDocument& doc, const std::string& name) {
  const auto found = doc.configurationProperties.find(name);
  return found == doc.configurationProperties.end() ? nullptr : &found->second;
}

// A scope's properties in one string, each name and value after its length (the
// bytes of a std::size_t), so that two strings are equal exactly when the
// properties are.
std::string packed(const sim::PropertySet* set) {
  std::string out;
  if (!set) return out;
  std::size_t size = 0;
  for (const auto& p : set->all()) size += 2 * sizeof(std::size_t) + p.name.size() + p.value.size();
  out.reserve(size);
  for (const auto& p : set->all()) {
    for (const std::string* s : {&p.name, &p.value}) {
      const std::size_t n = s->size();
      out.append(reinterpret_cast<const char*>(&n), sizeof n);
      out += *s;
    }
  }
  return out;
}

// Whether `set` packs to `recorded`, without packing it.
bool packsTo(const std::string& recorded, const sim::PropertySet* set) {
  std::string_view rest = recorded;
  if (set) {
    for (const auto& p : set->all()) {
      for (const std::string* s : {&p.name, &p.value}) {
        const std::size_t n = s->size();
        if (rest.size() < sizeof n + n || std::memcmp(rest.data(), &n, sizeof n) != 0 ||
            rest.substr(sizeof n, n) != *s) {
          return false;
        }
        rest.remove_prefix(sizeof n + n);
      }
    }
  }
  return rest.empty();
}

// ---- from the document to JSON ----

Json numberJson(double value) {
  // Whole numbers stay whole, so that a density written as 7850 reads back as 7850.
  if (std::trunc(value) == value && std::fabs(value) < 9.0e15) return static_cast<std::int64_t>(value);
  return value;
}

// Members go straight to the end of the object: its keys are distinct by construction,
// and the object's own insertion would search the keys before it each time.
void append(Json& object, const std::string& key, Json value) {
  auto& members = static_cast<std::vector<std::pair<const std::string, Json>>&>(object.get_ref<Json::object_t&>());
  members.emplace_back(key, std::move(value));
}

Json propertiesJson(const sim::PropertySet* set) {
  Json j = Json::object();
  if (set) {
    for (const auto& p : set->all()) append(j, p.name, p.value);
  }
  return j;
}

// A JSON string as the JSON library writes it: text without quotes, backslashes,
// control or non-ASCII bytes as it is, the rest through the library.
void writeString(std::string& out, const std::string& s) {
  const bool plain = std::all_of(s.begin(), s.end(), [](char c) {
    return c >= 0x20 && c < 0x7f && c != '"' && c != '\\';
  });
  if (!plain) {
    out += oneLine(Json(s));
    return;
  }
  out += '"';
  out += s;
  out += '"';
}

// `{` ... `}` with one member per line at `indent`, or `{}` when empty.
template <typename Range, typename WriteMember>
void writeObject(std::string& out, const Range& members, const std::string& indent, WriteMember&& writeMember) {
  if (members.empty()) {
    out += "{}";
    return;
  }
  out += "{\n";
  bool first = true;
  for (const auto& m : members) {
    if (!first) out += ",\n";
    first = false;
    out += indent;
    writeMember(m);
  }
  out += '\n';
  out.append(indent.size() - 2, ' ');
  out += '}';
}

void writeProperties(std::string& out, const sim::PropertySet* set, const std::string& indent) {
  static const std::vector<sim::PropertySet::Property> none;
  writeObject(out, set ? set->all() : none, indent, [&](const sim::PropertySet::Property& p) {
    writeString(out, p.name);
    out += ": ";
    writeString(out, p.value);
  });
}

}  // namespace

std::optional<std::string> notARegularFile(const std::string& path) {
#ifdef _WIN32
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (!std::filesystem::exists(status)) return "no such file";
  if (std::filesystem::is_directory(status)) return "is a folder, not a file";
  if (!std::filesystem::is_regular_file(status)) return "is not a regular file";
  return std::nullopt;
#else
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return "no such file";
  return notRegular(st.st_mode);
#endif
}

std::string readInputFile(const std::string& path, const std::string& what, std::uintmax_t limit) {
#ifdef _WIN32
  if (auto problem = notARegularFile(path); problem && *problem != "no such file") throw ReadError(*problem);
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ReadError("cannot open" + what + ": " + std::strerror(errno));
  std::error_code ec;
  if (std::filesystem::file_size(path, ec) > limit && !ec) throw ReadError(tooLarge(limit));
  std::string text = readInputStream(in, limit);
  if (in.bad()) throw ReadError("cannot read" + what + ": " + std::strerror(errno));
  return text;
#else
  // Refused before the open: opening a FIFO waits for a writer, and a device's open
  // may act on it.
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (auto problem = notRegular(st.st_mode)) throw ReadError(*problem);
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw ReadError("cannot open" + what + ": " + std::strerror(errno));
  Descriptor file(fd);
  // The name may have been pointed elsewhere between the two looks.
  if (::fstat(fd, &st) != 0) throw ReadError("cannot read" + what + ": " + std::strerror(errno));
  if (auto problem = notRegular(st.st_mode)) throw ReadError(*problem);
  if (static_cast<std::uintmax_t>(st.st_size) > limit) throw ReadError(tooLarge(limit));

  std::string text;
  text.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      throw ReadError("cannot read" + what + ": " + std::strerror(errno));
    }
    // A file that grows while it is read is held to the same limit.
    if (text.size() + static_cast<std::size_t>(n) > limit) throw ReadError(tooLarge(limit));
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
#endif
}

std::string readInputStream(std::istream& in, std::uintmax_t limit) {
  std::string text;
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    const auto n = static_cast<std::size_t>(in.gcount());
    if (text.size() + n > limit) throw ReadError(tooLarge(limit));
    text.append(buffer, n);
  }
  return text;
}

void parseDocument(const std::string& text, sim::SimDocument& doc) {
  JsonValue j = parseJson(text);
  if (!j.is(JsonValue::Type::Object)) refuse("a document must be a JSON object, not a JSON " + j.typeName());
  for (const auto& member : j.members) {
    if (std::ranges::find(kMembers, member.key) == std::end(kMembers)) refuse("unknown member " + inQuotes(member.key));
  }
  if (auto* it = j.find("title")) {
    if (!it->is(JsonValue::Type::String)) refuse("\"title\" must be a string");
    doc.title = it->text;
  }
  if (auto* it = j.find("density")) {
    if (!it->is(JsonValue::Type::Number)) refuse("\"density\" must be a number");
    doc.density = it->number;
  }
  ConfigurationIndex configurations;
  if (auto* it = j.find("configurations")) configurations = readConfigurations(*it, doc);
  doc.activeConfiguration = 0;
  if (auto* it = j.find("activeConfiguration")) {
    if (!it->is(JsonValue::Type::String)) refuse("\"activeConfiguration\" must be a string");
    const int index = indexOf(configurations, it->text);
    if (index < 0) refuse("\"activeConfiguration\" " + oneLine(Json(it->text)) + " is not one of \"configurations\"");
    doc.activeConfiguration = index;
  }
  if (auto* it = j.find("properties")) readProperties(*it, "\"properties\"", doc.properties);
  if (auto* it = j.find("configurationProperties")) {
    if (!it->is(JsonValue::Type::Object)) refuse("\"configurationProperties\" must be an object of objects");
    for (auto& m : it->members) {
      if (indexOf(configurations, m.key) < 0) {
        refuse("\"configurationProperties\" has properties for " + inQuotes(m.key) +
               ", which is not one of \"configurations\"");
      }
      readProperties(m.value, "\"configurationProperties\" of " + inQuotes(m.key), doc.scope(m.key, "read-document"));
    }
  }
}

void loadDocument(const std::string& path, sim::SimDocument& doc) {
  try {
    parseDocument(readInputFile(path), doc);
  } catch (const std::runtime_error& e) {
    throw DocumentError(path + ": " + e.what());
  }
}

Json documentJson(const sim::SimDocument& doc) {
  Json j = Json::object();
  append(j, "title", doc.title);
  append(j, "density", numberJson(doc.density));
  append(j, "configurations", doc.configurations);
  if (doc.activeConfiguration >= 0 && doc.activeConfiguration < static_cast<int>(doc.configurations.size())) {
    append(j, "activeConfiguration", doc.configurations[doc.activeConfiguration]);
  }
  append(j, "properties", propertiesJson(&doc.properties));
  Json perConfiguration = Json::object();
  for (const auto& name : doc.configurations) append(perConfiguration, name, propertiesJson(propertiesOf(doc, name)));
  append(j, "configurationProperties", std::move(perConfiguration));
  return j;
}

std::string documentText(const sim::SimDocument& doc) {
  std::string out = "{\n  \"title\": ";
  writeString(out, doc.title);
  out += ",\n  \"density\": " + oneLine(numberJson(doc.density));
  out += ",\n  \"configurations\": ";
  if (doc.configurations.empty()) {
    out += "[]";
  } else {
    out += "[\n";
    for (std::size_t i = 0; i < doc.configurations.size(); ++i) {
      out += i ? ",\n    " : "    ";
      writeString(out, doc.configurations[i]);
    }
    out += "\n  ]";
  }
  if (doc.activeConfiguration >= 0 && doc.activeConfiguration < static_cast<int>(doc.configurations.size())) {
    out += ",\n  \"activeConfiguration\": ";
    writeString(out, doc.configurations[doc.activeConfiguration]);
  }
  out += ",\n  \"properties\": ";
  writeProperties(out, &doc.properties, "    ");
  out += ",\n  \"configurationProperties\": ";
  writeObject(out, doc.configurations, "    ", [&](const std::string& name) {
    writeString(out, name);
    out += ": ";
    writeProperties(out, propertiesOf(doc, name), "      ");
  });
  out += "\n}\n";
  return out;
}

std::string oneLine(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

DocumentContents contentsOf(const sim::SimDocument& doc) {
  DocumentContents c{doc.title, doc.density, doc.configurations, doc.activeConfiguration, {}};
  c.properties.reserve(doc.configurations.size() + 1);
  c.properties.push_back(packed(&doc.properties));
  for (const auto& name : doc.configurations) c.properties.push_back(packed(propertiesOf(doc, name)));
  return c;
}

bool sameContents(const DocumentContents& c, const sim::SimDocument& doc) {
  if (c.title != doc.title || c.density != doc.density || c.configurations != doc.configurations ||
      c.activeConfiguration != doc.activeConfiguration || c.properties.empty() ||
      !packsTo(c.properties.front(), &doc.properties)) {
    return false;
  }
  for (std::size_t i = 0; i < doc.configurations.size(); ++i) {
    if (!packsTo(c.properties[i + 1], propertiesOf(doc, doc.configurations[i]))) return false;
  }
  return true;
}

}  // namespace kelvane::cli

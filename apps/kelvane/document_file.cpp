#include "document_file.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <vector>

namespace kelvane::cli {

namespace {

constexpr const char* kMembers[] = {"title",      "density",
                                    "configurations", "activeConfiguration",
                                    "properties", "configurationProperties"};

[[noreturn]] void refuse(const std::string& problem) { throw DocumentError(problem); }

std::string inQuotes(const std::string& s) { return "\"" + s + "\""; }

// nlohmann's messages begin with an id such as "[json.exception.parse_error.101] ".
std::string withoutExceptionId(const std::string& what) {
  const auto end = what.find("] ");
  return !what.empty() && what.front() == '[' && end != std::string::npos ? what.substr(end + 2) : what;
}

// The plain parser keeps the last of two equal keys without a word; a document
// that says two things about one member is refused instead.
Json parseJson(const std::string& text) {
  std::vector<std::set<std::string>> keysOfOpenObjects;
  std::string duplicate;
  auto noteKeys = [&](int, Json::parse_event_t event, Json& parsed) {
    using Event = Json::parse_event_t;
    if (event == Event::object_start) {
      keysOfOpenObjects.emplace_back();
    } else if (event == Event::object_end) {
      keysOfOpenObjects.pop_back();
    } else if (event == Event::key) {
      const auto& key = parsed.get_ref<const std::string&>();
      if (!keysOfOpenObjects.back().insert(key).second && duplicate.empty()) duplicate = key;
    }
    return true;
  };
  Json j;
  try {
    j = Json::parse(text, noteKeys);
  } catch (const Json::exception& e) {
    refuse("not valid JSON: " + withoutExceptionId(e.what()));
  }
  if (!duplicate.empty()) refuse("the member " + inQuotes(duplicate) + " appears twice in one object");
  return j;
}

void readProperties(const Json& j, const std::string& where, sim::PropertySet& into) {
  if (!j.is_object()) refuse(where + " must be an object whose values are strings");
  for (const auto& [name, value] : j.items()) {
    if (!value.is_string()) refuse(where + ": the value of " + inQuotes(name) + " must be a string");
    // The host matches property names without regard to letter case.
    if (!into.add(name, value.get<std::string>())) {
      refuse(where + ": " + inQuotes(name) + " names a property given before (names ignore letter case)");
    }
  }
}

void readConfigurations(const Json& j, sim::SimDocument& doc) {
  if (!j.is_array()) refuse("\"configurations\" must be an array of strings");
  for (const auto& name : j) {
    if (!name.is_string()) refuse("\"configurations\" must be an array of strings");
    const auto& text = name.get_ref<const std::string&>();
    // "" addresses the document-wide properties in every host call.
    if (text.empty()) refuse("\"configurations\" holds an empty name");
    if (std::ranges::find(doc.configurations, text) != doc.configurations.end()) {
      refuse("\"configurations\" lists " + inQuotes(text) + " twice");
    }
    doc.addConfiguration(text);
  }
}

int indexOfConfiguration(const sim::SimDocument& doc, const std::string& name) {
  const auto found = std::ranges::find(doc.configurations, name);
  return found == doc.configurations.end() ? -1 : static_cast<int>(found - doc.configurations.begin());
}

Json numberJson(double value) {
  // Whole numbers stay whole, so that a density written as 7850 reads back as 7850.
  if (std::trunc(value) == value && std::fabs(value) < 9.0e15) return static_cast<std::int64_t>(value);
  return value;
}

Json propertiesJson(const sim::PropertySet& set) {
  Json j = Json::object();
  for (const auto& p : set.all()) j[p.name] = p.value;
  return j;
}

std::string readWholeFile(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) refuse("is a folder, not a file");
  std::ifstream in(path, std::ios::binary);
  if (!in) refuse(std::string("cannot open: ") + std::strerror(errno));
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) refuse(std::string("cannot read: ") + std::strerror(errno));
  return text;
}

}  // namespace

void parseDocument(const std::string& text, sim::SimDocument& doc) {
  const Json j = parseJson(text);
  if (!j.is_object()) refuse(std::string("a document must be a JSON object, not a JSON ") + j.type_name());
  for (const auto& [key, value] : j.items()) {
    if (std::ranges::find(kMembers, key) == std::end(kMembers)) refuse("unknown member " + inQuotes(key));
  }
  if (auto it = j.find("title"); it != j.end()) {
    if (!it->is_string()) refuse("\"title\" must be a string");
    doc.title = it->get<std::string>();
  }
  if (auto it = j.find("density"); it != j.end()) {
    if (!it->is_number()) refuse("\"density\" must be a number");
    doc.density = it->get<double>();
  }
  if (auto it = j.find("configurations"); it != j.end()) readConfigurations(*it, doc);
  doc.activeConfiguration = 0;
  if (auto it = j.find("activeConfiguration"); it != j.end()) {
    if (!it->is_string()) refuse("\"activeConfiguration\" must be a string");
    const int index = indexOfConfiguration(doc, it->get<std::string>());
    if (index < 0) refuse("\"activeConfiguration\" " + it->dump() + " is not one of \"configurations\"");
    doc.activeConfiguration = index;
  }
  if (auto it = j.find("properties"); it != j.end()) readProperties(*it, "\"properties\"", doc.properties);
  if (auto it = j.find("configurationProperties"); it != j.end()) {
    if (!it->is_object()) refuse("\"configurationProperties\" must be an object of objects");
    for (const auto& [name, props] : it->items()) {
      if (indexOfConfiguration(doc, name) < 0) {
        refuse("\"configurationProperties\" has properties for " + inQuotes(name) +
               ", which is not one of \"configurations\"");
      }
      readProperties(props, "\"configurationProperties\" of " + inQuotes(name), doc.configurationProperties[name]);
    }
  }
}

void loadDocument(const std::string& path, sim::SimDocument& doc) {
  try {
    parseDocument(readWholeFile(path), doc);
  } catch (const DocumentError& e) {
    throw DocumentError(path + ": " + e.what());
  }
}

Json documentJson(const sim::SimDocument& doc) {
  Json j = Json::object();
  j["title"] = doc.title;
  j["density"] = numberJson(doc.density);
  j["configurations"] = doc.configurations;
  if (doc.activeConfiguration >= 0 && doc.activeConfiguration < static_cast<int>(doc.configurations.size())) {
    j["activeConfiguration"] = doc.configurations[doc.activeConfiguration];
  }
  j["properties"] = propertiesJson(doc.properties);
  Json perConfiguration = Json::object();
  for (const auto& name : doc.configurations) {
    const auto found = doc.configurationProperties.find(name);
    perConfiguration[name] = found == doc.configurationProperties.end() ? Json::object()
                                                                        : propertiesJson(found->second);
  }
  j["configurationProperties"] = std::move(perConfiguration);
  return j;
}

std::string documentText(const sim::SimDocument& doc) {
  return documentJson(doc).dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string oneLine(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

}  // namespace kelvane::cli

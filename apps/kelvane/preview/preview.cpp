#include "preview.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <unordered_map>
#include <utility>

#include "addin/swaddin.h"
#include "atomic_file.h"
#include "check.h"
#include "page_view.h"
#include "pagedef/parser.h"
#include "platform/platform.h"
#include "props/props.h"
#include "state/state.h"

namespace kelvane::cli {

namespace fs = std::filesystem;
using Kind = Command::Kind;

namespace {

std::optional<std::string> readFile(const fs::path& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) throw PreviewError(path.string() + ": cannot open: " + std::strerror(errno));
  std::string bytes(std::istreambuf_iterator<char>(in), {});
  if (in.bad()) throw PreviewError(path.string() + ": cannot read");
  return bytes;
}

// The editor keeps lines apart by LF alone; the file has CR LF.
std::string withoutCr(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

std::string withCrLf(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

Command command(Kind kind, std::int32_t id = 0, std::int32_t number = 0, std::string text = {}) {
  Command c;
  c.kind = kind;
  c.id = id;
  c.number = number;
  c.text = std::move(text);
  return c;
}

// The properties of one scope that differ between two states of a document; `before`
// is null for a scope the earlier state did not have.
void scopeChanges(const sim::PropertySet* before, const sim::PropertySet& after, const std::string& configuration,
                  Json& out) {
  for (const auto& p : after.all()) {
    const auto was = before ? before->get(p.name) : std::nullopt;
    if (was && *was == p.value) continue;
    out.push_back({{"configuration", configuration},
                   {"name", p.name},
                   {"before", was ? Json(*was) : Json(nullptr)},
                   {"after", p.value}});
  }
  if (!before) return;
  for (const auto& p : before->all()) {
    if (!after.get(p.name)) {
      out.push_back({{"configuration", configuration}, {"name", p.name}, {"before", p.value}, {"after", nullptr}});
    }
  }
}

const sim::PropertySet* scopeOf(const sim::SimDocument& doc, const std::string& configuration) {
  if (configuration.empty()) return &doc.properties;
  const auto it = doc.configurationProperties.find(configuration);
  return it == doc.configurationProperties.end() ? nullptr : &it->second;
}

const Json& member(const Json& j, const char* name) {
  static const Json none;
  if (!j.is_object()) return none;
  const auto it = j.find(name);
  return it == j.end() ? none : *it;
}

// A control id or entry index from a request; none when it is missing or no integer.
std::optional<std::int32_t> integerMember(const Json& request, const char* name) {
  const Json& value = member(request, name);
  if (!value.is_number_integer()) return std::nullopt;
  const auto n = value.get<std::int64_t>();
  if (n < std::numeric_limits<std::int32_t>::min() || n > std::numeric_limits<std::int32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(n);
}

std::optional<std::int64_t> sinceOf(const Json& request) {
  const Json& since = member(request, "since");
  if (!since.is_number_integer()) return std::nullopt;
  return since.get<std::int64_t>();
}

// A number that no other run of the preview is likely to have picked.
std::string instanceName() {
  std::random_device random;
  const auto high = static_cast<std::uint64_t>(random()) << 32;
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(high | random()));
  return text;
}

// {"at": at} and the members of `after` that differ from `before`; null when none do.
Json changedMembers(const Json& before, const Json& after, Json at) {
  Json out = {{"at", std::move(at)}};
  for (const auto& [name, value] : after.items()) {
    const auto was = before.find(name);
    if (was == before.end() || *was != value) out[name] = value;
  }
  return out.size() > 1 ? out : Json();
}

// What OK would write changes by a property or two at a time: {"set": [{"configuration",
// "name", "value"}], "unset": [{"configuration", "name"}]}.
Json pendingDelta(const Json& before, const Json& after) {
  const auto key = [](const Json& p) {
    return p["configuration"].get_ref<const std::string&>() + '\0' + p["name"].get_ref<const std::string&>();
  };
  std::unordered_map<std::string, const Json*> was;
  for (const auto& p : before) was.emplace(key(p), &p);
  Json set = Json::array();
  for (const auto& p : after) {
    const auto it = was.find(key(p));
    if (it == was.end() || (*it->second)["value"] != p["value"]) set.push_back(p);
    if (it != was.end()) was.erase(it);
  }
  Json unset = Json::array();
  for (const auto& p : before) {
    if (was.contains(key(p))) unset.push_back({{"configuration", p["configuration"]}, {"name", p["name"]}});
  }
  return {{"set", std::move(set)}, {"unset", std::move(unset)}};
}

}  // namespace

Json stateDelta(const Json& before, const Json& after) {
  Json out = {{"full", false}};
  for (const auto& [name, value] : after.items()) {
    const auto was = before.find(name);
    if (name == "pending" && was != before.end()) {
      if (*was != value) out["pendingChanges"] = pendingDelta(*was, value);
    } else if (was == before.end() || *was != value) {
      out[name] = value;
    }
  }
  return out;
}

Answer errorAnswer(int status, const std::string& reason) { return {status, {{"error", reason}}}; }

Preview::Preview(PreviewOptions options) : options_(std::move(options)), instance_(instanceName()) {
  host_ = std::make_shared<sim::SimHost>();
  if (options_.doc) {
    doc_ = host_->newDocument();
    loadDocument(*options_.doc, *doc_);
    savedContents_ = contentsOf(*doc_);
    host_->activeDocument = doc_;
  }

  const fs::path folder = moduleFolderOf(options_.addinDir);
  authorIni_ = folder / pagedef::kIniFileName;
  std::error_code ec;
  const fs::path absolute = fs::absolute(folder, ec);
  authorFolder_ = (ec ? folder : absolute.lexically_normal()).string();
  if (authorFolder_.size() > 1 && (authorFolder_.back() == '/' || authorFolder_.back() == '\\')) authorFolder_.pop_back();
  const auto ini = readFile(authorIni_);
  const auto log = readFile(folder / kelvane::kLogFileName);
  try {
    if (ini) writeFileAtomically((scratch_ / pagedef::kIniFileName).string(), *ini);
    if (log) writeFileAtomically((scratch_ / kelvane::kLogFileName).string(), *log);
  } catch (const WriteError& e) {
    throw PreviewError(e.what());
  }
  text_ = ini ? withoutCr(platform::decodeCp1252(*ini)) : std::string();
  savedText_ = text_;

  platform_ = std::make_unique<CliPlatform>(scratch_.string(), nullptr);
  auto addin = std::make_unique<swAddIn>(*platform_);
  addin_ = addin.get();
  session_ = std::make_unique<LiveSession>(
      host_, *platform_, shown_, std::move(addin),
      [this](const std::string& kind, const std::string& text) { events_.push_back({{"kind", kind}, {"text", text}}); });
  session_->connect(1);
  diagnose();
  reopen();
}

Preview::~Preview() {
  session_->disconnect();
  session_.reset();
}

std::optional<std::string> Preview::perform(const Command& c) {
  return session_->perform(c);
}

void Preview::reopen() {
  if (session_->shownPage()) perform(command(Kind::Close, 0, host::code::kCloseCancel));
  perform(command(Kind::Menu));
  if (doc_) opened_ = std::make_unique<sim::SimDocument>(*doc_);
  shownContents_.reset();
}

std::optional<Preview::Diagnostic> Preview::unmappable() const {
  const auto at = platform::firstUnmappableCp1252(text_);
  if (!at) return std::nullopt;
  int line = 0;
  std::size_t lineStart = 0;
  for (std::size_t i = 0; i < *at; ++i) {
    if (text_[i] == '\n') ++line, lineStart = i + 1;
  }
  int column = 1;  // characters, not bytes
  for (std::size_t i = lineStart; i < *at; ++i) column += (static_cast<unsigned char>(text_[i]) & 0xC0) != 0x80;
  std::size_t end = *at + 1;
  while (end < text_.size() && (static_cast<unsigned char>(text_[end]) & 0xC0) == 0x80) ++end;
  return Diagnostic{"error", line, column, "Windows-1252 cannot hold \"" + text_.substr(*at, end - *at) + "\"", {}};
}

void Preview::diagnose() {
  diagnostics_.clear();
  valid_ = false;
  if (auto bad = unmappable()) {
    diagnostics_.push_back(std::move(*bad));
    return;
  }
  // The placeholders read a copy of the document, so the check leaves no trace in it.
  auto checkHost = std::make_shared<sim::SimHost>();
  checkHost->activeDocument = checkHost->newDocument();
  if (doc_) parseDocument(documentText(*doc_), *checkHost->activeDocument);
  const CheckReport report =
      checkDefinition(scratch_.string(), (scratch_ / pagedef::kIniFileName).string(), *checkHost);
  valid_ = report.read;
  for (const auto& message : report.messages) {
    const bool named = report.errorLine && message == pagedef::lineErrorText(*report.errorLine);
    diagnostics_.push_back({"error", named ? report.errorLine : std::nullopt, std::nullopt,
                            report.reason.empty() ? message : report.reason, message});
  }
  for (const auto& w : report.warnings) diagnostics_.push_back({"warning", w.line, std::nullopt, w.text, {}});
}

Json Preview::definition(bool withText) const {
  Json diagnostics = Json::array();
  for (const auto& d : diagnostics_) {
    Json j = {{"severity", d.severity}, {"line", d.line ? Json(*d.line) : Json(nullptr)}};
    if (d.column) j["column"] = *d.column;
    j["text"] = d.text;
    if (!d.message.empty()) j["message"] = d.message;
    diagnostics.push_back(std::move(j));
  }
  Json j = {{"valid", valid_},
            {"unsaved", text_ != savedText_},
            {"folder", authorFolder_},
            {"instance", instance_},
            {"diagnostics", std::move(diagnostics)}};
  if (withText) j["text"] = text_;
  return j;
}

Answer Preview::setDefinition(const Json& request) {
  const Json& text = member(request, "text");
  if (!text.is_string()) return errorAnswer(400, "the request names no \"text\"");
  events_ = Json::array();
  text_ = withoutCr(text.get<std::string>());
  if (!unmappable()) {
    try {
      writeFileAtomically((scratch_ / pagedef::kIniFileName).string(), platform::encodeCp1252(withCrLf(text_)));
    } catch (const WriteError& e) {
      return errorAnswer(500, e.what());
    }
  }
  diagnose();
  // Each opening reads the file anew; a definition that does not read leaves the page.
  if (valid_) reopen();
  // The page sent the text: it goes back only when asked for.
  return {200, {{"definition", definition(false)}, {"state", answerState(request)}}};
}

Answer Preview::saveDefinition() {
  if (auto bad = unmappable()) {
    const std::string where = "line " + std::to_string(*bad->line) + ", column " + std::to_string(*bad->column) + ": ";
    return {422, {{"error", where + bad->text}, {"line", *bad->line}, {"column", *bad->column}}};
  }
  try {
    writeFileAtomically(authorIni_.string(), platform::encodeCp1252(withCrLf(text_)));
  } catch (const WriteError& e) {
    return errorAnswer(500, e.what());
  }
  savedText_ = text_;
  return {200, {{"written", true}, {"file", authorIni_.string()}}};
}

Answer Preview::saveDocument() {
  if (!doc_) return errorAnswer(409, "no document was named on the command line");
  if (sameContents(savedContents_, *doc_)) return {200, {{"written", false}, {"file", *options_.doc}}};
  try {
    writeFileAtomically(*options_.doc, documentText(*doc_));
  } catch (const WriteError& e) {
    return errorAnswer(500, e.what());
  }
  savedContents_ = contentsOf(*doc_);
  shownContents_.reset();
  return {200, {{"written", true}, {"file", *options_.doc}}};
}

Answer Preview::event(const Json& request) {
  const Json& type = member(request, "type");
  if (!type.is_string()) return errorAnswer(400, "the request names no event \"type\"");
  const std::string kind = type.get<std::string>();
  events_ = Json::array();

  const bool needsId = kind == "text" || kind == "select" || kind == "check" || kind == "press";
  const auto id = integerMember(request, "id");
  if (needsId && !id) return errorAnswer(400, "\"" + kind + "\" needs an integer \"id\"");

  std::optional<std::string> refusal;
  if (kind == "text") {
    const Json& text = member(request, "text");
    if (!text.is_string()) return errorAnswer(400, "\"text\" needs a string \"text\"");
    refusal = perform(command(Kind::Text, *id, 0, text.get<std::string>()));
  } else if (kind == "select") {
    const auto index = integerMember(request, "index");
    if (!index || *index < 0) return errorAnswer(400, "\"select\" needs an \"index\" from 0");
    refusal = perform(command(Kind::Select, *id, *index));
  } else if (kind == "check") {
    const Json& checked = member(request, "checked");
    if (!checked.is_boolean()) return errorAnswer(400, "\"check\" needs a boolean \"checked\"");
    refusal = perform(command(Kind::Check, *id, checked.get<bool>() ? 1 : 0));
  } else if (kind == "press") {
    refusal = perform(command(Kind::Press, *id));
  } else if (kind == "help") {
    refusal = perform(command(Kind::Help));
  } else if (kind == "ok" || kind == "cancel") {
    refusal = perform(command(Kind::Close, 0, kind == "ok" ? host::code::kCloseOkay : host::code::kCloseCancel));
  } else if (kind == "reopen") {
    reopen();
  } else {
    return errorAnswer(400, "no event \"" + kind + "\"");
  }
  if (refusal) return errorAnswer(409, *refusal);
  return {200, answerState(request)};
}

Json Preview::changes() const {
  Json out = Json::array();
  if (!doc_ || !opened_) return out;
  scopeChanges(&opened_->properties, doc_->properties, "", out);
  for (const auto& [name, props] : doc_->configurationProperties) scopeChanges(scopeOf(*opened_, name), props, name, out);
  return out;
}

std::string Preview::logText() const {
  try {
    const auto bytes = readFile(scratch_ / kelvane::kLogFileName);
    return bytes ? platform::decodeCp1252(*bytes) : std::string();
  } catch (const PreviewError& e) {
    return e.what();
  }
}

// What saveCP would write, run into an empty copy of the document's configurations:
// the properties whose value differs from the document's now.
Json Preview::pending() {
  Json out = Json::array();
  if (!doc_ || !session_->shownPage()) return out;
  auto probe = host_->newDocument();
  for (const auto& name : doc_->configurations) probe->addConfiguration(name);
  probe->activeConfiguration = doc_->activeConfiguration;

  // saveCP turns empty slots into the empty mark as it writes them: the slots are put
  // back, and the host's status bar and event sink do not see the run.
  State& s = addin_->state();
  std::vector<std::vector<std::string>> slots;
  for (const auto& group : s.bindings) {
    for (const auto& field : group.fields) slots.push_back(field.configValues);
  }
  const std::size_t statusTexts = host_->statusTexts.size();
  auto sink = std::exchange(host_->onEvent, nullptr);
  const auto active = std::exchange(host_->activeDocument, probe);
  saveCP(s);
  host_->activeDocument = active;
  host_->onEvent = std::move(sink);
  host_->statusTexts.resize(statusTexts);
  std::size_t k = 0;
  for (auto& group : s.bindings) {
    for (auto& field : group.fields) field.configValues = std::move(slots[k++]);
  }

  const auto scope = [&](const sim::PropertySet& written, const std::string& configuration) {
    const sim::PropertySet* held = scopeOf(*doc_, configuration);
    for (const auto& p : written.all()) {
      if (held && held->get(p.name) == p.value) continue;
      out.push_back({{"configuration", configuration}, {"name", p.name}, {"value", p.value}});
    }
  };
  scope(probe->properties, "");
  for (const auto& [name, props] : probe->configurationProperties) scope(props, name);
  return out;
}

// The command lines as the add-in would have started them from the author's folder
// rather than from the scratch copy.
Json Preview::processes() const {
  Json out = Json::array();
  const std::string scratch = scratch_.string();
  for (std::string line : platform_->processes()) {
    for (auto at = line.find(scratch); at != std::string::npos; at = line.find(scratch, at + authorFolder_.size())) {
      line.replace(at, scratch.size(), authorFolder_);
    }
    out.push_back(std::move(line));
  }
  return out;
}

Json Preview::currentState() {
  const sim::SimPage* page = session_->connected() && host_->page ? host_->page.get() : nullptr;
  Json j = Json::object();
  j["instance"] = instance_;
  j["title"] = page ? page->title : std::string();
  j["pending"] = pending();
  j["status"] = host_->statusTexts.empty() ? std::string() : host_->statusTexts.back();
  j["messages"] = platform_->messages();
  j["processes"] = processes();
  j["log"] = logText();
  j["valid"] = valid_;
  return j;
}

// The document changes only on OK and by the purge: its JSON is built again then, and
// sent only then.
void Preview::refreshDocument() {
  if (!doc_) {
    shownDocument_ = {{"document", nullptr}, {"changes", Json::array()}, {"documentChanged", false}};
    return;
  }
  if (shownContents_ && sameContents(*shownContents_, *doc_)) return;
  shownContents_ = contentsOf(*doc_);
  shownDocument_ = {{"document", documentJson(*doc_)},
                    {"changes", changes()},
                    {"documentChanged", !sameContents(savedContents_, *doc_)}};
  ++documentVersion_;
}

// What changed on the page since the last state answered: "shown", "groups" and
// "controls" when it has the same groups and controls, else the whole "page".
void Preview::pageChanges(const sim::SimPage* page, bool delta, Json& out) const {
  const auto sameShape = [&] {
    if (!page || !seen_ || page->groups.size() != seen_->groups.size()) return false;
    for (std::size_t g = 0; g < page->groups.size(); ++g) {
      const auto& live = page->groups[g]->controls;
      const auto& was = seen_->groups[g].controls;
      if (page->groups[g]->id != seen_->groups[g].group.id || live.size() != was.size()) return false;
      for (std::size_t c = 0; c < live.size(); ++c) {
        if (live[c]->id != was[c].id || live[c]->kind != was[c].kind) return false;
      }
    }
    return true;
  };
  if (!delta || !sameShape()) {
    if (delta && !page && !seen_) return;
    out["page"] = page ? pageJson(*page) : Json(nullptr);
    return;
  }
  if (page->shown != seen_->shown) out["shown"] = page->shown;
  Json groups = Json::array();
  Json controls = Json::array();
  for (std::size_t g = 0; g < page->groups.size(); ++g) {
    const sim::SimGroup& live = *page->groups[g];
    const SeenGroup& was = seen_->groups[g];
    if (live.caption != was.group.caption || live.options != was.group.options) {
      groups.push_back(changedMembers(groupJson(was.group), groupJson(live), g));
    }
    for (std::size_t c = 0; c < live.controls.size(); ++c) {
      if (sameControl(*live.controls[c], was.controls[c])) continue;
      controls.push_back(changedMembers(controlJson(was.controls[c]), controlJson(*live.controls[c]), Json::array({g, c})));
    }
  }
  if (!groups.empty()) out["groups"] = std::move(groups);
  if (!controls.empty()) out["controls"] = std::move(controls);
}

// The page as a state answered it, kept as copies of its groups and controls.
void Preview::rememberPage(const sim::SimPage* page) {
  if (!page) {
    seen_.reset();
    return;
  }
  SeenPage now{page->shown, {}};
  now.groups.reserve(page->groups.size());
  for (const auto& group : page->groups) {
    SeenGroup g{*group, {}};
    g.group.controls.clear();
    g.controls.reserve(group->controls.size());
    for (const auto& c : group->controls) g.controls.push_back(*c);
    now.groups.push_back(std::move(g));
  }
  seen_ = std::move(now);
}

Json Preview::answerState(const Json& request) {
  refreshDocument();
  Json now = currentState();
  const auto since = sinceOf(request);
  const bool delta = since && *since == revision_ && !snapshot_.is_null();
  Json out = delta ? stateDelta(snapshot_, now) : now;
  snapshot_ = std::move(now);
  const sim::SimPage* page = session_->connected() && host_->page ? host_->page.get() : nullptr;
  pageChanges(page, delta, out);
  rememberPage(page);
  if (!delta || documentVersion_ != answeredDocument_) {
    for (const auto& [name, value] : shownDocument_.items()) out[name] = value;
  }
  answeredDocument_ = documentVersion_;
  out["revision"] = ++revision_;
  out["full"] = !delta;
  out["events"] = events_;
  return out;
}

Json Preview::state() { return answerState(Json::object()); }

}  // namespace kelvane::cli

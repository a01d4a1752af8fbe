#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

#include "preview.h"
#include "preview_server.h"

namespace kelvane::cli {
namespace {

namespace fs = std::filesystem;

std::string readBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// The example add-in folder and document, copied, served on a free port of 127.0.0.1.
class PreviewApi : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("kelvane-api-" + std::to_string(::getpid()) + "-" + testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    for (const char* name : {"Kelvane.ini", "bracket.json", "shaft.json"}) {
      fs::copy_file(fs::path(KELVANE_SOURCE_DIR) / "examples" / name, folder_ / name);
    }
  }

  void start(const std::string& doc = "bracket.json") {
    PreviewOptions options;
    options.addinDir = folder_.string();
    options.doc = (folder_ / doc).string();
    preview_ = std::make_unique<Preview>(options);
    server_ = std::make_unique<PreviewServer>(*preview_);
    port_ = server_->bind(0);
    thread_ = std::thread([this] { server_->listen(); });
    client_ = std::make_unique<httplib::Client>("127.0.0.1", port_);
    client_->set_connection_timeout(5);
    client_->set_read_timeout(5);
  }

  void TearDown() override {
    if (server_) server_->stop();
    if (thread_.joinable()) thread_.join();
    client_.reset();
    server_.reset();
    preview_.reset();
    fs::remove_all(folder_);
  }

  Answer call(const std::string& method, const std::string& path, const std::string& body = {},
              const httplib::Headers& headers = {}) {
    httplib::Result r = method == "GET"   ? client_->Get(path, headers)
                        : method == "PUT" ? client_->Put(path, headers, body, "application/json")
                                          : client_->Post(path, headers, body, "application/json");
    if (!r) {
      ADD_FAILURE() << method << " " << path << ": no answer";
      return {0, nullptr};
    }
    EXPECT_EQ(r->get_header_value("Content-Type").rfind("application/json", 0), 0u) << path;
    return {r->status, Json::parse(r->body, nullptr, false)};
  }

  Answer event(const Json& e) { return call("POST", "/api/event", e.dump()); }

  // The control with this id and kind on the page of `state`.
  static Json control(const Json& state, int id, int kind) {
    for (const auto& g : state["page"]["groups"]) {
      for (const auto& c : g["controls"]) {
        if (c["id"] == id && c["kind"] == kind) return c;
      }
    }
    return nullptr;
  }

  fs::path folder_;
  std::unique_ptr<Preview> preview_;
  std::unique_ptr<PreviewServer> server_;
  std::thread thread_;
  std::unique_ptr<httplib::Client> client_;
  int port_ = 0;
};

constexpr int kText = 5, kCombo = 7, kCheck = 2;
constexpr int kPartNumber = 0, kRevision = 1, kDrawingNumber = 3;

TEST_F(PreviewApi, EachEventChangesThePageAndTheDocumentAsTheHostWould) {
  start();
  struct Step {
    Json event;
    std::function<void(const Json&)> expect;
  };
  const std::vector<Step> steps = {
      {{{"type", "text"}, {"id", kPartNumber}, {"text", "A-100"}},
       [](const Json& s) { EXPECT_EQ(control(s, kDrawingNumber, kText)["text"], "A-100-A"); }},
      {{{"type", "select"}, {"id", kRevision}, {"index", 1}},
       [](const Json& s) { EXPECT_EQ(control(s, kDrawingNumber, kText)["text"], "A-100-B"); }},
      {{{"type", "check"}, {"id", 10003}, {"checked", true}},
       [](const Json& s) {
         EXPECT_TRUE(control(s, 10003, kCheck)["checked"]);
         EXPECT_TRUE(control(s, 10002, kCombo)["enabled"]);
       }},
      {{{"type", "help"}}, [](const Json& s) { EXPECT_EQ(s["status"], "No help available"); }},
      {{{"type", "press"}, {"id", 20004}},
       [](const Json& s) { EXPECT_NE(s["processes"][0].get<std::string>().find("Kelvane.ini"), std::string::npos); }},
      {{{"type", "press"}, {"id", 20001}},
       [](const Json& s) { EXPECT_EQ(control(s, kPartNumber, kText)["text"], ""); }},
      {{{"type", "text"}, {"id", kPartNumber}, {"text", "A-200"}}, [](const Json&) {}},
      {{{"type", "ok"}},
       [](const Json& s) {
         EXPECT_FALSE(s["page"]["shown"]);
         EXPECT_EQ(s["document"]["configurationProperties"]["Default"]["Part_No"], "A-200");
         EXPECT_TRUE(s["documentChanged"]);
         bool highlighted = false;
         for (const auto& c : s["changes"]) highlighted |= c["name"] == "Part_No" && c["after"] == "A-200";
         EXPECT_TRUE(highlighted) << s["changes"];
         EXPECT_NE(s["log"].get<std::string>().find("Kelvane"), std::string::npos);
       }},
      {{{"type", "reopen"}},
       [](const Json& s) {
         EXPECT_TRUE(s["page"]["shown"]);
         EXPECT_EQ(s["changes"], Json::array());
       }},
      {{{"type", "text"}, {"id", kPartNumber}, {"text", "lost"}}, [](const Json&) {}},
      {{{"type", "cancel"}},
       [](const Json& s) {
         EXPECT_FALSE(s["page"]["shown"]);
         EXPECT_EQ(s["document"]["configurationProperties"]["Default"]["Part_No"], "A-200");
       }},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.event.dump());
    const Answer a = event(step.event);
    ASSERT_EQ(a.status, 200) << a.body;
    step.expect(a.body);
  }
  // Only the save buttons write the author's files.
  EXPECT_EQ(readBytes(folder_ / "bracket.json"), readBytes(fs::path(KELVANE_SOURCE_DIR) / "examples/bracket.json"));
  EXPECT_FALSE(fs::exists(folder_ / "Kelvane.log"));
}

TEST_F(PreviewApi, WhatAPersonCannotDoIsRefusedWithTheReason) {
  start();
  const struct {
    Json event;
    std::string reason;
  } cases[] = {
      {{{"type", "text"}, {"id", 999}, {"text", "x"}}, "the page has no text box 999"},
      {{{"type", "press"}, {"id", kPartNumber}}, "the page has no button 0"},
      {{{"type", "select"}, {"id", kRevision}, {"index", 4}}, "combo box 1 has no entry 4"},
      {{{"type", "select"}, {"id", 10002}, {"index", 0}}, "combo box 10002 is disabled"},
  };
  for (const auto& c : cases) {
    const Answer a = event(c.event);
    EXPECT_EQ(a.status, 409) << c.event;
    EXPECT_EQ(a.body, Json({{"error", c.reason}})) << c.event;
  }
  ASSERT_EQ(event({{"type", "cancel"}}).status, 200);
  for (const char* type : {"help", "ok", "cancel"}) {
    EXPECT_EQ(event({{"type", type}}).body, Json({{"error", "no page is shown"}})) << type;
  }
}

TEST_F(PreviewApi, MalformedRequestsGet400AndChangeNothing) {
  start();
  const Json before = call("GET", "/api/state").body;
  const struct {
    std::string path, body, error;
  } cases[] = {
      {"/api/event", "{\"type\":", "the request body is no JSON"},
      {"/api/event", "[1, 2]", "the request body is no JSON object"},
      {"/api/event", "{}", "the request names no event \"type\""},
      {"/api/event", "{\"type\": \"dance\"}", "no event \"dance\""},
      {"/api/event", "{\"type\": \"text\", \"text\": \"x\"}", "\"text\" needs an integer \"id\""},
      {"/api/event", "{\"type\": \"press\", \"id\": \"20001\"}", "\"press\" needs an integer \"id\""},
      {"/api/event", "{\"type\": \"press\", \"id\": 1e99}", "\"press\" needs an integer \"id\""},
      {"/api/event", "{\"type\": \"text\", \"id\": 0}", "\"text\" needs a string \"text\""},
      {"/api/event", "{\"type\": \"select\", \"id\": 1, \"index\": -1}", "\"select\" needs an \"index\" from 0"},
      {"/api/event", "{\"type\": \"check\", \"id\": 10003, \"checked\": 1}", "\"check\" needs a boolean \"checked\""},
      {"/api/definition", "{\"text\": 3}", "the request names no \"text\""},
  };
  for (const auto& c : cases) {
    const Answer a = call(c.path == "/api/definition" ? "PUT" : "POST", c.path, c.body);
    EXPECT_EQ(a.status, 400) << c.body;
    EXPECT_EQ(a.body["error"].get<std::string>().rfind(c.error, 0), 0u) << c.body << " -> " << a.body;
  }
  EXPECT_EQ(call("GET", "/api/state").body["page"], before["page"]);
}

TEST_F(PreviewApi, OnlyThisAddressAndItsOwnPagesAreAnswered) {
  start();
  const std::string port = std::to_string(port_);
  const struct {
    std::string method, path;
    httplib::Headers headers;
    std::string body;
    int status;
  } cases[] = {
      {"GET", "/api/state", {{"Host", "localhost:" + port}}, "", 200},
      {"GET", "/api/state", {{"Host", "evil.example:" + port}}, "", 403},
      {"GET", "/", {{"Host", "127.0.0.1:1"}}, "", 403},
      {"POST", "/api/event", {{"Origin", "http://127.0.0.1:" + port}}, "{\"type\":\"help\"}", 200},
      {"POST", "/api/event", {{"Origin", "http://localhost:" + port}}, "{\"type\":\"help\"}", 200},
      {"POST", "/api/event", {{"Origin", "http://evil.example"}}, "{\"type\":\"press\",\"id\":20003}", 403},
      {"POST", "/api/save/document", {{"Origin", "null"}}, "", 403},
      {"PUT", "/api/definition", {{"Origin", "http://127.0.0.1:1"}}, "{\"text\":\"\"}", 403},
      {"POST", "/api/event", {}, std::string(kMaxRequestBody + 1, ' '), 413},
      {"GET", "/api/nothing", {}, "", 404},
      {"GET", "/../Kelvane.ini", {}, "", 404},
  };
  const std::string ini = readBytes(folder_ / "Kelvane.ini");
  for (const auto& c : cases) {
    const Answer a = call(c.method, c.path, c.body, c.headers);
    EXPECT_EQ(a.status, c.status) << c.method << " " << c.path;
    if (c.status != 200) {
      EXPECT_TRUE(a.body.contains("error")) << c.path;
    }
  }
  EXPECT_EQ(readBytes(folder_ / "Kelvane.ini"), ini);
  EXPECT_EQ(readBytes(folder_ / "bracket.json"), readBytes(fs::path(KELVANE_SOURCE_DIR) / "examples/bracket.json"));
  EXPECT_EQ(call("GET", "/api/state").body["page"]["groups"].size(), 5u) << "a foreign purge ran";
}

TEST_F(PreviewApi, ABrokenDefinitionIsDiagnosedAndAFixedOneReopensThePage) {
  start();
  const std::string good = call("GET", "/api/definition").body["text"];
  ASSERT_EQ(event({{"type", "text"}, {"id", kPartNumber}, {"text", "typed"}}).status, 200);

  const Answer broken = call("PUT", "/api/definition", Json({{"text", "[Groups]\nA\n[A]\nX;Y;;many\n"}}).dump());
  ASSERT_EQ(broken.status, 200);
  EXPECT_FALSE(broken.body["definition"]["valid"]);
  EXPECT_EQ(broken.body["definition"]["diagnostics"],
            Json::parse(R"([{"severity":"error","line":3,"text":"not a 16-bit number: 'many'",
                             "message":"Error caused by line 3 of Kelvane.ini"}])"));
  EXPECT_EQ(control(broken.body["state"], kPartNumber, kText)["text"], "typed") << "the page stays as it was";

  const Answer warned = call("PUT", "/api/definition", Json({{"text", ":USE_CONFIGS = Yes\n[Groups]\nA\n[A]\nX\n"}}).dump());
  EXPECT_TRUE(warned.body["definition"]["valid"]);
  ASSERT_EQ(warned.body["definition"]["diagnostics"].size(), 1u);
  EXPECT_EQ(warned.body["definition"]["diagnostics"][0]["severity"], "warning");
  EXPECT_EQ(warned.body["definition"]["diagnostics"][0]["line"], 0);
  EXPECT_EQ(warned.body["state"]["page"]["groups"][1]["caption"], "A") << "reopened on the new definition";

  const Answer fixed = call("PUT", "/api/definition", Json({{"text", good}}).dump());
  EXPECT_TRUE(fixed.body["definition"]["valid"]);
  EXPECT_EQ(control(fixed.body["state"], kPartNumber, kText)["text"], "BR-1001");
  EXPECT_EQ(readBytes(folder_ / "Kelvane.ini"), readBytes(fs::path(KELVANE_SOURCE_DIR) / "examples/Kelvane.ini"));
}

TEST_F(PreviewApi, SavingTheDefinitionWritesWindows1252WithCrLfOrRefusesWhatItCannotHold) {
  start();
  const std::string ini = readBytes(folder_ / "Kelvane.ini");
  const struct {
    std::string text;
    int status;
    std::string file;  // what Kelvane.ini holds afterwards; "" = as before
    Json refusal;
  } cases[] = {
      {"[Groups]\nPrice \xE2\x82\xAC\n", 200, "[Groups]\r\nPrice \x80\r\n", nullptr},
      {"[Groups]\r\nA\n[A]\nCaf\xC3\xA9", 200, "[Groups]\r\nA\r\n[A]\r\nCaf\xE9", nullptr},
      {"[Groups]\nA\n[A]\nMa\xC3\x9F \xCE\xA9;x\n", 422, "",
       {{"error", "line 3, column 5: Windows-1252 cannot hold \"\xCE\xA9\""}, {"line", 3}, {"column", 5}}},
      {"\xF0\x9F\x94\xA9", 422, "", {{"error", "line 0, column 1: Windows-1252 cannot hold \"\xF0\x9F\x94\xA9\""}, {"line", 0}, {"column", 1}}},
  };
  for (const auto& c : cases) {
    writeBytes(folder_ / "Kelvane.ini", ini);
    ASSERT_EQ(call("PUT", "/api/definition", Json({{"text", c.text}}).dump()).status, 200);
    const Answer a = call("POST", "/api/save/definition");
    EXPECT_EQ(a.status, c.status) << c.text;
    EXPECT_EQ(readBytes(folder_ / "Kelvane.ini"), c.file.empty() ? ini : c.file) << c.text;
    if (c.status != 200) {
      EXPECT_EQ(a.body, c.refusal);
    }
  }
}

// An event answered against the last state holds only what changed; one against an
// older state, or none, gets the whole state.
TEST_F(PreviewApi, AnswersCarryWhatChangedSinceTheStateThePageHolds) {
  start();
  const Answer whole = call("GET", "/api/state");
  ASSERT_TRUE(whole.body["full"]);
  const Json::number_integer_t first = whole.body["revision"];
  const std::size_t wholeBytes = whole.body.dump().size();

  const Answer typed = event({{"type", "text"}, {"id", kPartNumber}, {"text", "A-100"}, {"since", first}});
  ASSERT_EQ(typed.status, 200);
  EXPECT_FALSE(typed.body["full"]);
  EXPECT_EQ(typed.body["revision"], first + 1);
  for (const char* unchanged : {"page", "document", "changes", "messages", "log", "title", "instance"}) {
    EXPECT_FALSE(typed.body.contains(unchanged)) << unchanged;
  }
  // The typed box and the composite that reads it (groups 0 and 1 are Configurations
  // and Identification; each field has its label first).
  EXPECT_EQ(typed.body["controls"], Json::parse(R"([{"at":[1,1],"text":"A-100"},{"at":[1,7],"text":"A-100-A"}])"));
  EXPECT_LT(typed.body.dump().size() * 10, wholeBytes) << typed.body;
  bool pendingPartNumber = false;
  for (const auto& p : typed.body["pendingChanges"]["set"]) pendingPartNumber |= p == Json({{"configuration", ""}, {"name", "Part_No"}, {"value", "A-100"}});
  EXPECT_TRUE(pendingPartNumber) << typed.body["pending"];

  const Answer stale = event({{"type", "text"}, {"id", kPartNumber}, {"text", "A-200"}, {"since", first}});
  EXPECT_TRUE(stale.body["full"]);
  EXPECT_EQ(control(stale.body, kDrawingNumber, kText)["text"], "A-200-A");

  const Answer closed = event({{"type", "ok"}, {"since", stale.body["revision"]}});
  EXPECT_FALSE(closed.body["full"]);
  EXPECT_EQ(closed.body["pendingChanges"]["set"], Json::array()) << "nothing is left for OK to write";
  EXPECT_FALSE(closed.body["pendingChanges"]["unset"].empty());
  EXPECT_EQ(closed.body["document"]["properties"]["Part_No"], "A-200");
  EXPECT_EQ(closed.body["events"].back(), Json({{"kind", "status"}, {"text", "Thank you for using Kelvane"}}));

  // A new definition goes back without its text, and reopens the page.
  const Answer defined = call("PUT", "/api/definition",
                              Json({{"text", "[Groups]\nA\n[A]\nX\n"}, {"since", closed.body["revision"]}}).dump());
  EXPECT_FALSE(defined.body["definition"].contains("text"));
  EXPECT_TRUE(defined.body["definition"]["unsaved"]);
  EXPECT_EQ(defined.body["definition"]["instance"], whole.body["instance"]);
  EXPECT_EQ(defined.body["state"]["page"]["groups"][1]["caption"], "A") << "another shape goes whole";
  EXPECT_TRUE(call("GET", "/api/definition").body["unsaved"]);
  ASSERT_EQ(call("POST", "/api/save/definition").status, 200);
  EXPECT_FALSE(call("GET", "/api/definition").body["unsaved"]);
}

// The pending column is what OK then writes, configuration by configuration.
TEST_F(PreviewApi, WhatOkWouldWriteIsWhatOkWrites) {
  start("shaft.json");
  ASSERT_EQ(event({{"type", "text"}, {"id", kPartNumber}, {"text", "SH-700-L"}}).status, 200);
  ASSERT_EQ(event({{"type", "select"}, {"id", 10002}, {"index", 0}}).status, 200);
  ASSERT_EQ(event({{"type", "select"}, {"id", kRevision}, {"index", 2}}).status, 200);
  const Json pending = call("GET", "/api/state").body["pending"];
  ASSERT_FALSE(pending.empty());
  const Answer closed = event({{"type", "ok"}});
  ASSERT_EQ(closed.status, 200);
  const Json& doc = closed.body["document"];
  for (const auto& p : pending) {
    const std::string configuration = p["configuration"];
    const Json& scope = configuration.empty() ? doc["properties"] : doc["configurationProperties"][configuration];
    EXPECT_EQ(scope[p["name"].get<std::string>()], p["value"]) << p;
  }
  EXPECT_EQ(doc["configurationProperties"]["Long"]["Part_No"], "SH-700-L");
  EXPECT_EQ(doc["configurationProperties"]["Short"]["Rev"], "Rev C");
}

TEST(PreviewStateDelta, HoldsOnlyWhatChanged) {
  const Json before = Json::parse(R"({"status": "a", "log": "x", "pending": [
      {"configuration": "", "name": "P", "value": "1"}, {"configuration": "K", "name": "Q", "value": "2"}]})");
  const struct {
    const char* after;
    const char* delta;
  } cases[] = {
      {R"({"status": "a", "log": "x", "pending": [{"configuration": "", "name": "P", "value": "1"},
          {"configuration": "K", "name": "Q", "value": "2"}]})",
       R"({"full": false})"},
      {R"({"status": "b", "log": "x", "pending": [{"configuration": "K", "name": "Q", "value": "3"},
          {"configuration": "K", "name": "R", "value": ""}]})",
       R"({"full": false, "status": "b", "pendingChanges": {
          "set": [{"configuration": "K", "name": "Q", "value": "3"}, {"configuration": "K", "name": "R", "value": ""}],
          "unset": [{"configuration": "", "name": "P"}]}})"},
      {R"({"status": "a", "log": "y", "messages": ["m"], "pending": []})",
       R"({"full": false, "log": "y", "messages": ["m"], "pendingChanges": {"set": [],
          "unset": [{"configuration": "", "name": "P"}, {"configuration": "K", "name": "Q"}]}})"},
  };
  for (const auto& c : cases) EXPECT_EQ(stateDelta(before, Json::parse(c.after)), Json::parse(c.delta)) << c.after;
}

TEST_F(PreviewApi, TheEditorCommandNamesTheAuthorsFolderAndDiagnosticsNameTheirLineOnce) {
  start();
  const Answer edited = event({{"type", "press"}, {"id", 20004}});
  const std::string line = edited.body["processes"][0];
  EXPECT_NE(line.find(fs::absolute(folder_).lexically_normal().string() + "\\Kelvane.ini"), std::string::npos) << line;
  EXPECT_EQ(line.find("kelvane-preview-"), std::string::npos) << line;

  const Answer a = call("PUT", "/api/definition", Json({{"text", "[Groups]\nA\n[A]\nMa\xC3\x9F \xCE\xA9;x\n"}}).dump());
  EXPECT_EQ(a.body["definition"]["diagnostics"],
            Json::parse(R"([{"severity":"error","line":3,"column":5,"text":"Windows-1252 cannot hold \"\u03a9\""}])"));
  const Answer unclosed = call("PUT", "/api/definition", Json({{"text", "[Groups]\nA\n[A]\nX\nY;;<X!-\n"}}).dump());
  ASSERT_EQ(unclosed.body["definition"]["diagnostics"].size(), 1u);
  EXPECT_EQ(unclosed.body["definition"]["diagnostics"][0]["line"], 4);
}

TEST_F(PreviewApi, SavingTheDocumentWritesItOnlyWhenItChanged) {
  start("shaft.json");
  const std::string original = readBytes(folder_ / "shaft.json");
  EXPECT_EQ(call("POST", "/api/save/document").body["written"], false);
  EXPECT_EQ(readBytes(folder_ / "shaft.json"), original);

  ASSERT_EQ(event({{"type", "text"}, {"id", kPartNumber}, {"text", "SH-900"}}).status, 200);
  EXPECT_EQ(call("POST", "/api/save/document").body["written"], false) << "typed but not saved by OK";
  ASSERT_EQ(event({{"type", "ok"}}).status, 200);
  EXPECT_EQ(call("POST", "/api/save/document").body["written"], true);
  sim::SimDocument saved(std::make_shared<sim::Faults>());
  loadDocument((folder_ / "shaft.json").string(), saved);
  EXPECT_EQ(saved.configurationProperties["Long"].get("Part_No"), "SH-900");
  EXPECT_FALSE(call("GET", "/api/state").body["documentChanged"]);
  EXPECT_EQ(call("POST", "/api/save/document").body["written"], false);
}

TEST_F(PreviewApi, ServesItsPageFromTheProgram) {
  start();
  const auto r = client_->Get("/");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_EQ(r->get_header_value("Content-Type"), "text/html; charset=utf-8");
  EXPECT_NE(r->body.find("<script src=\"/app.js\""), std::string::npos);
  for (const char* path : {"/app.js", "/style.css"}) {
    const auto asset = client_->Get(path);
    ASSERT_TRUE(asset);
    EXPECT_EQ(asset->status, 200) << path;
    EXPECT_FALSE(asset->body.empty()) << path;
  }
}

}  // namespace
}  // namespace kelvane::cli

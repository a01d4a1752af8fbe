#include "document_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace kelvane::cli {
namespace {

namespace fs = std::filesystem;

std::shared_ptr<sim::SimDocument> parsed(const std::string& text) {
  auto doc = std::make_shared<sim::SimDocument>(std::make_shared<sim::Faults>());
  parseDocument(text, *doc);
  return doc;
}

struct TempFolder {
  TempFolder() : path(fs::temp_directory_path() / ("kelvane-doc-test-" + std::to_string(::getpid()))) {
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~TempFolder() { fs::remove_all(path); }
  fs::path path;
};

TEST(DocumentFile, ReadsEveryMember) {
  auto doc = parsed(R"({"title": "Bracket.SLDPRT", "density": 7850.5,
      "configurations": ["Default", "Long"], "activeConfiguration": "Long",
      "properties": {"Part_No": "A-100", "Finish": "Raw"},
      "configurationProperties": {"Default": {"Finish": "Painted"}}})");
  EXPECT_EQ(doc->title, "Bracket.SLDPRT");
  EXPECT_EQ(doc->density, 7850.5);
  EXPECT_EQ(doc->configurations, (std::vector<std::string>{"Default", "Long"}));
  EXPECT_EQ(doc->activeConfiguration, 1);
  ASSERT_EQ(doc->properties.all().size(), 2u);
  EXPECT_EQ(doc->properties.all()[0].name, "Part_No");  // in the order given
  EXPECT_EQ(doc->properties.all()[1].name, "Finish");
  EXPECT_EQ(doc->configurationProperties["Default"].get("Finish"), "Painted");
  EXPECT_TRUE(doc->configurationProperties["Long"].all().empty());
}

TEST(DocumentFile, EveryMemberIsOptional) {
  auto doc = parsed("{}");
  EXPECT_EQ(doc->title, "");
  EXPECT_EQ(doc->density, 0);
  EXPECT_TRUE(doc->configurations.empty());
  EXPECT_EQ(doc->activeConfiguration, 0);
  EXPECT_EQ(parsed(R"({"configurations": ["A", "B"]})")->activeConfiguration, 0);
}

TEST(DocumentFile, WritesWhatItReads) {
  for (const char* text : {
           R"({"title": "T", "density": 7850, "configurations": ["A", "B"], "activeConfiguration": "B",
               "properties": {"z": "1", "a": " "}, "configurationProperties": {"B": {"x": "é"}}})",
           R"({"density": 0.1})",
           R"({"density": -2.5e-7, "properties": {"USE_CONFIGS": "True"}})",
       }) {
    SCOPED_TRACE(text);
    const auto first = parsed(text);
    const auto again = parsed(documentText(*first));
    EXPECT_EQ(documentJson(*again), documentJson(*first));
    EXPECT_EQ(documentText(*again), documentText(*first));
  }
}

TEST(DocumentFile, KeepsWholeDensitiesWhole) {
  EXPECT_EQ(documentJson(*parsed(R"({"density": 7850})"))["density"].dump(), "7850");
  EXPECT_EQ(documentJson(*parsed(R"({"density": 7850.0})"))["density"].dump(), "7850");
  EXPECT_EQ(documentJson(*parsed(R"({"density": 2.75})"))["density"].dump(), "2.75");
}

TEST(DocumentFile, WritesEveryMemberAndEachConfigurationsProperties) {
  const auto j = documentJson(*parsed(R"({"configurations": ["A", "B"]})"));
  EXPECT_EQ(oneLine(j),
            R"({"title":"","density":0,"configurations":["A","B"],"activeConfiguration":"A",)"
            R"("properties":{},"configurationProperties":{"A":{},"B":{}}})");
  EXPECT_FALSE(documentJson(*parsed("{}")).contains("activeConfiguration"));
}

TEST(DocumentFile, RefusesWhatIsNotADocument) {
  using namespace std::string_literals;
  struct Case {
    std::string text;
    const char* problem;
  };
  const Case cases[] = {
      {"", "not valid JSON: "},
      {"{\"title\": }", "not valid JSON: "},
      {"[]", "a document must be a JSON object, not a JSON array"},
      {"null", "a document must be a JSON object, not a JSON null"},
      {R"({"title": 1})", "\"title\" must be a string"},
      {R"({"density": "7850"})", "\"density\" must be a number"},
      {R"({"configurations": "Default"})", "\"configurations\" must be an array of strings"},
      {R"({"configurations": [1]})", "\"configurations\" must be an array of strings"},
      {R"({"configurations": [""]})", "\"configurations\" holds an empty name"},
      {R"({"configurations": ["A", "A"]})", "\"configurations\" lists \"A\" twice"},
      {R"({"activeConfiguration": "A"})", "\"activeConfiguration\" \"A\" is not one of \"configurations\""},
      {R"({"configurations": ["A"], "activeConfiguration": 0})", "\"activeConfiguration\" must be a string"},
      {R"({"properties": []})", "\"properties\" must be an object whose values are strings"},
      {R"({"properties": {"A": 1}})", "\"properties\": the value of \"A\" must be a string"},
      {R"({"properties": {"A": "1", "a": "2"}})",
       "\"properties\": \"a\" names a property given before (names ignore letter case)"},
      {R"({"properties": {"A": "1", "A": "2"}})", "the member \"A\" appears twice in one object"},
      {R"({"configurationProperties": []})", "\"configurationProperties\" must be an object of objects"},
      {R"({"configurationProperties": {"Long": {}}})",
       "\"configurationProperties\" has properties for \"Long\", which is not one of \"configurations\""},
      {R"({"configurations": ["A"], "configurationProperties": {"A": {"x": null}}})",
       "\"configurationProperties\" of \"A\": the value of \"x\" must be a string"},
      {R"({"Title": "T"})", "unknown member \"Title\""},
      {"{\"title\": \"t\"}\0 junk"s, "not valid JSON: a NUL byte at byte 15 ends the document early"},
      {"{}\0"s, "not valid JSON: a NUL byte at byte 3 ends the document early"},
      {"{\"title\": \"t\0\"}"s,
       "not valid JSON: parse error at line 1, column 13: syntax error while parsing value - invalid string: "
       "control character U+0000 (NUL)"},
      {R"({"title": "t"} junk)", "not valid JSON: parse error at line 1, column 16: syntax error while parsing"},
      {R"({"p": {"a": {}, "a": 1}, "title": 1, "title": 2})", "the member \"a\" appears twice in one object"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      parsed(c.text);
      ADD_FAILURE() << "accepted";
    } catch (const DocumentError& e) {
      EXPECT_TRUE(std::string(e.what()).starts_with(c.problem)) << e.what();
    }
  }
}

TEST(DocumentFile, NamesTheFileItRefuses) {
  TempFolder folder;
  const fs::path path = folder.path / "bad.json";
  std::ofstream(path) << "[1]";
  sim::SimDocument doc(std::make_shared<sim::Faults>());
  try {
    loadDocument(path.string(), doc);
    ADD_FAILURE() << "accepted";
  } catch (const DocumentError& e) {
    EXPECT_EQ(std::string(e.what()), path.string() + ": a document must be a JSON object, not a JSON array");
  }
  EXPECT_THROW(loadDocument((folder.path / "missing.json").string(), doc), DocumentError);
  EXPECT_THROW(loadDocument(folder.path.string(), doc), DocumentError);
}

// The text written without the JSON library's tree is the tree's own dump, byte for
// byte, so that documents and golden files keep their bytes.
TEST(DocumentFile, WritesTheTextTheJsonLibraryWould) {
  for (const char* text : {
           "{}",
           R"({"configurations": ["A"], "configurationProperties": {"A": {}}})",
           R"({"title": "quote \" backslash \\ tab \t nul \u0000 del \u007f", "density": 1e300,
               "configurations": ["\u00e9t\u00e9", "B"], "activeConfiguration": "B",
               "properties": {"x\ny": "\r\n", "": ""}, "configurationProperties": {"B": {"k": "\u20ac"}}})",
       }) {
    SCOPED_TRACE(text);
    const auto doc = parsed(text);
    EXPECT_EQ(documentText(*doc), documentJson(*doc).dump(2, ' ', false, Json::error_handler_t::replace) + "\n");
  }
  sim::SimDocument doc(std::make_shared<sim::Faults>());
  doc.title = "bad \xff\xfe UTF-8 \xe2\x82";
  doc.properties.add("\xc3", "\x80");
  EXPECT_EQ(documentText(doc), documentJson(doc).dump(2, ' ', false, Json::error_handler_t::replace) + "\n");
}

TEST(DocumentFile, TellsAChangedDocumentFromTheSame) {
  const char* text = R"({"configurations": ["A", "B"], "properties": {"x": "1"},
                         "configurationProperties": {"B": {"y": "2"}}})";
  struct Case {
    const char* change;
    void (*apply)(sim::SimDocument&);
    bool same;
  };
  const Case cases[] = {
      {"nothing", [](sim::SimDocument&) {}, true},
      {"a value set to what it was", [](sim::SimDocument& d) { d.scope("B", "t").set("y", "2"); }, true},
      {"a document-wide value", [](sim::SimDocument& d) { d.properties.set("x", "2"); }, false},
      {"a configuration's value", [](sim::SimDocument& d) { d.scope("B", "t").set("y", "3"); }, false},
      {"a new property", [](sim::SimDocument& d) { d.scope("A", "t").add("z", ""); }, false},
      {"a removed property", [](sim::SimDocument& d) { d.properties.remove("x"); }, false},
      {"the active configuration", [](sim::SimDocument& d) { d.activeConfiguration = 1; }, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.change);
    const auto doc = parsed(text);
    const DocumentContents before = contentsOf(*doc);
    c.apply(*doc);
    EXPECT_EQ(sameContents(before, *doc), c.same);
    EXPECT_EQ(contentsOf(*doc) == before, c.same);
  }
}

TEST(DocumentFile, ReadsOnlyRegularFilesUpToTheLimit) {
  TempFolder folder;
  const fs::path file = folder.path / "doc.json";
  const fs::path fifo = folder.path / "fifo";
  std::ofstream(file) << "0123456789";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  fs::create_symlink(file, folder.path / "link");
  fs::create_symlink("/dev/zero", folder.path / "device-link");
  struct Case {
    fs::path path;
    std::uintmax_t limit;
    const char* result;  // the text read, or the problem
  };
  const Case cases[] = {
      {file, 10, "0123456789"},
      {folder.path / "link", 10, "0123456789"},
      {file, 9, "is larger than 0 MiB"},
      {folder.path / "missing", 10, "cannot open the script: No such file or directory"},
      {folder.path, 10, "is a folder, not a file"},
      {fifo, 10, "is a FIFO, not a file"},  // would wait for a writer
      {"/dev/zero", 10, "is a device, not a file"},
      {folder.path / "device-link", 10, "is a device, not a file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    try {
      EXPECT_EQ(readInputFile(c.path.string(), " the script", c.limit), c.result);
    } catch (const ReadError& e) {
      EXPECT_EQ(std::string(e.what()), c.result);
    }
  }
  EXPECT_EQ(notARegularFile(fifo.string()), "is a FIFO, not a file");
  EXPECT_EQ(notARegularFile((folder.path / "missing").string()), "no such file");
  EXPECT_EQ(notARegularFile(file.string()), std::nullopt);

  std::istringstream stream(std::string(3 << 20, 'x'));
  EXPECT_EQ(readInputStream(stream, 3 << 20).size(), std::size_t{3} << 20);
  std::istringstream tooLong(std::string((3 << 20) + 1, 'x'));
  try {
    readInputStream(tooLong, 3 << 20);
    ADD_FAILURE() << "accepted";
  } catch (const ReadError& e) {
    EXPECT_EQ(std::string(e.what()), "is larger than 3 MiB");
  }
}

}  // namespace
}  // namespace kelvane::cli

#include "document_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

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
  struct Case {
    const char* text;
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

}  // namespace
}  // namespace kelvane::cli

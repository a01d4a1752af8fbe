#include "pagedef/parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/checked.h"
#include "platform/fake_platform.h"
#include "sim/sim.h"

namespace kelvane::pagedef {
namespace {

std::string joinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\n";
  return text;
}

// The model as text, one line per record, for golden comparisons.
std::string dump(const PageDefinition& m) {
  std::ostringstream out;
  out << "useConfigs=" << m.useConfigs << " enableIniEdit=" << m.enableIniEdit << "\n";
  for (const auto& g : m.groups) {
    out << "group '" << g.name << "'" << (g.expanded ? "" : " collapsed") << "\n";
    for (const auto& f : g.fields) {
      out << "  field '" << f.caption << "' " << f.propName << (f.remember ? " !" : "")
          << " default='" << f.defaultValue << "'";
      if (f.auxNumber != -1) out << " aux=" << f.auxNumber;
      out << "\n";
      for (const auto& i : f.items) out << "    item '" << i.text << "' code='" << i.code << "'\n";
    }
  }
  for (const auto& c : m.composites) {
    out << "composite " << c.groupIndex << "." << c.fieldIndex << ":";
    for (const auto& p : c.parts) out << " '" << p << "'";
    out << "\n";
  }
  return out.str();
}

const std::vector<std::string> kWorkedExample = {
    "# Drawing properties",
    ":USE_CONFIGS=Yes",
    ":ENABLE_INI_EDIT=no",
    "",
    "[Groups]",
    "Identification",
    "Manufacturing -",
    "[Identification]",
    "!drawn by",
    "Description;Title;{FILE_NAME}",
    "Part Number;Part No",
    "[Manufacturing]",
    "Finish",
    "Density;;{DENSITY}",
    "Code;;<^Part Number!-!^Finish>",
    "[Finish]",
    "Painted;P",
    "*Anodized;A",
    "Raw # untreated",
    "[Commands]",
    "Reset",
};

class ParserTest : public ::testing::Test {
 protected:
  ParserTest() {
    host->activeDocument = host->newDocument();
    host->activeDocument->title = "Bracket.SLDPRT";
    host->activeDocument->density = 7850;
  }

  bool parse(const std::vector<std::string>& lines) {
    os.setFileText(kIniFileName, joinLines(lines));
    return readPageDefinition(model, os, host.get());
  }

  platform::FakePlatform os;
  std::shared_ptr<sim::SimHost> host = std::make_shared<sim::SimHost>();
  PageDefinition model;
};

TEST_F(ParserTest, WorkedExampleBuildsTheWholeModel) {
  ASSERT_TRUE(parse(kWorkedExample));
  EXPECT_EQ(dump(model), R"(useConfigs=1 enableIniEdit=0
group 'Identification'
  field 'drawn by' Drawn_By ! default=''
  field 'Description' Title default='Bracket.SLDPRT'
  field 'Part Number' Part_No default=''
group 'Manufacturing' collapsed
  field 'Finish' Finish default='Anodized'
    item 'Painted' code='P'
    item 'Anodized' code='A'
    item 'Raw' code=''
  field 'Density' Density default='7850.00'
  field 'Code' Code default='<>'
composite 1.2: '^Part Number' '-' '^Finish'
)");
  EXPECT_TRUE(os.messages.empty());
}

TEST_F(ParserTest, EdgeCasesBuildTheExpectedModel) {
  const struct {
    std::vector<std::string> lines;
    std::string model;
  } cases[] = {
      {{}, "useConfigs=0 enableIniEdit=0\n"},
      {{"Alpha", "Beta;b"}, "useConfigs=0 enableIniEdit=0\n"},
      {{"[Groups]", " B", "\tC", "\rD", "A;B", "Name-", "Name -", "-", " [Groups]"},
       "useConfigs=0 enableIniEdit=0\ngroup 'A;B'\ngroup 'Name' collapsed\n"
       "group 'Name' collapsed\ngroup '' collapsed\n"},
      {{"[Groups] # main", "A", "[A]", "Caption", "my part no", "X;a b c", "Y;   ;x",
        "! m\ty  ;;{OTHER}", "Z;;{MASS}", "W;;{file_name};-0012", "V;;< a ! b >;+7",
        "U;;<>; - 32768", "T;;<a!!b>;5;ignored"},
       "useConfigs=0 enableIniEdit=0\ngroup 'A'\n"
       "  field 'Caption' Caption default=''\n"
       "  field 'my part no' My_Part_No default=''\n"
       "  field 'X' a_b_c default=''\n"
       "  field 'Y' Y default='x'\n"
       "  field 'm y' M_Y ! default='{OTHER}'\n"
       "  field 'Z' Z default=''\n"
       "  field 'W' W default='{file_name}' aux=-12\n"
       "  field 'V' V default='<>' aux=7\n"
       "  field 'U' U default='<>' aux=-32768\n"
       "  field 'T' T default='<>' aux=5\n"
       "composite 0.7: ' a ' ' b '\ncomposite 0.8:\ncomposite 0.9: 'a' '' 'b'\n"},
      // ":X" options: "=" empty is true, case matters, no trimming, later wins.
      {{":USE_CONFIGS=", ":ENABLE_INI_EDIT=1", "[Groups]", ":ENABLE_INI_EDIT=true"},
       "useConfigs=1 enableIniEdit=0\n"},
      {{":USE_CONFIGS=YES", ":USE_CONFIGS", ":USE_CONFIGS = no", ":ENABLE_INI_EDIT=TRUE",
        ":ENABLE_INI_EDIT= Yes"},
       "useConfigs=1 enableIniEdit=0\n"},
      // Entries: "*" alone, exactly two columns for a code, several sections add up.
      {{"[Groups]", "G", "[G]", "F", "[F]", "*", "A;x;y", "*  B ; x ", "[Commands]", "Q",
        "[F]", "C;c"},
       "useConfigs=0 enableIniEdit=0\ngroup 'G'\n  field 'F' F default='B'\n"
       "    item '' code=''\n    item 'A' code=''\n    item 'B' code='x'\n"
       "    item 'C' code='c'\n"},
      // A field named like a group takes its section; a section above its group is ignored.
      {{"[Groups]", "A", "[B]", "x", "[Groups]", "B", "[A]", "B", "[B]", "y", "[Unknown]", "z"},
       "useConfigs=0 enableIniEdit=0\ngroup 'A'\n  field 'B' B default=''\n"
       "    item 'y' code=''\ngroup 'B'\n"},
      // The first field in table order wins, even when a later group declared it first.
      {{"[Groups]", "A", "B", "[B]", "X", "[A]", "X", "X", "[X]", "e"},
       "useConfigs=0 enableIniEdit=0\ngroup 'A'\n  field 'X' X default=''\n"
       "    item 'e' code=''\n  field 'X' X default=''\ngroup 'B'\n  field 'X' X default=''\n"},
      // Windows-1252 letters survive the file and proper case.
      {{"[Groups]", "\xC3\x9C" "bersicht", "[\xC3\x9C" "bersicht]", "gr\xC3\x96\xC3\x9F" "e"},
       "useConfigs=0 enableIniEdit=0\ngroup '\xC3\x9C" "bersicht'\n"
       "  field 'gr\xC3\x96\xC3\x9F" "e' Gr\xC3\xB6\xC3\x9F" "e default=''\n"},
      // Lines are read into one string: a short line after a long one, decoded or not,
      // keeps nothing of it.
      {{"[Groups]", "A group name longer than any line below it", "\xC3\xA9t\xC3\xA9", "B", ""},
       "useConfigs=0 enableIniEdit=0\ngroup 'A group name longer than any line below it'\n"
       "group '\xC3\xA9t\xC3\xA9'\ngroup 'B'\n"},
  };
  for (const auto& c : cases) {
    model.useConfigs = true;  // a parse starts over
    model.groups.emplace_back().name = "stale";
    EXPECT_TRUE(parse(c.lines)) << joinLines(c.lines);
    EXPECT_EQ(dump(model), c.model) << joinLines(c.lines);
  }
  EXPECT_TRUE(os.messages.empty());
}

TEST_F(ParserTest, LineErrorsNameTheFailingLine) {
  std::vector<std::string> withWeight = kWorkedExample;
  withWeight[19] = "[Manufacturing]";
  withWeight.push_back("Weight;;;kg");
  const struct {
    std::vector<std::string> lines;
    int line;
  } cases[] = {
      {withWeight, 21},
      {{"[Groups]", "[Unknown]"}, 1},
      {{"# no groups yet", "[Commands]", "[Identification]"}, 2},
      {{"[ Groups ]"}, 0},
      {{"[groups", "A"}, 0},
      {{"[Groups]", "A", "[A]", "Caption;;Default;"}, 3},
      {{"[Groups]", "A", "[A]", "C;;;32768"}, 3},
      {{"[Groups]", "A", "[A]", "C;;;-32769"}, 3},
      {{"[Groups]", "A", "[A]", "C;;;1.5"}, 3},
      {{"[Groups]", "A", "[A]", "C;;;+-1"}, 3},
      {{"[Groups]", "A", "[A]", "C;;;-"}, 3},
      {{"[Groups]", "A", "[A]", "C;;;99999999999999999999"}, 3},
  };
  for (const auto& c : cases) {
    os.messages.clear();
    EXPECT_FALSE(parse(c.lines)) << joinLines(c.lines);
    EXPECT_EQ(os.messages, std::vector<std::string>{lineErrorText(c.line)}) << joinLines(c.lines);
    // Without the add-in's wrapper: the same line, and no message box.
    const ParseResult result = parsePageDefinition(model, os, host.get());
    ASSERT_FALSE(result.read()) << joinLines(c.lines);
    EXPECT_EQ(result.error->line, c.line) << joinLines(c.lines);
    EXPECT_EQ(os.messages.size(), 1u) << joinLines(c.lines);
  }
  EXPECT_EQ(lineErrorText(21), "Error caused by line 21 of Kelvane.ini");
  os.setFileText(kIniFileName, "[Groups]\n[Unknown]\n");
  EXPECT_EQ(parsePageDefinition(model, os, host.get()).error->reason, "section before any group: [Unknown]");
}

// The caption index lists every field in page order, also when a later section adds
// to an earlier group, and describes the new file after a second parse into the same
// model (whose index keeps its storage).
TEST_F(ParserTest, NameIndexListsEveryFieldInPageOrder) {
  const std::string longCaption(40000, 'c');  // longer than a block of keys
  const struct {
    std::vector<std::string> lines;
    std::string caption;
    std::vector<FieldRef> refs;
  } cases[] = {
      {{"[Groups]", "A", "B", "[B]", "x", "y", "[A]", "y", "x", "x"}, "x", {{0, 1}, {0, 2}, {1, 0}}},
      {{"[Groups]", "A", "[A]", "y", "x"}, "x", {{0, 1}}},
      {{"[Groups]", "A", "[A]", "y", "x"}, "y", {{0, 0}}},
      {{"[Groups]", "A", "[A]", "y"}, "x", {}},
      {{"[Groups]", "A", "[A]", longCaption, "z", longCaption}, longCaption, {{0, 0}, {0, 2}}},
      {{"[Groups]", "A", "[A]", "y", "z"}, "z", {{0, 1}}},
      // Names that differ only past their first eight bytes, or in length.
      {{"[Groups]", "A", "[A]", "abcdefgh1", "abcdefgh", "abcdefgh2", "abcdefgh"}, "abcdefgh",
       {{0, 1}, {0, 3}}},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(parse(c.lines)) << joinLines(c.lines);
    const auto found = model.names().fields(c.caption);
    EXPECT_EQ(std::vector<FieldRef>(found.begin(), found.end()), c.refs) << joinLines(c.lines);
  }
  // Every one of many captions keeps its place as the index grows.
  std::vector<std::string> many = {"[Groups]", "A", "[A]"};
  for (int i = 0; i < 2000; ++i) many.push_back("field " + std::to_string(i));
  ASSERT_TRUE(parse(many));
  for (std::int16_t i = 0; i < 2000; ++i) {
    const auto found = model.names().fields("field " + std::to_string(i));
    ASSERT_EQ(found.size(), 1u) << i;
    EXPECT_EQ(found.front(), (FieldRef{0, i}));
  }
}

TEST_F(ParserTest, FailedLineLeavesWhatWasBuilt) {
  EXPECT_FALSE(parse({"[Groups]", "A", "[A]", "B;;<x>;kg", "C"}));
  EXPECT_EQ(dump(model), "useConfigs=0 enableIniEdit=0\ngroup 'A'\n"
                         "  field 'B' B default='<>'\ncomposite 0.0: 'x'\n");
}

TEST_F(ParserTest, MissingFileGivesAnEmptyModelSilently) {
  model.groups.emplace_back();
  model.composites.emplace_back();
  model.enableIniEdit = true;
  EXPECT_TRUE(readPageDefinition(model, os, host.get()));
  EXPECT_EQ(dump(model), "useConfigs=0 enableIniEdit=0\n");
  EXPECT_TRUE(os.messages.empty());
}

TEST_F(ParserTest, FileIsFoundInTheModuleFolderOnly) {
  os.moduleFolder = "/opt/kelvane/";
  os.separator = "/";
  os.files["/opt/kelvane/Kelvane.ini"] = "[Groups]\nElsewhere\n";
  os.files["/opt/kelvane//Kelvane.ini"] = "[Groups]\nHere\n";
  ASSERT_TRUE(readPageDefinition(model, os, host.get()));
  ASSERT_EQ(model.groups.size(), 1u);
  EXPECT_EQ(model.groups[0].name, "Here");
}

TEST_F(ParserTest, FileThatCannotBeReadIsALineError) {
  os.directories.push_back(os.pathOf(kIniFileName));
  EXPECT_FALSE(readPageDefinition(model, os, host.get()));
  EXPECT_EQ(os.messages, std::vector<std::string>{lineErrorText(0)});

  os.directories.clear();
  os.messages.clear();
  os.failNext("read-line", 3);
  EXPECT_FALSE(parse({"[Groups]", "A", "B", "C"}));
  EXPECT_EQ(os.messages, std::vector<std::string>{lineErrorText(2)});
  EXPECT_EQ(model.groups.size(), 1u);
}

TEST_F(ParserTest, FailingExistenceTestReachesTheCaller) {
  os.setFileText(kIniFileName, "[Groups]\n");
  os.failNext("file-exists");
  EXPECT_THROW(readPageDefinition(model, os, host.get()), platform::PlatformError);
  EXPECT_TRUE(os.messages.empty());
}

TEST_F(ParserTest, PlaceholdersReadTheActiveDocument) {
  const struct {
    double density;
    std::string separator, text;
  } cases[] = {
      {7850, ".", "7850.00"}, {2.675, ",", "2,68"},  {0.004, ".", "0.00"},
      {0.005, ".", "0.01"},   {99.999, ".", "100.00"}, {-1.5, ".", "-1.50"},
      {-0.001, ".", "0.00"},  {1234567.891, "<>", "1234567<>89"},
  };
  host->faults->logCalls();
  for (const auto& c : cases) {
    host->activeDocument->density = c.density;
    os.decimalSeparator = c.separator;
    ASSERT_TRUE(parse({"[Groups]", "G", "[G]", "D;;{DENSITY}", "T;; {FILE_NAME} "}));
    EXPECT_EQ(model.groups[0].fields[0].defaultValue, c.text) << c.density;
    EXPECT_EQ(model.groups[0].fields[1].defaultValue, "Bracket.SLDPRT");
  }
  const auto& calls = host->faults->calls;
  auto preference = std::find_if(calls.begin(), calls.end(), [](const sim::CallRecord& r) {
    return r.operation == "get-user-preference-double";
  });
  ASSERT_NE(preference, calls.end());
  EXPECT_EQ(preference->args, std::vector<std::string>{"7"});
}

TEST_F(ParserTest, PlaceholdersWithoutADocumentAreLineErrors) {
  const std::vector<std::string> lines = {"[Groups]", "G", "[G]", "A;;{MASS}", "B;;{X}",
                                          "C;;{FILE_NAME}", "D;;{DENSITY}"};
  const struct {
    const char* name;
    std::function<void()> arrange;
    int line;
  } cases[] = {
      {"no application", [&] { host.reset(); }, 5},
      {"no document", [&] { host->activeDocument.reset(); }, 5},
      {"active document fails", [&] { host->faults->failNext("active-document"); }, 5},
      {"title fails", [&] { host->faults->failNext("get-title"); }, 5},
      {"density fails", [&] { host->faults->failNext("get-user-preference-double"); }, 6},
  };
  for (const auto& c : cases) {
    host = std::make_shared<sim::SimHost>();
    host->activeDocument = host->newDocument();
    os.messages.clear();
    c.arrange();
    EXPECT_FALSE(parse(lines)) << c.name;
    EXPECT_EQ(os.messages, std::vector<std::string>{lineErrorText(c.line)}) << c.name;
  }
}

TEST_F(ParserTest, FileOfMoreThan32767LinesFailsAtLine32767) {
  std::vector<std::string> lines(32767, "# comment");
  EXPECT_TRUE(parse(lines));
  lines.back() = ":USE_CONFIGS=1";
  lines.push_back(":ENABLE_INI_EDIT=1");  // line 32767 is still read
  EXPECT_FALSE(parse(lines));
  EXPECT_EQ(os.messages, std::vector<std::string>{lineErrorText(32767)});
  EXPECT_TRUE(model.useConfigs && model.enableIniEdit);
}

// The line counter stops a file before the table limits; they are reached line by line.
class LineParserTest : public ::testing::Test {
 protected:
  void feed(const std::string& line, int times) {
    for (int i = 0; i < times; ++i) parser.parseLine(line);
  }

  platform::FakePlatform os;
  PageDefinition model;
  LineParser parser{model, os, nullptr};
};

template <class E>
void expectError(const std::function<void()>& run, const std::string& message) {
  try {
    run();
    ADD_FAILURE() << "no error, expected: " << message;
  } catch (const E& e) {
    EXPECT_EQ(e.what(), message);
  }
}

TEST_F(LineParserTest, TablesStopAtTheir16BitLimits) {
  feed("[Groups]", 1);
  feed("G", 1);
  feed("[G]", 1);
  feed("F;;<a>", kMaxIndex + 1);
  expectError<OverflowError>([&] { feed("F", 1); }, "16-bit overflow: field index 32768");
  EXPECT_EQ(model.groups[0].fields.size(), 32768u);
  EXPECT_EQ(model.composites.size(), 32768u);
  EXPECT_EQ(model.composites.back().fieldIndex, kMaxIndex);

  feed("[Groups]", 1);
  feed("Second", 1);
  feed("[Second]", 1);
  expectError<OverflowError>([&] { feed("C;;<b>", 1); }, "16-bit overflow: composite index 32768");

  feed("[F]", 1);
  feed("e", kMaxIndex + 1);
  expectError<OverflowError>([&] { feed("e", 1); }, "16-bit overflow: list entry index 32768");

  feed("[Groups]", 1);
  feed("G", kMaxGroups - 2);
  expectError<OverflowError>([&] { feed("H", 1); }, "16-bit overflow: group count 32768");
  EXPECT_EQ(model.groups.size(), 32768u);  // the failing line's group stays
}

// Lines are scanned eight bytes at a time: columns, comments and tabs are found at
// every offset, as the plain reading (cut at "#", tabs as blanks, trimmed, split at
// ";") finds them.
TEST_F(LineParserTest, ColumnsCommentsAndTabsAreFoundAtEveryOffset) {
  const auto trimmed = [](std::string s) {
    s.erase(0, s.find_first_not_of(' '));
    s.erase(s.find_last_not_of(' ') + 1);
    return s;
  };
  for (const char* line : {"[Groups]", "G", "[G]"}) feed(line, 1);
  for (int pad = 0; pad < 18; ++pad) {
    const std::string a(pad, 'a');
    // A line's first character decides whether it is read at all: here, always.
    for (const std::string& line : {"k" + a + "\tb;" + a + " c;d" + a + "#;x\t;y", "x" + a + ";;" + a + "\t; 7",
                                    "k" + a + "p" + a + ";q r" + a + "#", "k " + a + ";" + a + ";#" + a}) {
      std::string plain = line.substr(0, line.find('#'));
      std::replace(plain.begin(), plain.end(), '\t', ' ');
      std::vector<std::string> columns;
      std::size_t start = 0;
      for (std::size_t at; (at = plain.find(';', start)) != std::string::npos; start = at + 1)
        columns.push_back(trimmed(plain.substr(start, at - start)));
      columns.push_back(trimmed(plain.substr(start)));
      columns.resize(4);

      feed(line, 1);
      ASSERT_FALSE(model.groups[0].fields.empty());
      const FieldDef& f = model.groups[0].fields.back();
      EXPECT_EQ(f.caption, columns[0]) << line;
      std::string property = columns[1];
      std::replace(property.begin(), property.end(), ' ', '_');
      if (!property.empty()) {
        EXPECT_EQ(f.propName, property) << line;
      }
      EXPECT_EQ(f.defaultValue, columns[2]) << line;
      EXPECT_EQ(f.auxNumber, columns[3].empty() ? -1 : std::stoi(columns[3])) << line;
    }
  }
}

TEST_F(LineParserTest, LookupsFindTheFirstMatchOrFail) {
  std::int16_t g = 5, f = 5;
  expectError<DefinitionError>([&] { parser.findGroupSection("[A]", g); },
                               "section before any group: [A]");
  EXPECT_EQ(g, -1);
  for (const char* line : {"[Groups]", "A", "B", "A", "[B]", "x", "x", "[A]", "x"}) feed(line, 1);
  EXPECT_TRUE(parser.findGroupSection("[A]", g));
  EXPECT_EQ(g, 0);
  EXPECT_TRUE(parser.findFieldSection("[x]", g, f));
  EXPECT_EQ(g, 0);
  EXPECT_EQ(f, 0);
  EXPECT_FALSE(parser.findFieldSection("[A]", g, f));
  EXPECT_EQ(g, -1);
  EXPECT_EQ(f, -1);
  EXPECT_FALSE(parser.findGroupSection("A", g));
  expectError<DefinitionError>(
      [&] {
        feed("[A]", 1);
        feed("x;;;y", 1);
      },
      "not a 16-bit number: 'y'");
}

}  // namespace
}  // namespace kelvane::pagedef

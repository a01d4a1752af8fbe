#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "common/checked.h"
#include "page/session.h"

namespace kelvane::testing {
namespace {

class PageEvents : public ::testing::Test {
 protected:
  void open(Session& session) {
    ASSERT_TRUE(session.connect());
    ASSERT_TRUE(session.open());
  }
  FieldBinding& field(Session& session, int g, int f) { return session.state().binding(g, f); }
  host::PropertyManagerPage2Handler& handler(Session& session) { return *session.addin.handler(); }
};

TEST_F(PageEvents, StoresTypedTextByTheTwoCharacterRule) {
  const std::pair<const char*, const char*> cases[] = {
      {"A-100", "A-100"},
      {"", " "},                         // an emptied box keeps the empty mark
      {" x", "x"},                       // a character typed after the mark
      {"  ", " "},
      {" \xC3\xA9", "\xC3\xA9"},         // two characters, the second taking two bytes
      {" \xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
      {" xy", " xy"},
      {"x ", "x "},
      {"\xC3\xA9", "\xC3\xA9"},          // one character of two bytes
  };
  Session session;
  open(session);
  for (const auto& [typed, stored] : cases) {
    ASSERT_TRUE(session.host->typeText(id::kPartNumber, typed));
    EXPECT_EQ(field(session, 0, 2).configValues[0], stored) << "typed '" << typed << "'";
    EXPECT_EQ(session.textBox(id::kPartNumber).text, typed);  // the box itself is not written
  }
}

TEST_F(PageEvents, RebuildsCompositesAfterEveryEventThatCanChangeAField) {
  Session session;
  session.doc->properties.set("Part_No", "P-7");
  open(session);
  auto& code = session.textBox(id::kCode);
  EXPECT_EQ(code.text, "P-7-A");

  ASSERT_TRUE(session.host->typeText(id::kPartNumber, "A-100"));
  EXPECT_EQ(code.text, "A-100-A");
  ASSERT_TRUE(session.host->selectItem(id::kFinish, 0));
  EXPECT_EQ(code.text, "A-100-P");
  EXPECT_EQ(field(session, 1, 0).configValues[0], "Painted");  // the entry's text, not its code

  // Unknown ids still rebuild, from what the controls show now.
  session.textBox(id::kPartNumber).text = "B-1";
  handler(session).PropertyManagerPage2Handler_OnButtonPress(4711);
  EXPECT_EQ(code.text, "B-1-P");
  session.textBox(id::kPartNumber).text = "B-2";
  handler(session).PropertyManagerPage2Handler_OnCheckboxCheck(4711, true);
  EXPECT_EQ(code.text, "B-2-P");
  EXPECT_EQ(field(session, 1, 1).configValues[0], "B-2-P");

  ASSERT_TRUE(session.host->pressButton(20001));
  EXPECT_EQ(code.text, "-P");
  ASSERT_TRUE(session.host->pressButton(20002));
  EXPECT_EQ(code.text, "-A");
}

TEST_F(PageEvents, DecodesIdsByTruncatingTowardZero) {
  std::string ini = "[Groups]\nG0\nG1\nG2\nG3\n[G2]\n";
  for (int f = 0; f < 1000; ++f) ini += "F" + std::to_string(f) + "\n";
  ini += "[G3]\nFirst\n";
  Session session(ini);
  open(session);

  ASSERT_TRUE(session.host->typeText(2999, "last of two"));
  ASSERT_TRUE(session.host->typeText(3000, "first of three"));
  EXPECT_EQ(field(session, 2, 999).configValues[0], "last of two");
  EXPECT_EQ(field(session, 3, 0).configValues[0], "first of three");
}

TEST_F(PageEvents, FailsTheCallForIdsThatAddressNoField) {
  Session session;
  open(session);
  auto& h = handler(session);
  const std::size_t from = session.host->faults->calls.size();

  EXPECT_THROW(h.PropertyManagerPage2Handler_OnTextboxChanged(-1, "x"), std::out_of_range);
  EXPECT_THROW(h.PropertyManagerPage2Handler_OnTextboxChanged(5000, "x"), std::out_of_range);
  EXPECT_THROW(h.PropertyManagerPage2Handler_OnTextboxChanged(7, "x"), std::out_of_range);
  EXPECT_THROW(h.PropertyManagerPage2Handler_OnComboboxSelectionChanged(1999, 0), std::out_of_range);
  try {
    h.PropertyManagerPage2Handler_OnTextboxChanged(40'000'000, "x");
    FAIL() << "no error";
  } catch (const OverflowError& e) {
    EXPECT_STREQ(e.what(), "16-bit overflow: group index 40000");
  }
  try {
    h.PropertyManagerPage2Handler_OnComboboxSelectionChanged(10002, 70000);
    FAIL() << "no error";
  } catch (const OverflowError& e) {
    EXPECT_STREQ(e.what(), "16-bit overflow: configuration index 70000");
  }
  EXPECT_EQ(session.countSince(from, "set-text"), 0u);  // no composite pass after a failure
}

TEST_F(PageEvents, EndsTheMethodWhenAHostCallFails) {
  Session session;
  open(session);
  session.host->faults->failNext("item-text");

  try {
    session.host->selectItem(id::kFinish, 2);
    FAIL() << "no error";
  } catch (const host::HostError& e) {
    EXPECT_EQ(e.operation(), "item-text");
  }
  EXPECT_EQ(field(session, 1, 0).configValues[0], "Anodized");
  EXPECT_EQ(session.textBox(id::kCode).text, "-A");  // not rebuilt
}

TEST_F(PageEvents, SwitchesConfigurationsAndEnablesTheCheckboxOnlyOnTheFirst) {
  Session session(kDrawingIni, {"Default", "Large", "Small"});
  session.doc->properties.set("USE_CONFIGS", "True");
  session.doc->configurationProperties["Large"].set("Part_No", "L-1");
  open(session);

  ASSERT_TRUE(session.host->typeText(id::kPartNumber, "D-1"));
  ASSERT_TRUE(session.host->selectItem(10002, 1));
  EXPECT_EQ(session.state().currentConfig, 1);
  EXPECT_FALSE(session.checkbox().enabled);
  EXPECT_EQ(session.textBox(id::kPartNumber).text, "L-1");
  EXPECT_EQ(session.textBox(id::kCode).text, "L-1-A");
  EXPECT_THROW(session.host->checkBox(10003, false), sim::UserError);  // a person cannot use it now

  ASSERT_TRUE(session.host->selectItem(10002, 0));
  EXPECT_TRUE(session.checkbox().enabled);
  EXPECT_EQ(session.textBox(id::kPartNumber).text, "D-1");  // the edit is kept in its slot
}

TEST_F(PageEvents, RereadsTheDocumentWhenUseConfigurationsIsSwitched) {
  Session session(kDrawingIni, {"Default", "Large"});
  session.doc->properties.set("Part_No", "document");
  session.doc->configurationProperties["Default"].set("Part_No", "first");
  session.doc->configurationProperties["Large"].set("Part_No", "second");
  open(session);
  ASSERT_TRUE(session.host->typeText(id::kPartNumber, "typed"));

  ASSERT_TRUE(session.host->checkBox(10003, true));
  EXPECT_TRUE(session.state().model.useConfigs);
  EXPECT_EQ(field(session, 0, 2).configValues, (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(session.textBox(id::kPartNumber).text, "first");
  EXPECT_TRUE(session.comboBox(10002).enabled);

  ASSERT_TRUE(session.host->checkBox(10003, false));
  EXPECT_FALSE(session.state().model.useConfigs);
  EXPECT_EQ(session.textBox(id::kPartNumber).text, "document");
  EXPECT_EQ(session.textBox(id::kCode).text, "document-A");
  EXPECT_FALSE(session.comboBox(10002).enabled);
}

TEST_F(PageEvents, AnswersHelpWithAStatusText) {
  Session session;
  open(session);
  EXPECT_FALSE(handler(session).PropertyManagerPage2Handler_OnHelp());
  EXPECT_EQ(session.lastStatus(), "No help available");
}

// A failed write costs only that value: the others are saved, the log is written, and
// the error stays on the status bar instead of the farewell.
TEST_F(PageEvents, ASavingCloseWritesWhatItCanLogsAndKeepsTheErrorShown) {
  Session session;
  open(session);
  ASSERT_TRUE(session.host->typeText(id::kDrawnBy, "KL"));
  session.host->faults->failNext("add-custom-property", 2);

  ASSERT_TRUE(session.host->closePage(1));

  // The second write, Title's, failed.
  EXPECT_EQ(session.allProperties(),
            "[document]\nDrawn_By=KL\nPart_No= \nFinish=Anodized\nCode=-A\nUSE_CONFIGS=False\n[Default]\n");
  EXPECT_EQ(session.lastStatus(), "Error in saveCP");
  EXPECT_NE(session.os.fileText("Kelvane.log").find("Drawn By;KL"), std::string::npos);
  EXPECT_TRUE(session.state().model.groups.empty());
}

TEST_F(PageEvents, AFailedLogWriteStaysOnTheStatusBar) {
  Session session;
  open(session);
  session.os.readOnly.push_back(session.os.pathOf("Kelvane.log"));
  session.os.setFileText("Kelvane.log", "Drawn By;MR\n");
  ASSERT_TRUE(session.host->closePage(1));
  EXPECT_EQ(session.lastStatus(), "Error writing log file");
}

TEST_F(PageEvents, DiscardsEveryEditOnAnyOtherCloseReason) {
  for (int reason : {0, 2, 3}) {
    Session session;
    session.os.setFileText("Kelvane.log", "Drawn By;old\n");
    open(session);
    ASSERT_TRUE(session.host->typeText(id::kDrawnBy, "KL"));
    const std::string before = session.allProperties();

    ASSERT_TRUE(session.host->closePage(reason));

    EXPECT_EQ(session.allProperties(), before) << reason;
    EXPECT_EQ(session.os.fileText("Kelvane.log"), "Drawn By;old\n") << reason;
    EXPECT_TRUE(session.state().model.groups.empty()) << reason;
    EXPECT_EQ(session.lastStatus(), "Thank you for using Kelvane") << reason;
  }
}

}  // namespace
}  // namespace kelvane::testing

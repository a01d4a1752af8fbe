#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "page/session.h"
#include "platform/platform.h"

namespace kelvane::testing {
namespace {

std::string callsSince(const Session& session, std::size_t from) {
  std::string out;
  for (std::size_t i = from; i < session.host->faults->calls.size(); ++i) {
    const auto& call = session.host->faults->calls[i];
    out += call.operation;
    for (const auto& arg : call.args) out += " '" + arg + "'";
    out += "\n";
  }
  return out;
}

std::vector<std::string> logLines(Session& session) {
  return platform::splitLines(session.os.fileText("Kelvane.log"));
}

void expectCommandOffered(Session& session, const std::string& enableCallback) {
  ASSERT_EQ(session.host->menu.size(), 2u);
  for (int k = 0; k < 2; ++k) {
    const auto& item = session.host->menu[k];
    EXPECT_EQ(item.docType, k + 1);
    EXPECT_EQ(item.path, "Kelvane 1.1@Tools");
    EXPECT_EQ(item.callback, "DispPropMgr");
    EXPECT_EQ(item.enableCallback, enableCallback);
    EXPECT_EQ(item.text, "Edit Custom Properties");
  }
  EXPECT_EQ(session.host->menuStatusNow(), 1);
}

TEST(SwAddIn, ConnectsByRegisteringCallbacksTheMenuItemAndThePage) {
  Session session;
  ASSERT_TRUE(session.connect());

  EXPECT_EQ(callsSince(session, 0),
            "register-callbacks '268435456' '42'\n"
            "menu-name '4'\n"
            "add-menu-item '1' '42' 'Kelvane 1.1@Tools' '0' 'DispPropMgr' 'menuStatus' 'Edit Custom Properties'\n"
            "add-menu-item '2' '42' 'Kelvane 1.1@Tools' '0' 'DispPropMgr' 'menuStatus' 'Edit Custom Properties'\n"
            "create-page 'Kelvane 1.1' '7'\n");
  ASSERT_TRUE(session.host->callbacks);
  EXPECT_EQ(session.host->callbacks->target, &session.addin);
  EXPECT_EQ(session.host->page->handler, session.addin.handler());
  EXPECT_EQ(session.state().propPage, session.host->page);
  expectCommandOffered(session, "menuStatus");
}

TEST(SwAddIn, LetsAFailedConnectionStepReachTheHostAndKeepsWhatWasDone) {
  Session session;
  session.host->faults->failNext("create-page");
  try {
    session.connect();
    FAIL() << "no error";
  } catch (const host::HostError& e) {
    EXPECT_EQ(e.operation(), "create-page");
  }
  EXPECT_EQ(session.host->menu.size(), 2u);
  EXPECT_FALSE(session.state().propPage);
  EXPECT_TRUE(session.addin.SwAddIn_DisconnectFromSW());
  EXPECT_TRUE(session.host->menu.empty());
}

TEST(SwAddIn, AnswersCallsByName) {
  Session session;
  ASSERT_TRUE(session.connect());
  EXPECT_EQ(session.addin.InvokeByName("menuStatus"), 1);
  EXPECT_EQ(session.addin.InvokeByName("swAddIn.menuStatus"), 1);
  EXPECT_EQ(session.addin.InvokeByName("DispPropMgr"), -1);
  EXPECT_EQ(session.addin.InvokeByName("menuStatus"), 0);
  EXPECT_EQ(session.addin.InvokeByName("swAddIn.menuStatus"), 0);
  session.host->closePage(2);
  session.os.files.clear();
  EXPECT_EQ(session.addin.InvokeByName("DispPropMgr"), 0);

  for (const char* name : {"dispPropMgr", "MenuStatus", "swAddIn.DispPropMgr", ""}) {
    try {
      session.addin.InvokeByName(name);
      FAIL() << "no error for '" << name << "'";
    } catch (const host::HostError& e) {
      EXPECT_EQ(e.operation(), "invoke");
      EXPECT_EQ(std::string(e.what()), std::string("host operation failed: invoke") + (*name ? ": " : "") + name);
    }
  }
}

TEST(SwAddIn, CarriesOneEditFromTheMenuIntoTheDocumentAndTheLog) {
  Session session;
  session.doc->properties.set("Part_No", "P-7");
  ASSERT_TRUE(session.connect());

  ASSERT_TRUE(session.open());
  EXPECT_EQ(session.lastStatus(), std::string("Kelvane 1.1 ") + kCopyrightNotice);
  EXPECT_EQ(session.host->menuStatusNow(), 0);
  EXPECT_EQ(session.textBox(id::kPartNumber).text, "P-7");
  EXPECT_EQ(session.textBox(id::kDescription).text, "Bracket");
  EXPECT_EQ(session.textBox(id::kCode).text, "P-7-A");

  ASSERT_TRUE(session.host->typeText(id::kPartNumber, "A-100"));
  EXPECT_EQ(session.textBox(id::kCode).text, "A-100-A");
  ASSERT_TRUE(session.host->closePage(1));

  EXPECT_EQ(session.allProperties(),
            "[document]\n"
            "Part_No=A-100\n"
            "Drawn_By=JD\n"
            "Title=Bracket\n"
            "Finish=Anodized\n"
            "Code=A-100-A\n"
            "USE_CONFIGS=False\n"
            "[Default]\n");
  const auto lines = logLines(session);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "# File written by Kelvane 1.1 on 07/12/2026 23:53");
  EXPECT_EQ(lines[1], std::string("# Kelvane is ") + kCopyrightNotice);
  EXPECT_EQ(lines[4], "Drawn By;JD");
  EXPECT_EQ(lines[5], "Part Number;A-100");
  expectCommandOffered(session, "swAddIn.menuStatus");
  EXPECT_EQ(session.lastStatus(), "Thank you for using Kelvane");
  EXPECT_TRUE(session.state().model.groups.empty());
}

TEST(SwAddIn, SavesEachConfigurationsOwnValuesWhenConfigurationsAreInUse) {
  Session session(kDrawingIni, {"Default", "Large"});
  session.doc->properties.set("USE_CONFIGS", "True");
  session.doc->configurationProperties["Default"].set("Part_No", "D-1");
  session.doc->configurationProperties["Large"].set("Part_No", "L-1");
  ASSERT_TRUE(session.connect());
  ASSERT_TRUE(session.open());
  EXPECT_EQ(session.comboBox(10002).items, (std::vector<std::string>{"Default", "Large"}));
  EXPECT_TRUE(session.checkbox().checked);

  ASSERT_TRUE(session.host->typeText(id::kPartNumber, "D-2"));
  ASSERT_TRUE(session.host->selectItem(10002, 1));
  EXPECT_EQ(session.textBox(id::kPartNumber).text, "L-1");
  ASSERT_TRUE(session.host->typeText(id::kPartNumber, "L-2"));
  ASSERT_TRUE(session.host->selectItem(id::kFinish, 0));
  EXPECT_EQ(session.textBox(id::kCode).text, "L-2-P");
  ASSERT_TRUE(session.host->closePage(1));

  EXPECT_EQ(session.allProperties(),
            "[document]\n"
            "USE_CONFIGS=True\n"
            "[Default]\n"
            "Part_No=D-2\n"
            "Drawn_By=JD\n"
            "Title=Bracket\n"
            "Finish=Anodized\n"
            "Code=D-2-A\n"
            "[Large]\n"
            "Part_No=L-2\n"
            "Drawn_By=JD\n"
            "Title=Bracket\n"
            "Finish=Painted\n"
            "Code=L-2-P\n");
  EXPECT_EQ(logLines(session).back(), "Part Number;L-2");  // the configuration shown at the close
}

TEST(SwAddIn, CancellingWritesNothingAndKeepsTheLog) {
  Session session;
  session.doc->properties.set("Part_No", "P-7");
  session.os.setFileText("Kelvane.log", "Part Number;remembered\n");
  ASSERT_TRUE(session.connect());
  ASSERT_TRUE(session.open());
  ASSERT_TRUE(session.host->typeText(id::kPartNumber, "A-100"));
  ASSERT_TRUE(session.host->pressButton(20001));

  ASSERT_TRUE(session.host->closePage(2));

  EXPECT_EQ(session.allProperties(), "[document]\nPart_No=P-7\n[Default]\n");
  EXPECT_EQ(session.os.fileText("Kelvane.log"), "Part Number;remembered\n");
  expectCommandOffered(session, "swAddIn.menuStatus");
}

TEST(SwAddIn, ReopeningOffersTheRememberedValuesAsDefaults) {
  Session session;
  ASSERT_TRUE(session.connect());
  ASSERT_TRUE(session.open());
  ASSERT_TRUE(session.host->typeText(id::kDrawnBy, "KL"));
  ASSERT_TRUE(session.host->typeText(id::kPartNumber, "A-100"));
  ASSERT_TRUE(session.host->typeText(id::kDescription, "not remembered"));
  ASSERT_TRUE(session.host->closePage(1));

  session.host->activeDocument = session.host->newDocument();
  session.host->activeDocument->title = "Other";
  session.host->activeDocument->addConfiguration("Default");
  ASSERT_TRUE(session.open());

  EXPECT_EQ(session.textBox(id::kDrawnBy).text, "KL");
  EXPECT_EQ(session.textBox(id::kPartNumber).text, "A-100");
  EXPECT_EQ(session.textBox(id::kDescription).text, "Other");
  EXPECT_EQ(session.textBox(id::kCode).text, "A-100-A");
}

TEST(SwAddIn, DisconnectingWithThePageOpenSavesClosesAndLeavesNoMenuItem) {
  Session session;
  ASSERT_TRUE(session.connect());
  ASSERT_TRUE(session.open());
  ASSERT_TRUE(session.host->typeText(id::kPartNumber, "Z-9"));
  const std::size_t from = session.host->faults->calls.size();

  EXPECT_TRUE(session.addin.SwAddIn_DisconnectFromSW());

  const auto ops = session.operationsSince(from);
  ASSERT_GE(ops.size(), 5u);
  EXPECT_EQ(std::vector<std::string>(ops.begin(), ops.begin() + 3),
            (std::vector<std::string>{"remove-menu-item", "remove-menu-item", "close-page"}));
  EXPECT_EQ(session.host->faults->calls[from + 2].args, std::vector<std::string>{"true"});
  EXPECT_EQ(std::vector<std::string>(ops.end() - 2, ops.end()),
            (std::vector<std::string>{"remove-menu-item", "remove-menu-item"}));
  EXPECT_EQ(session.property("", "Part_No"), "Z-9");
  EXPECT_TRUE(session.host->menu.empty());
  EXPECT_EQ(session.host->pickMenu(), sim::SimHost::MenuResult::Unavailable);
  EXPECT_FALSE(session.host->page->shown);
  EXPECT_FALSE(session.state().propPage);
  EXPECT_TRUE(session.state().model.groups.empty());
}

TEST(SwAddIn, DisconnectingWithThePageClosedOnlyRemovesTheMenuItemAndClosesThePage) {
  Session session;
  ASSERT_TRUE(session.connect());
  ASSERT_TRUE(session.open());
  ASSERT_TRUE(session.host->closePage(2));
  const std::size_t statuses = session.host->statusTexts.size();
  const std::size_t from = session.host->faults->calls.size();

  EXPECT_TRUE(session.addin.SwAddIn_DisconnectFromSW());

  EXPECT_EQ(callsSince(session, from),
            "remove-menu-item '1' 'Kelvane 1.1@Tools' 'DispPropMgr'\n"
            "remove-menu-item '2' 'Kelvane 1.1@Tools' 'DispPropMgr'\n"
            "close-page 'true'\n");
  EXPECT_TRUE(session.host->menu.empty());
  EXPECT_EQ(session.host->statusTexts.size(), statuses);
  EXPECT_EQ(session.property("", "Part_No"), "<absent>");
}

TEST(SwAddIn, LeavesNoMenuItemWhenClosingThePageFailsDuringDisconnection) {
  Session session;
  ASSERT_TRUE(session.connect());
  ASSERT_TRUE(session.open());
  session.host->faults->failNext("close-page");

  EXPECT_THROW(session.addin.SwAddIn_DisconnectFromSW(), host::HostError);
  EXPECT_TRUE(session.host->menu.empty());
}

}  // namespace
}  // namespace kelvane::testing

// Arbitrary bytes as Kelvane.log, applied to a fixed page definition through a whole
// opening (DispPropMgr) on the simulated host, then "Load Default Values" (which puts
// the logged defaults into the controls) and a saving close (which writes the log).
//
// Checks: whatever the log holds, the page opens and shows, nothing fails, and the
// log that the close writes is a complete one.
#include <cstdint>
#include <memory>
#include <string>

#include "addin/swaddin.h"
#include "fuzz_support.h"
#include "pagedef/parser.h"
#include "platform/fake_platform.h"
#include "sim/sim.h"

using namespace kelvane;

namespace {

// Remembered text boxes, a remembered combo box, a caption given twice, a placeholder
// and a composite that reads them all.
constexpr const char* kDefinition =
    ":USE_CONFIGS=Yes\n"
    "[Groups]\n"
    "Identification\n"
    "Manufacturing -\n"
    "[Identification]\n"
    "!Drawn By;;JD\n"
    "Description;Title;{FILE_NAME}\n"
    "!Part Number;Part_No\n"
    "!Revision;Rev;A;3\n"
    "[Manufacturing]\n"
    "!Finish\n"
    "!Code;;<Part Number!-!^Finish!/!Revision!Drawn By>\n"
    "!Drawn By;Checker\n"
    "[Finish]\n"
    "Painted;P\n"
    "*Anodized;A\n"
    "Raw\n";

constexpr int kLoadDefaultsButton = 20002;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  platform::FakePlatform os;
  os.setFileText(pagedef::kIniFileName, kDefinition);
  os.files[os.pathOf(kLogFileName)] = std::string(reinterpret_cast<const char*>(data), size);

  auto host = std::make_shared<sim::SimHost>();
  std::string failures;
  host->onEvent = [&](const std::string& kind, const std::string& text) {
    if (kind == "error") failures += text + "\n";
  };
  auto doc = host->newDocument();
  doc->title = "Bracket.SLDPRT";
  doc->addConfiguration("Default");
  doc->addConfiguration("Long");
  doc->activeConfiguration = 1;
  doc->configurationProperties["Long"].set("Part_No", "A-100");
  host->activeDocument = doc;

  swAddIn addin(os);
  addin.SwAddIn_ConnectToSW(host, 1);
  fuzz::require(host->pickMenu() == sim::SimHost::MenuResult::Ran, "menu command ran");
  fuzz::require(host->page && host->page->shown, "page shown",
                host->statusTexts.empty() ? "" : host->statusTexts.back());
  for (const auto& text : host->statusTexts)
    fuzz::require(text != status::kExitOnError && text != status::kLoadError &&
                      text != status::kCompositeError,
                  "opening failed", text);

  fuzz::require(host->pressButton(kLoadDefaultsButton), "Load Default Values pressed");
  fuzz::require(host->closePage(host::code::kCloseOkay), "page closed");
  fuzz::require(failures.empty(), "close failed", failures);

  const std::string log = os.fileText(kLogFileName);
  fuzz::require(log.rfind("# File written by Kelvane 1.1 on ", 0) == 0, "log rewritten", log);
  fuzz::require(log.find("\r\n# Do not edit of modify this file\r\n\r\n") != std::string::npos,
                "log header complete", log);
  addin.SwAddIn_DisconnectFromSW();
  return 0;
}

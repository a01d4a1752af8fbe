// Arbitrary bytes as Kelvane.ini. The input's first line chooses the host side, the
// rest is the file as stored:
//
//   first line  "M D"  M: 0 no application, 1 no active document, 2 a document whose
//                      density is D (any number strtod reads, "nan" and "inf" too),
//                      3 a document whose title and density calls fail
//   the rest           the bytes of Kelvane.ini
//
// Checks: a parse that succeeds shows nothing and leaves a consistent model; a parse
// that fails shows exactly one line-error message naming a line of the file; parsing
// the same file again into the model left behind gives the same result.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "pagedef/parser.h"
#include "platform/fake_platform.h"
#include "sim/sim.h"

using namespace kelvane;

namespace {

struct HostSide {
  std::shared_ptr<sim::SimHost> host;
  host::Application* app = nullptr;
};

HostSide hostFor(std::string_view header) {
  HostSide side;
  const int mode = header.empty() ? 0 : (header.front() & 3);
  if (mode == 0) return side;
  side.host = std::make_shared<sim::SimHost>();
  side.app = side.host.get();
  if (mode == 1) return side;

  auto doc = side.host->newDocument();
  doc->title = "Bracket.SLDPRT";
  const std::string density(header.substr(std::min<std::size_t>(1, header.size())));
  doc->density = std::strtod(density.c_str(), nullptr);
  side.host->activeDocument = doc;
  if (mode == 3) {
    side.host->faults->failNext("get-title");
    side.host->faults->failNext("get-user-preference-double");
  }
  return side;
}

// Parses `bytes` as the stored file into `model`; returns the model as text and the
// messages shown.
std::pair<std::string, std::vector<std::string>> parseInto(pagedef::PageDefinition& model,
                                                           const std::string& bytes,
                                                           std::string_view header, bool& ok) {
  platform::FakePlatform os;
  os.files[os.pathOf(pagedef::kIniFileName)] = bytes;
  HostSide side = hostFor(header);
  ok = pagedef::readPageDefinition(model, os, side.app);
  if (ok) fuzz::checkModel(model);
  return {fuzz::dumpModel(model), os.messages};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t eol = input.find('\n');
  const std::string_view header = input.substr(0, eol);
  const std::string bytes(eol == std::string_view::npos ? std::string_view() : input.substr(eol + 1));

  pagedef::PageDefinition parsed;
  bool ok = false;
  const auto [model, messages] = parseInto(parsed, bytes, header, ok);

  const auto lines = platform::splitLines(platform::decodeCp1252(bytes));
  if (ok) {
    fuzz::require(messages.empty(), "message shown after a good parse", messages.empty() ? "" : messages[0]);
  } else {
    fuzz::require(messages.size() == 1, "one message after a line error");
    bool named = false;
    for (std::size_t k = 0; k < lines.size() && k <= 32767 && !named; ++k)
      named = messages[0] == pagedef::lineErrorText(static_cast<int>(k));
    fuzz::require(named, "line error names no line of the file", messages[0]);
  }

  // Every opening parses into the same model: what the first parse left behind, even
  // a partial model, must not show through.
  bool okAgain = false;
  const auto [modelAgain, messagesAgain] = parseInto(parsed, bytes, header, okAgain);
  fuzz::require(ok == okAgain && messages == messagesAgain, "second parse disagrees");
  if (ok) fuzz::require(model == modelAgain, "second parse gives another model");
  return 0;
}

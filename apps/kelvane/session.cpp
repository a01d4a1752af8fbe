#include "session.h"

#include <filesystem>
#include <iostream>
#include <memory>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "addin/swaddin.h"
#include "atomic_file.h"
#include "cli_platform.h"
#include "document_file.h"
#include "live_session.h"
#include "script.h"
#include "sim/sim.h"
#include "transcript.h"
#ifdef _WIN32
#include "com_session.h"
#endif

namespace kelvane::cli {

namespace {

std::string readScript(const SessionOptions& options, std::istream& in) {
  try {
    return options.script ? readInputFile(*options.script, " the script") : readInputStream(in);
  } catch (const ReadError& e) {
    throw ScriptError(options.script.value_or("<stdin>") + ": " + e.what());
  }
}

// A folder that does not exist would lose the session's result at the very end.
void checkOutputFolder(const std::string& path) {
  std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (folder.empty()) folder = ".";
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) {
    throw DocumentError(path + ": the folder " + folder.string() + " does not exist");
  }
}

}  // namespace

int runSession(const SessionOptions& options, std::istream& in, std::ostream& out, std::ostream& err) {
  auto host = std::make_shared<sim::SimHost>();
  std::shared_ptr<sim::SimDocument> doc;
  DocumentContents before;
  std::vector<Command> commands;
  try {
    commands = parseScript(readScript(options, in), options.script.value_or("<stdin>"));
    if (options.doc) {
      doc = host->newDocument();
      loadDocument(*options.doc, *doc);
      checkOutputFolder(options.out.value_or(*options.doc));
      before = contentsOf(*doc);
      host->activeDocument = doc;
    }
  } catch (const std::runtime_error& e) {
    err << "kelvane: " << e.what() << '\n';
    return 2;
  } catch (const std::bad_alloc&) {
    err << "kelvane: out of memory reading the " << (doc ? "document" : "script") << '\n';
    return 2;
  }

  CliPlatform platform(moduleFolderOf(options.addinDir), &out);
  std::unique_ptr<host::SwAddin> addin;
#ifdef _WIN32
  if (options.com) {
    try {
      addin = loadRegisteredAddin(moduleFolderOf(options.addinDir), platform);
    } catch (const std::runtime_error& e) {
      err << "kelvane: " << e.what() << '\n';
      return 2;
    }
  }
#endif
  if (!addin) {
    auto inProcess = std::make_unique<swAddIn>(platform);
    if (options.verbose) {
      inProcess->state().onFailure = [&out](std::string_view procedure, const std::exception& e) {
        printLine(out, "trace: " + std::string(procedure) + ": " + e.what());
      };
    }
    addin = std::move(inProcess);
  }
  {
    LiveSession session(host, platform, out, std::move(addin));
    session.connect(options.cookie);
    for (const auto& command : commands) session.run(command);
    session.disconnect();
  }
  out.flush();

  if (!doc || sameContents(before, *doc)) return 0;
  try {
    writeFileAtomically(options.out.value_or(*options.doc), documentText(*doc));
  } catch (const WriteError& e) {
    err << "kelvane: " << e.what() << '\n';
    return 1;
  }
  return 0;
}

}  // namespace kelvane::cli

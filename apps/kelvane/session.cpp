#include "session.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

#include "addin/swaddin.h"
#include "atomic_file.h"
#include "cli_platform.h"
#include "document_file.h"
#include "live_session.h"
#include "script.h"
#include "sim/sim.h"
#ifdef _WIN32
#include "com_session.h"
#endif

namespace kelvane::cli {

namespace {

std::string readScript(const SessionOptions& options, std::istream& in) {
  if (!options.script) return std::string(std::istreambuf_iterator<char>(in), {});
  std::error_code ec;
  if (std::filesystem::is_directory(*options.script, ec)) throw ScriptError(*options.script + ": is a folder");
  std::ifstream file(*options.script, std::ios::binary);
  if (!file) throw ScriptError(*options.script + ": cannot open the script: " + std::strerror(errno));
  std::string text(std::istreambuf_iterator<char>(file), {});
  if (file.bad()) throw ScriptError(*options.script + ": cannot read the script");
  return text;
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
  std::string before;
  std::vector<Command> commands;
  try {
    commands = parseScript(readScript(options, in), options.script.value_or("<stdin>"));
    if (options.doc) {
      doc = host->newDocument();
      loadDocument(*options.doc, *doc);
      checkOutputFolder(options.out.value_or(*options.doc));
      before = documentText(*doc);
      host->activeDocument = doc;
    }
  } catch (const std::runtime_error& e) {
    err << "kelvane: " << e.what() << '\n';
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
  if (!addin) addin = std::make_unique<swAddIn>(platform);
  {
    LiveSession session(host, platform, out, std::move(addin));
    session.connect(options.cookie);
    for (const auto& command : commands) session.run(command);
    session.disconnect();
  }
  out.flush();

  if (!doc) return 0;
  const std::string after = documentText(*doc);
  if (after == before) return 0;
  try {
    writeFileAtomically(options.out.value_or(*options.doc), after);
  } catch (const WriteError& e) {
    err << "kelvane: " << e.what() << '\n';
    return 1;
  }
  return 0;
}

}  // namespace kelvane::cli

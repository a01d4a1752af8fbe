// kelvane: the Kelvane add-in inside a simulated CAD host, on documents kept as JSON
// files.
#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <new>

#include "check.h"
#include "script.h"
#include "session.h"
#ifdef KELVANE_PREVIEW
#include "preview_server.h"
#endif

namespace {

constexpr const char* kSessionHelp =
    "Connects the add-in to a simulated host, runs the script's commands, disconnects, "
    "and writes the document back when it changed.";

constexpr const char* kCheckHelp =
    "Reads a page definition (FILE, or DIR/Kelvane.ini) with the add-in's parser and prints "
    "what it declares, its line error, and warnings about lines that will not work as "
    "probably meant. Lines are counted from 0, as in the add-in's own error message.";

#ifdef KELVANE_PREVIEW
constexpr const char* kPreviewHelp =
    "Serves a page on 127.0.0.1 where the definition is edited and checked as it is typed, and "
    "the add-in's page is tried live on the simulated host. It works on a scratch copy of the "
    "add-in's folder and on the document in memory; Kelvane.ini and the document are written "
    "only by the page's save buttons. Stops on SIGINT or SIGTERM.";
#endif

}  // namespace

int main(int argc, char** argv) {
  using namespace kelvane::cli;

  CLI::App app{"kelvane: runs the Kelvane add-in inside a simulated CAD host", "kelvane"};
  app.set_version_flag("--version", "kelvane 1.1");
  app.require_subcommand(1);
  // CLI11 on Windows reads "/x" as an option; here it is always a path (kelvane.exe
  // check /tmp/x/Kelvane.ini under Wine). The subcommands inherit the setting.
  app.allow_windows_style_options(false);

  SessionOptions session;
  auto* sessionCommand = app.add_subcommand("session", kSessionHelp);
  sessionCommand->add_option("--addin-dir", session.addinDir,
                             "the add-in's folder: Kelvane.ini is read and Kelvane.log written there")
      ->check(CLI::ExistingDirectory)
      ->capture_default_str();
  auto* docOption = sessionCommand->add_option("--doc", session.doc, "the active document (JSON); none: no document");
  sessionCommand->add_option("--out", session.out, "where the changed document goes (default: back to --doc)")
      ->needs(docOption);
  sessionCommand->add_option("--script", session.script, "the commands (default: standard input)");
  sessionCommand->add_option("--cookie", session.cookie, "the cookie passed at connection")->capture_default_str();
  [[maybe_unused]] auto* verboseFlag = sessionCommand->add_flag(
      "--verbose", session.verbose,
      "also print the cause of each error that the add-in stops and reports by a status text only, "
      "as \"trace: PROCEDURE: what\"");
#ifdef _WIN32
  sessionCommand
      ->add_flag("--com", session.com,
                 "load the registered Kelvane.dll through COM, as the CAD host does; the add-in's "
                 "folder is then the DLL's folder, which --addin-dir must name")
      ->excludes(verboseFlag);  // the causes stay inside the DLL
#endif
  sessionCommand->footer(std::string("\n") + kScriptHelp +
                         "\nWhile it runs, each line the user would see is printed: \"status: TEXT\", "
                         "\"message: TEXT\", \"process: COMMAND LINE\" (nothing is started), and "
                         "\"error: ...\" for a failed call or a control the page does not have.\n"
                         "Exit status: 0 when the script ran to its end; 2 for a bad command line, "
                         "document or script line (nothing is written); 1 when the document or the "
                         "output could not be written.");

  CheckOptions check;
  auto* checkCommand = app.add_subcommand("check", kCheckHelp);
  auto* dirOption = checkCommand->add_option("--addin-dir", check.addinDir, "the add-in's folder")
                        ->check(CLI::ExistingDirectory)
                        ->capture_default_str();
  checkCommand->add_option("--doc", check.doc, "the document that {FILE_NAME} and {DENSITY} read");
  checkCommand->add_flag("--strict", check.strict, "warnings make the check fail (exit status 1)");
  checkCommand->add_option("FILE", check.file, "the page definition (default: DIR/Kelvane.ini)")->excludes(dirOption);
  checkCommand->footer(
      "\nExit status: 0 when the file reads (with warnings unless --strict), 1 for a line error "
      "(or a warning with --strict) or output that could not be written, 2 for a bad command line "
      "or a file that cannot be used.");

#ifdef KELVANE_PREVIEW
  PreviewOptions preview;
  auto* previewCommand = app.add_subcommand("preview", kPreviewHelp);
  previewCommand->add_option("--addin-dir", preview.addinDir, "the add-in's folder: Kelvane.ini and Kelvane.log")
      ->check(CLI::ExistingDirectory)
      ->capture_default_str();
  previewCommand->add_option("--doc", preview.doc, "the active document (JSON); none: no document");
  previewCommand->add_option("--port", preview.port, "the port on 127.0.0.1 (0: a free one)")
      ->check(CLI::Range(0, 65535))
      ->capture_default_str();
#endif

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }

#ifdef SIGPIPE
  // A reader that goes away (`kelvane session ... | head -1`) must not stop the
  // session between writing Kelvane.log and writing the document: the write fails
  // instead, the session goes on, and the exit status says so.
  std::signal(SIGPIPE, SIG_IGN);
#endif

  int status = 0;
  try {
    if (*sessionCommand) {
      status = runSession(session, std::cin, std::cout, std::cerr);
#ifdef KELVANE_PREVIEW
    } else if (*previewCommand) {
      status = runPreview(preview, std::cout, std::cerr);
#endif
    } else {
      status = runCheck(check, std::cout, std::cerr);
    }
  } catch (const std::bad_alloc&) {
    std::cerr << "kelvane: out of memory\n";
    return 2;
  }
  std::cout.flush();
  if (!std::cout || std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::cerr << "kelvane: the output could not be written\n";
    return status == 0 ? 1 : status;
  }
  return status;
}

// `kelvane preview`: one live session of the add-in on the simulated host, driven by
// the author from a browser. This is the part without HTTP: each request of the web
// API is one call here, answered with a status and a JSON body.
//
// The session works on a scratch copy of the add-in's folder and on the document held
// in memory; the author's own files change only through saveDefinition and
// saveDocument.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli_platform.h"
#include "document_file.h"
#include "live_session.h"
#include "scratch_folder.h"
#include "sim/sim.h"

namespace kelvane {
class swAddIn;
}

namespace kelvane::cli {

struct PreviewOptions {
  std::string addinDir = ".";      // holds Kelvane.ini and Kelvane.log
  std::optional<std::string> doc;  // the active document (JSON); none: no document
  int port = 0;                    // 0: a free port
};

// A preview that cannot start; the message names the file and the problem.
class PreviewError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An answer of the web API.
struct Answer {
  int status = 200;
  Json body;
};

// A JSON error answer: {"error": reason}.
Answer errorAnswer(int status, const std::string& reason);

class Preview {
 public:
  // Loads the document, copies the add-in's files to a scratch folder, connects the
  // add-in and opens its page. Throws DocumentError or PreviewError.
  explicit Preview(PreviewOptions options);
  // Disconnects (the host closes a shown page with OK, in memory only) and removes the
  // scratch folder. Nothing of the author's is written.
  ~Preview();

  Preview(const Preview&) = delete;
  Preview& operator=(const Preview&) = delete;

  // The whole state: the page in the dump format, the document, what changed in it
  // since the page opened and what OK would write now ("pending"), the status bar,
  // message boxes, processes and Kelvane.log; "revision" numbers it.
  Json state();
  // {"type": "text"|"select"|"check"|"press"|"help"|"ok"|"cancel"|"reopen", "since"?,
  // ...}: the event a person causes; answers the new state, or 409 with the reason a
  // person could not do it, or 400 for a request that is no such event. When "since"
  // is the revision of the last state answered, the answer holds only what changed
  // (see stateDelta).
  Answer event(const Json& request);
  // {"text", "valid", "unsaved", "folder", "instance", "diagnostics": [{"severity",
  // "line", "column"?, "text", "message"?}]}; without "text" when `withText` is false.
  Json definition(bool withText = true) const;
  // {"text", "since"?}: the author's new definition, checked; when valid the page is
  // reopened. Answers the definition (without its text) and the state.
  Answer setDefinition(const Json& request);
  // Writes the definition to the author's Kelvane.ini in Windows-1252 with CR LF.
  Answer saveDefinition();
  // Writes the document to its file when it changed since it was read or saved.
  Answer saveDocument();

 private:
  struct Diagnostic {
    std::string severity;  // "error" or "warning"
    std::optional<int> line;
    std::optional<int> column;
    std::string text;     // what is wrong
    std::string message;  // the add-in's message box for a line error
  };

  void diagnose();
  void reopen();
  std::optional<std::string> perform(const Command& command);
  Json changes() const;  // since the page opened
  Json pending();        // what OK would write that the document does not hold
  Json processes() const;
  std::string logText() const;
  std::optional<Diagnostic> unmappable() const;
  Json currentState();  // all but the page and the document
  void refreshDocument();
  void pageChanges(const sim::SimPage* page, bool delta, Json& out) const;
  void rememberPage(const sim::SimPage* page);
  // The state to answer: whole, or only what changed when `since` is the revision of
  // the last state answered.
  Json answerState(const Json& request);

  PreviewOptions options_;
  ScratchFolder scratchFolder_;  // removed when the preview ends, or fails to start
  const std::filesystem::path& scratch_ = scratchFolder_.path;
  std::filesystem::path authorIni_;
  std::shared_ptr<sim::SimHost> host_;
  std::shared_ptr<sim::SimDocument> doc_;
  DocumentContents savedContents_;          // the document as its file was last read or written
  std::unique_ptr<sim::SimDocument> opened_;  // the document when the page last opened
  std::optional<DocumentContents> shownContents_;  // the document as shownDocument_ holds it
  Json shownDocument_;                      // its "document", "changes" and "documentChanged"
  std::int64_t documentVersion_ = 0;        // counts the changes of shownDocument_
  std::int64_t answeredDocument_ = -1;      // the version the last state answered held
  std::string text_;           // the definition as the author edits it (UTF-8, LF)
  std::string savedText_;      // the definition as Kelvane.ini last held it
  std::string instance_;       // tells a page whether it still talks to the same preview
  std::string authorFolder_;   // the add-in's folder, absolute, as the author named it
  std::vector<Diagnostic> diagnostics_;
  bool valid_ = false;
  Json events_ = Json::array();  // what the last request made the host report
  std::unique_ptr<CliPlatform> platform_;
  std::ostringstream shown_;     // where show and dump would print; the preview asks for neither
  swAddIn* addin_ = nullptr;     // owned by session_
  std::unique_ptr<LiveSession> session_;
  Json snapshot_;                // the last state answered, but its page and document
  std::int64_t revision_ = 0;    // its number
  struct SeenGroup {
    sim::SimGroup group;  // without its controls
    std::vector<sim::SimControl> controls;
  };
  struct SeenPage {
    bool shown = false;
    std::vector<SeenGroup> groups;
  };
  std::optional<SeenPage> seen_;  // the page the last state answered showed
};

// What changed from state `before` to state `after`, both whole but for the page and
// the document: {"full": false} and each member whose value changed. What OK would
// write goes as "pendingChanges": {"set": [...], "unset": [{"configuration", "name"}]}.
// Of a page of the same groups and controls, an answer holds only "shown", "groups":
// [{"at": g, member: value}] and "controls": [{"at": [g, c], member: value}] with the
// members that changed; a page of another shape goes whole as "page".
Json stateDelta(const Json& before, const Json& after);

}  // namespace kelvane::cli

#include "check.h"

#include <filesystem>
#include <optional>
#include <ostream>
#include <utility>
#include <vector>

#include "cli_platform.h"
#include "document_file.h"
#include "ini_warnings.h"
#include "pagedef/parser.h"
#include "sim/sim.h"

namespace kelvane::cli {

namespace {

// The add-in reads FOLDER/Kelvane.ini; here that name stands for the file under check.
class CheckPlatform : public CliPlatform {
 public:
  CheckPlatform(const std::string& folder, std::string file)
      : CliPlatform(folder, nullptr), file_(std::move(file)) {
    iniPath_ = platform::joinPath(*this, folder, pagedef::kIniFileName);
  }

  bool FileExists(const std::string& path) override { return CliPlatform::FileExists(redirected(path)); }
  std::unique_ptr<platform::LineReader> OpenTextFile(const std::string& path) override {
    return CliPlatform::OpenTextFile(redirected(path));
  }

 private:
  const std::string& redirected(const std::string& path) const { return path == iniPath_ ? file_ : path; }

  std::string iniPath_;
  std::string file_;
};

std::vector<std::string> readLines(platform::Platform& platform, const std::string& path) {
  std::vector<std::string> lines;
  try {
    auto reader = platform.OpenTextFile(path);
    while (!reader->AtEndOfStream()) lines.push_back(reader->ReadLine());
    reader->Close();
  } catch (const platform::PlatformError&) {
    // The parser has reported it already.
  }
  return lines;
}

const char* trueFalse(bool b) { return b ? "True" : "False"; }

std::string plural(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

void printSummary(std::ostream& out, const std::string& file, const pagedef::PageDefinition& model) {
  std::size_t fields = 0;
  std::size_t lists = 0;
  std::size_t entries = 0;
  std::size_t remembered = 0;
  for (const auto& group : model.groups) {
    fields += group.fields.size();
    for (const auto& field : group.fields) {
      lists += field.isTextBox() ? 0 : 1;
      entries += field.items.size();
      remembered += field.remember ? 1 : 0;
    }
  }
  out << file << '\n';
  out << "groups: " << model.groups.size() << '\n';
  for (std::size_t g = 0; g < model.groups.size(); ++g) {
    const auto& group = model.groups[g];
    out << "  " << g << " \"" << group.name << "\"" << (group.expanded ? "" : " (collapsed)") << ": "
        << plural(group.fields.size(), "field", "fields") << '\n';
  }
  out << "fields: " << fields << " (" << plural(lists, "list", "lists") << ", " << remembered << " remembered)\n";
  out << "list entries: " << entries << '\n';
  out << "composites: " << model.composites.size() << '\n';
  out << "USE_CONFIGS: " << trueFalse(model.useConfigs) << '\n';
  out << "ENABLE_INI_EDIT: " << trueFalse(model.enableIniEdit) << '\n';
}

}  // namespace

CheckReport checkDefinition(const std::string& folder, const std::string& file, sim::SimHost& host) {
  CheckPlatform platform(folder, file);
  CheckReport report;
  IniWarnings observer(report.model);
  const pagedef::ParseResult result = pagedef::parsePageDefinition(report.model, platform, &host, &observer);
  report.read = result.read();
  if (!report.read) {
    report.messages = {pagedef::lineErrorText(result.error->line)};
    report.reason = result.error->reason;
    report.lines = readLines(platform, file);
    if (static_cast<std::size_t>(result.error->line) < report.lines.size()) report.errorLine = result.error->line;
    return report;
  }
  report.warnings = observer.finish();
  return report;
}

int runCheck(const CheckOptions& options, std::ostream& out, std::ostream& err) {
  namespace fs = std::filesystem;
  std::string folder = moduleFolderOf(options.addinDir);
  std::string file = folder + "/" + pagedef::kIniFileName;
  if (options.file) {
    file = *options.file;
    folder = moduleFolderOf(fs::path(file).parent_path().string());
  }
  if (const auto problem = notARegularFile(file)) {
    err << "kelvane: " << file << ": " << *problem << '\n';
    return 2;
  }

  // Without a document the placeholders read a stand-in: no title, density 0.
  auto host = std::make_shared<sim::SimHost>();
  host->activeDocument = host->newDocument();
  if (options.doc) {
    try {
      loadDocument(*options.doc, *host->activeDocument);
    } catch (const DocumentError& e) {
      err << "kelvane: " << e.what() << '\n';
      return 2;
    }
  }

  const CheckReport report = checkDefinition(folder, file, *host);
  if (!report.read) {
    for (const auto& message : report.messages) out << message << '\n';
    if (report.errorLine) out << "  line " << *report.errorLine << ": " << report.lines[*report.errorLine] << '\n';
    return 1;
  }

  printSummary(out, file, report.model);
  const auto& warnings = report.warnings;
  for (const auto& w : warnings) out << "warning: line " << w.line << ": " << w.text << '\n';
  out << plural(warnings.size(), "warning", "warnings") << '\n';
  return options.strict && !warnings.empty() ? 1 : 0;
}

}  // namespace kelvane::cli

// An in-memory platform for tests and fuzzing: files are byte strings in a map
// (kept in Windows-1252, as on disk), message boxes and started processes are
// recorded, the clock and the decimal separator are fixed, and any operation can be
// made to fail.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "common/fault_plan.h"
#include "platform/platform.h"

namespace kelvane::platform {

class FakePlatform : public Platform {
 public:
  // Knobs; tests set them directly.
  std::string moduleFolder = "C:\\Kelvane";
  std::string separator = "\\";
  std::uintptr_t moduleHandle = 0x10000000;
  std::map<std::string, std::string> files;      // path -> bytes as stored
  std::map<std::string, std::string> environment;
  std::string now = "07/12/2026 23:53";
  std::string decimalSeparator = ".";
  std::vector<std::string> directories;          // paths that exist but are folders
  std::vector<std::string> devices;              // paths that exist but are devices or pipes
  std::vector<std::string> readOnly;             // files that may be read but not replaced
  std::vector<std::string> readOnlyFolders;      // folders that take no new files
  std::vector<std::string> missingPrograms;      // program names that cannot be started

  // Records.
  std::vector<std::string> messages;             // message-box texts, in order
  std::vector<std::string> processes;            // command lines started, in order
  std::vector<std::string> calls;                // every operation name, in order
  bool recordCalls = true;                       // off: `calls` stays empty (benchmarks)

  // The operations that can fail, in the order of operations().
  enum class Op {
    FileExists, OpenTextFile, ReadLine, CreateTextFile, WriteLine, CloseWriter, Install, RemoveFile,
    ShowMessage, StartProcess, Environment, Now, CreateFolder,
  };
  // "file-exists", "open-text-file", "read-line", "create-text-file", "write-line",
  // "close-writer", "replace-file", "remove-file", "message-box", "start-process",
  // "environment", "now", "create-folder".
  static const std::vector<std::string>& operations();

  // Fault injection: the `nth` next call (1 = the very next) of `operation` throws
  // PlatformError. Throws std::invalid_argument for an unknown operation or nth < 1.
  void failNext(const std::string& operation, int nth = 1) { faults_.failNext(operation, nth); }

  // Convenience: the file at folder+separator+name, as UTF-8 text, or "" when absent.
  std::string fileText(const std::string& name) const;
  void setFileText(const std::string& name, const std::string& utf8);  // stores cp1252
  std::string pathOf(const std::string& name) const { return moduleFolder + separator + name; }

  std::string ModuleFolder() override;
  std::uintptr_t ModuleHandle() override;
  std::string PathSeparator() override;
  bool FileExists(const std::string& path) override;
  std::unique_ptr<LineReader> OpenTextFile(const std::string& path) override;
  std::unique_ptr<LineWriter> CreateTextFile(const std::string& path) override;
  void RemoveFile(const std::string& path) override;
  void CreateFolder(const std::string& path) override;
  // environment["LOCALAPPDATA"] + separator + "Kelvane"; not an operation that fails.
  std::string UserFolder() override;
  void ShowMessage(const std::string& text) override;
  void StartProcess(const std::string& commandLine) override;
  std::string EnvironmentVariable(const std::string& name) override;
  std::string NowText() override;
  std::string DecimalSeparator() override;
  bool FitsCodePage(const std::string& text) override { return !firstUnmappableCp1252(text); }

  // Records `operation` and throws when a fault for it is due.
  void hit(Op operation);

  // Throws unless `path` may be written whole: missing or a writable file.
  void checkWritable(const std::string& path) const;
  // Puts `bytes` in place as the file at `path` and removes leftover temporary files
  // of the same target.
  void install(const std::string& path, std::string bytes);

 private:
  bool isDirectory(const std::string& path) const;
  bool isDevice(const std::string& path) const;

  FaultPlan faults_{operations(), "platform operation"};
};

}  // namespace kelvane::platform

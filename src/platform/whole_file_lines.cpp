#include "platform/whole_file.h"

namespace kelvane::platform {
namespace {

// The lines are kept until Close(), which writes them whole or not at all.
class WholeFileLines : public LineWriter {
 public:
  WholeFileLines(std::string path, LineEncoder encode)
      : path_(std::move(path)), file_(std::make_unique<WholeFileWriter>(path_)), encode_(encode) {}

  void WriteLine(const std::string& line) override {
    if (!file_) throw PlatformError("write to a closed file: " + path_);
    buffer_ += encode_(line);
    buffer_ += "\r\n";
  }

  void Close() override {
    if (!file_) return;
    auto file = std::move(file_);  // gone after a failure too, with its temporary file
    file->write(buffer_);
    file->commit();
  }

 private:
  std::string path_;
  std::unique_ptr<WholeFileWriter> file_;
  LineEncoder encode_;
  std::string buffer_;
};

}  // namespace

std::unique_ptr<LineWriter> wholeFileLineWriter(const std::string& path, LineEncoder encode) {
  return std::make_unique<WholeFileLines>(path, encode);
}

}  // namespace kelvane::platform

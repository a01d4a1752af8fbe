// The web server of `kelvane preview`: the API over HTTP on 127.0.0.1, and the page
// the browser shows, embedded in the program.
#pragma once

#include <iosfwd>
#include <memory>
#include <mutex>

#include "preview.h"

namespace httplib {
class Server;
}

namespace kelvane::cli {

// Requests bigger than this are refused.
inline constexpr std::size_t kMaxRequestBody = 4 * 1024 * 1024;

class PreviewServer {
 public:
  explicit PreviewServer(Preview& preview);
  ~PreviewServer();

  // Binds 127.0.0.1:`port` (0: a free one) and answers the bound port. Throws PreviewError.
  int bind(int port);
  // Serves until stop(); bind() first.
  void listen();
  // Safe from any thread; listen() returns.
  void stop();

 private:
  void routes();

  Preview& preview_;
  std::mutex mutex_;  // one request at a time reaches the session
  std::unique_ptr<httplib::Server> server_;
  int port_ = 0;
};

// `kelvane preview`: serves until SIGINT or SIGTERM. Prints the address on `out`.
// Exit status: 0 after a clean stop, 2 when it cannot start.
int runPreview(const PreviewOptions& options, std::ostream& out, std::ostream& err);

}  // namespace kelvane::cli

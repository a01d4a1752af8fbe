// The web server of `kelvane preview`: the API over HTTP on 127.0.0.1, and the page
// the browser shows, embedded in the program.
//
// One thread serves every connection from one poll loop and never waits on a client:
// a request is read as it arrives, within a time for its head and one for its body,
// checked by RequestReader, answered by httplib's router from memory, and its answer
// written as the client takes it. A slow or silent client holds a connection, never
// the server.
#pragma once

#include <chrono>
#include <iosfwd>
#include <memory>
#include <vector>

#include "preview.h"
#include "request_reader.h"
#include "server_os.h"

namespace kelvane::cli {

// JSON bodies nested deeper than this (arrays and objects) are refused.
inline constexpr int kMaxJsonDepth = 64;

struct ServerLimits {
  // From the connection's first byte, or the end of its last answer, to the end of the head.
  std::chrono::milliseconds headTime{5000};
  // From the end of the head to the end of the body.
  std::chrono::milliseconds bodyTime{10000};
  // For the client to take an answer.
  std::chrono::milliseconds writeTime{10000};
  // Connections at once; a new one beyond them closes the one that waited longest.
  std::size_t connections = 32;
};

class PreviewServer {
 public:
  explicit PreviewServer(Preview& preview, ServerLimits limits = {});
  ~PreviewServer();

  // Binds 127.0.0.1:`port` (0: a free one) and answers the bound port. Throws PreviewError.
  int bind(int port);
  // Serves until stop(); bind() first.
  void listen();
  // Safe from any thread; listen() returns.
  void stop();

 private:
  class Router;
  struct Connection;

  void routes();
  void accept();
  void receive(Connection& c);
  void send(Connection& c);
  void reply(Connection& c, std::string bytes, bool close);
  void expire(Connection& c);

  Preview& preview_;
  ServerLimits limits_;
  net::Library library_;
  std::unique_ptr<Router> router_;
  std::vector<std::unique_ptr<Connection>> connections_;
  net::Socket listener_ = net::kNoSocket;
  net::Wake wake_;  // stop() notifies it
  int port_ = 0;
};

// `kelvane preview`: serves until SIGINT, SIGTERM or another signal that asks a program
// to end (Windows: Ctrl+C, Ctrl+Break, closing the console). Prints the address on `out`. Exit status: 0 after a clean stop, 2 when it
// cannot start.
int runPreview(const PreviewOptions& options, std::ostream& out, std::ostream& err);

}  // namespace kelvane::cli

#include "preview_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ostream>
#include <string>
#include <string_view>
#include <thread>

#include "scratch_folder.h"
#include "web_assets.h"

namespace kelvane::cli {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kJson = "application/json";
// What one connection holds of the bytes it received and the reader has not taken yet.
constexpr std::size_t kReadWindow = 64 * 1024;
// After an answer that closes the connection, what the client still sends is read and
// dropped for this long, so that it sees the answer rather than a reset.
constexpr std::chrono::milliseconds kLinger{2000};

std::string jsonText(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

void answer(httplib::Response& res, const Answer& a) {
  res.status = a.status;
  res.set_content(jsonText(a.body), kJson);
}

// Whether `text`, read as JSON, nests arrays and objects deeper than `limit`. The parser
// never sees such a text, so no depth a client sends reaches the stack.
bool nestsDeeper(std::string_view text, int limit) {
  int depth = 0;
  bool inString = false, escaped = false;
  for (const char c : text) {
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return true;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return false;
}

// The request's JSON body, or an answer that says why there is none.
std::optional<Json> jsonBody(const httplib::Request& req, httplib::Response& res) {
  if (nestsDeeper(req.body, kMaxJsonDepth)) {
    answer(res, errorAnswer(400, "the request body nests deeper than " + std::to_string(kMaxJsonDepth) + " levels"));
    return std::nullopt;
  }
  try {
    Json j = Json::parse(req.body);
    if (j.is_object()) return j;
    answer(res, errorAnswer(400, "the request body is no JSON object"));
  } catch (const Json::exception& e) {
    answer(res, errorAnswer(400, std::string("the request body is no JSON: ") + e.what()));
  }
  return std::nullopt;
}

bool changesState(const std::string& method) { return method != "GET" && method != "HEAD" && method != "OPTIONS"; }

// One checked request, read from memory; the answer is collected to be sent later.
class RequestStream final : public httplib::Stream {
 public:
  explicit RequestStream(const std::string& request) : in_(request) {}

  bool is_readable() const override { return true; }
  bool is_writable() const override { return true; }
  ssize_t read(char* ptr, size_t size) override {
    size = std::min(size, in_.size() - read_);
    std::memcpy(ptr, in_.data() + read_, size);
    read_ += size;
    return static_cast<ssize_t>(size);
  }
  ssize_t write(const char* ptr, size_t size) override {
    out.append(ptr, size);
    return static_cast<ssize_t>(size);
  }
  void get_remote_ip_and_port(std::string& ip, int& port) const override { ip = "127.0.0.1", port = 0; }
  void get_local_ip_and_port(std::string& ip, int& port) const override { ip = "127.0.0.1", port = 0; }
  socket_t socket() const override { return INVALID_SOCKET; }

  std::string out;

 private:
  const std::string& in_;
  std::size_t read_ = 0;
};

bool wouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

}  // namespace

// httplib's routing and answer writing, without its sockets.
class PreviewServer::Router : public httplib::Server {
 public:
  // The bytes that answer `request`, and whether the connection closes after them.
  std::string answer(const std::string& request, bool& close) {
    RequestStream stream(request);
    bool closed = false;
    process_request(stream, false, closed, nullptr);
    close = closed || stream.out.empty();
    return std::move(stream.out);
  }
};

struct PreviewServer::Connection {
  enum class Phase { Reading, Writing, Lingering };

  explicit Connection(int socket) : fd(socket) {}
  ~Connection() { shut(); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void shut() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  short events() const { return phase == Phase::Writing ? POLLOUT : POLLIN; }

  int fd;
  Phase phase = Phase::Reading;
  RequestReader reader;
  std::string in;      // received, not yet taken by the reader
  std::string out;     // the answer being written
  std::size_t sent = 0;
  bool closeAfter = false;
  bool interim = false;    // `out` is "100 Continue": reading goes on after it
  bool continued = false;  // and it was sent for this request
  bool pending = false;    // `in` may hold the next request already
  Clock::time_point since;     // when the connection came or its last answer ended
  Clock::time_point deadline;  // of the current phase
  Clock::time_point readDeadline;
};

PreviewServer::PreviewServer(Preview& preview, ServerLimits limits)
    : preview_(preview), limits_(limits), router_(std::make_unique<Router>()) {
  if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw PreviewError(std::string("cannot make a pipe: ") + std::strerror(errno));
  }
  routes();
}

PreviewServer::~PreviewServer() {
  connections_.clear();
  for (int fd : {listener_, wake_[0], wake_[1]}) {
    if (fd >= 0) ::close(fd);
  }
}

int PreviewServer::bind(int port) {
  const auto fail = [port] {
    return PreviewError("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno));
  };
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listener_ < 0) throw fail();
  const int yes = 1;
  ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener_, 64) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw fail();
  }
  port_ = ntohs(address.sin_port);
  return port_;
}

void PreviewServer::stop() {
  const char byte = 0;
  [[maybe_unused]] const auto written = ::write(wake_[1], &byte, 1);
}

void PreviewServer::listen() {
  std::vector<pollfd> fds;
  for (;;) {
    fds.assign({{wake_[0], POLLIN, 0}, {listener_, POLLIN, 0}});
    auto next = Clock::time_point::max();
    bool pending = false;
    for (const auto& c : connections_) {
      fds.push_back({c->fd, c->events(), 0});
      next = std::min(next, c->deadline);
      pending |= c->pending;
    }
    int timeout = -1;
    if (pending) {
      timeout = 0;
    } else if (next != Clock::time_point::max()) {
      const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
      timeout = static_cast<int>(std::clamp<decltype(wait)>(wait, 0, 60'000));
    }
    if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) break;
    if (fds[0].revents != 0) break;

    for (std::size_t i = 0; i < connections_.size(); ++i) {
      Connection& c = *connections_[i];
      const short revents = fds[i + 2].revents;
      if (c.phase == Connection::Phase::Writing) {
        if (revents != 0) send(c);
      } else if (revents != 0 || c.pending) {
        receive(c);
      }
      if (c.fd >= 0 && Clock::now() >= c.deadline) expire(c);
    }
    connections_.erase(std::remove_if(connections_.begin(), connections_.end(), [](const auto& c) { return c->fd < 0; }),
                       connections_.end());
    if (fds[1].revents != 0) accept();
  }
  connections_.clear();
}

void PreviewServer::accept() {
  for (;;) {
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (connections_.size() >= limits_.connections) {
      const auto oldest = std::min_element(connections_.begin(), connections_.end(),
                                           [](const auto& a, const auto& b) { return a->since < b->since; });
      connections_.erase(oldest);
    }
    const int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    auto c = std::make_unique<Connection>(fd);
    c->since = Clock::now();
    c->deadline = c->since + limits_.headTime;
    connections_.push_back(std::move(c));
  }
}

void PreviewServer::receive(Connection& c) {
  c.pending = false;
  if (c.phase == Connection::Phase::Lingering) {
    char dropped[16 * 1024];
    const ssize_t n = ::recv(c.fd, dropped, sizeof dropped, 0);
    if (n == 0 || (n < 0 && !wouldBlock(errno))) c.shut();
    return;
  }
  const std::size_t held = c.in.size();
  if (held < kReadWindow) {
    c.in.resize(kReadWindow);
    const ssize_t n = ::recv(c.fd, c.in.data() + held, kReadWindow - held, 0);
    c.in.resize(held + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    if (n == 0 || (n < 0 && !wouldBlock(errno))) {
      c.shut();  // a request cut short has no one to answer
      return;
    }
  }

  const bool hadHead = c.reader.headRead();
  switch (c.reader.take(c.in)) {
    case RequestReader::Step::More:
      if (!hadHead && c.reader.headRead()) c.deadline = Clock::now() + limits_.bodyTime;
      if (c.reader.wantsContinue() && !c.continued) {
        c.continued = c.interim = true;
        c.readDeadline = c.deadline;
        reply(c, "HTTP/1.1 100 Continue\r\n\r\n", false);
      }
      return;
    case RequestReader::Step::Refused:
      return reply(c, refusalAnswer(c.reader.status(), c.reader.reason()), true);
    case RequestReader::Step::Complete: {
      bool close = false;
      std::string bytes = router_->answer(c.reader.request(), close);
      return reply(c, std::move(bytes), close);
    }
  }
}

void PreviewServer::reply(Connection& c, std::string bytes, bool close) {
  c.out = std::move(bytes);
  c.sent = 0;
  c.closeAfter = close;
  c.phase = Connection::Phase::Writing;
  c.deadline = Clock::now() + limits_.writeTime;
  send(c);
}

void PreviewServer::send(Connection& c) {
  while (c.sent < c.out.size()) {
    const ssize_t n = ::send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL);
    if (n < 0) {
      if (wouldBlock(errno)) return;
      c.shut();
      return;
    }
    c.sent += static_cast<std::size_t>(n);
  }
  c.out = std::string();
  const auto now = Clock::now();
  if (c.interim) {
    c.interim = false;
    c.phase = Connection::Phase::Reading;
    c.deadline = c.readDeadline;
  } else if (c.closeAfter) {
    ::shutdown(c.fd, SHUT_WR);
    c.phase = Connection::Phase::Lingering;
    c.deadline = now + kLinger;
  } else {
    c.reader = RequestReader();
    c.continued = false;
    c.phase = Connection::Phase::Reading;
    c.since = now;
    c.deadline = now + limits_.headTime;
    c.pending = !c.in.empty();
  }
}

void PreviewServer::expire(Connection& c) {
  if (c.phase != Connection::Phase::Reading || (c.in.empty() && !c.reader.headRead())) {
    c.shut();  // an idle connection, or a client that does not take its answer
    return;
  }
  reply(c, refusalAnswer(408, "the request did not come in time"), true);
}

void PreviewServer::routes() {
  auto& s = *router_;
  s.set_payload_max_length(kMaxRequestBody);

  // Only pages served from this address may talk to it: a name that resolves here by
  // DNS rebinding carries its own Host, and a foreign page its own Origin, or, without
  // one, its Sec-Fetch-Site.
  s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    const std::string port = std::to_string(port_);
    const std::string host = req.get_header_value("Host");
    if (host != "127.0.0.1:" + port && host != "localhost:" + port) {
      answer(res, errorAnswer(403, "the Host \"" + host + "\" is not this server"));
      return httplib::Server::HandlerResponse::Handled;
    }
    if (!changesState(req.method)) return httplib::Server::HandlerResponse::Unhandled;
    if (req.has_header("Origin")) {
      const std::string origin = req.get_header_value("Origin");
      if (origin != "http://127.0.0.1:" + port && origin != "http://localhost:" + port) {
        answer(res, errorAnswer(403, "requests from \"" + origin + "\" are refused"));
        return httplib::Server::HandlerResponse::Handled;
      }
    }
    const std::string site = req.get_header_value("Sec-Fetch-Site");
    if (site == "cross-site" || site == "same-site") {
      answer(res, errorAnswer(403, "requests from another site (" + site + ") are refused"));
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  // A refusal by the library itself (no such path, ...) answers JSON as well.
  s.set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
    if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
    const std::string reason = res.status == 404 ? "no such resource" : "the request cannot be answered";
    res.set_content(jsonText({{"error", reason}}), kJson);
    return httplib::Server::HandlerResponse::Handled;
  }));
  s.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
    std::string reason = "internal error";
    try {
      if (ep) std::rethrow_exception(ep);
    } catch (const std::exception& e) {
      reason = e.what();
    } catch (...) {
    }
    answer(res, errorAnswer(500, reason));
  });

  for (const auto& asset : webAssets()) {
    const std::string path = asset.path == std::string_view("index.html") ? "/" : "/" + std::string(asset.path);
    s.Get(path, [&asset](const httplib::Request&, httplib::Response& res) {
      res.set_content(reinterpret_cast<const char*>(asset.data), asset.size, asset.contentType);
      res.set_header("Cache-Control", "no-store");
      res.set_header("X-Content-Type-Options", "nosniff");
      res.set_header("Content-Security-Policy",
                     "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'; form-action 'none'");
    });
  }

  // One thread answers every request, so one at a time reaches the session.
  s.Get("/api/state", [this](const httplib::Request&, httplib::Response& res) { answer(res, {200, preview_.state()}); });
  s.Get("/api/definition",
        [this](const httplib::Request&, httplib::Response& res) { answer(res, {200, preview_.definition()}); });
  s.Put("/api/definition", [this](const httplib::Request& req, httplib::Response& res) {
    if (auto j = jsonBody(req, res)) answer(res, preview_.setDefinition(*j));
  });
  s.Post("/api/event", [this](const httplib::Request& req, httplib::Response& res) {
    if (auto j = jsonBody(req, res)) answer(res, preview_.event(*j));
  });
  s.Post("/api/save/definition",
         [this](const httplib::Request&, httplib::Response& res) { answer(res, preview_.saveDefinition()); });
  s.Post("/api/save/document",
         [this](const httplib::Request&, httplib::Response& res) { answer(res, preview_.saveDocument()); });
}

namespace {

// The signals that ask a program to end. Each stops the preview as SIGINT does, so that
// nothing it made stays behind.
sigset_t endingSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGIO}) {
    sigaddset(&set, s);
  }
#ifdef SIGPWR
  sigaddset(&set, SIGPWR);
#endif
#ifdef SIGSTKFLT
  sigaddset(&set, SIGSTKFLT);
#endif
  for (int s = SIGRTMIN; s <= SIGRTMAX; ++s) sigaddset(&set, s);
  return set;
}

}  // namespace

int runPreview(const PreviewOptions& options, std::ostream& out, std::ostream& err) {
  // The signals wait for one thread of their own, so the server stops outside any handler.
  const sigset_t signals = endingSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  // A fault still runs code: it takes the scratch folder with it.
  ScratchFolder::removeOnFault();

  try {
    Preview preview(options);
    PreviewServer server(preview);
    const int port = server.bind(options.port);
    std::thread waiter([&] {
      int signal = 0;
      sigwait(&signals, &signal);
      server.stop();
    });
    out << "Kelvane preview: http://127.0.0.1:" << port << "/" << std::endl;
    server.listen();
    pthread_kill(waiter.native_handle(), SIGTERM);  // when listen ended by itself
    waiter.join();
  } catch (const std::runtime_error& e) {
    err << "kelvane: " << e.what() << '\n';
    return 2;
  }
  return 0;
}

}  // namespace kelvane::cli

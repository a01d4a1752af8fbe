#include "preview_server.h"

#include <httplib.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

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

  explicit Connection(net::Socket socket) : fd(socket) {}
  ~Connection() { shut(); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void shut() { net::close(std::exchange(fd, net::kNoSocket)); }
  bool open() const { return fd != net::kNoSocket; }

  net::Socket fd;
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
  routes();
}

PreviewServer::~PreviewServer() {
  connections_.clear();
  net::close(listener_);
}

int PreviewServer::bind(int port) {
  listener_ = net::listenLocal(port);
  port_ = port;
  return port_;
}

void PreviewServer::stop() { wake_.notify(); }

void PreviewServer::listen() {
  std::vector<net::Watch> fds;
  for (;;) {
    fds.assign({{wake_.watched(), false}, {listener_, false}});
    auto next = Clock::time_point::max();
    bool pending = false;
    for (const auto& c : connections_) {
      fds.push_back({c->fd, c->phase == Connection::Phase::Writing});
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
    if (net::poll(fds, timeout) < 0) break;
    if (fds[0].ready) break;

    for (std::size_t i = 0; i < connections_.size(); ++i) {
      Connection& c = *connections_[i];
      const bool ready = fds[i + 2].ready;
      if (c.phase == Connection::Phase::Writing) {
        if (ready) send(c);
      } else if (ready || c.pending) {
        receive(c);
      }
      if (c.open() && Clock::now() >= c.deadline) expire(c);
    }
    connections_.erase(std::remove_if(connections_.begin(), connections_.end(), [](const auto& c) { return !c->open(); }),
                       connections_.end());
    if (fds[1].ready) accept();
  }
  connections_.clear();
}

void PreviewServer::accept() {
  for (net::Socket fd; (fd = net::accept(listener_)) != net::kNoSocket;) {
    if (connections_.size() >= limits_.connections) {
      const auto oldest = std::min_element(connections_.begin(), connections_.end(),
                                           [](const auto& a, const auto& b) { return a->since < b->since; });
      connections_.erase(oldest);
    }
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
    const long n = net::receive(c.fd, dropped, sizeof dropped);
    if (n == 0 || (n < 0 && !net::wouldBlock())) c.shut();
    return;
  }
  const std::size_t held = c.in.size();
  if (held < kReadWindow) {
    c.in.resize(kReadWindow);
    const long n = net::receive(c.fd, c.in.data() + held, kReadWindow - held);
    c.in.resize(held + static_cast<std::size_t>(std::max<long>(n, 0)));
    if (n == 0 || (n < 0 && !net::wouldBlock())) {
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
    const long n = net::send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent);
    if (n < 0) {
      if (net::wouldBlock()) return;
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
    net::shutdownSend(c.fd);
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

int runPreview(const PreviewOptions& options, std::ostream& out, std::ostream& err) {
  net::EndRequests::hold();
  // A fault still runs code: it takes the scratch folder with it.
  ScratchFolder::removeOnFault();

  try {
    Preview preview(options);
    PreviewServer server(preview);
    const int port = server.bind(options.port);
    const net::EndRequests ending([&server] { server.stop(); });
    out << "Kelvane preview: http://127.0.0.1:" << port << "/" << std::endl;
    server.listen();
  } catch (const std::runtime_error& e) {
    err << "kelvane: " << e.what() << '\n';
    return 2;
  }
  return 0;
}

}  // namespace kelvane::cli

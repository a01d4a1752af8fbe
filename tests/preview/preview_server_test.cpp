// The preview's server against a hostile local client: raw sockets that send what no
// browser would.
//
// With KELVANE_PREVIEW_PORT set, the cases that need no limits of their own run against
// the preview already serving on that port of 127.0.0.1, started on examples/bracket.json
// (scripts/test-windows: kelvane.exe preview under Wine).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "preview.h"
#include "preview_server.h"

namespace kelvane::cli {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// One connection to the server, spoken to byte by byte.
class RawClient {
 public:
  explicit RawClient(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawClient() { ::close(fd_); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool connected() const { return connected_; }

  // False once the server no longer takes bytes.
  bool send(const std::string& bytes) {
    for (std::size_t sent = 0; sent < bytes.size();) {
      const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return false;
      sent += static_cast<std::size_t>(n);
    }
    return true;
  }

  bool readable(std::chrono::milliseconds wait) const {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(wait.count())) > 0;
  }

  // One answer: its head and its Content-Length of body; "" when none comes in `wait`.
  std::string answer(std::chrono::milliseconds wait = 5000ms) {
    const auto end = Clock::now() + wait;
    for (;;) {
      const std::size_t head = buffer_.find("\r\n\r\n");
      if (head != std::string::npos) {
        std::size_t length = 0;
        const std::size_t at = buffer_.find("Content-Length: ");
        if (at != std::string::npos && at < head) length = std::stoul(buffer_.substr(at + 16));
        if (buffer_.size() >= head + 4 + length) {
          std::string a = buffer_.substr(0, head + 4 + length);
          buffer_.erase(0, a.size());
          return a;
        }
      }
      if (!fill(end)) return "";
    }
  }

  // Whether the server ends the connection within `wait` (what it still sends is read).
  bool closedWithin(std::chrono::milliseconds wait) {
    const auto end = Clock::now() + wait;
    while (fill(end)) {
    }
    return closed_;
  }

 private:
  bool fill(Clock::time_point end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    if (closed_ || left.count() <= 0 || !readable(left)) return false;
    char bytes[65536];
    const ssize_t n = ::recv(fd_, bytes, sizeof bytes, 0);
    if (n <= 0) {
      closed_ = true;
      return false;
    }
    buffer_.append(bytes, static_cast<std::size_t>(n));
    return true;
  }

  int fd_ = -1;
  bool connected_ = false;
  bool closed_ = false;
  std::string buffer_;
};

int statusOf(const std::string& answer) { return answer.size() > 12 ? std::stoi(answer.substr(9, 3)) : 0; }

std::string bodyOf(const std::string& answer) {
  const std::size_t head = answer.find("\r\n\r\n");
  return head == std::string::npos ? "" : answer.substr(head + 4);
}

class HostileClient : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("kelvane-hostile-" + std::to_string(::getpid()) + "-" +
                                           testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    for (const char* name : {"Kelvane.ini", "bracket.json"}) {
      fs::copy_file(fs::path(KELVANE_SOURCE_DIR) / "examples" / name, folder_ / name);
    }
  }

  void start(ServerLimits limits = {}) {
    if (const char* running = std::getenv("KELVANE_PREVIEW_PORT")) {
      if (limits.headTime != ServerLimits{}.headTime || limits.bodyTime != ServerLimits{}.bodyTime) {
        GTEST_SKIP() << "the running preview has the usual limits";
      }
      port_ = std::stoi(running);
      host_ = "Host: 127.0.0.1:" + std::to_string(port_) + "\r\n";
      return;
    }
    PreviewOptions options;
    options.addinDir = folder_.string();
    options.doc = (folder_ / "bracket.json").string();
    preview_ = std::make_unique<Preview>(options);
    server_ = std::make_unique<PreviewServer>(*preview_, limits);
    port_ = server_->bind(0);
    thread_ = std::thread([this] { server_->listen(); });
    host_ = "Host: 127.0.0.1:" + std::to_string(port_) + "\r\n";
  }

  void TearDown() override {
    if (server_) server_->stop();
    if (thread_.joinable()) thread_.join();
    server_.reset();
    preview_.reset();
    fs::remove_all(folder_);
  }

  std::string request(const std::string& method, const std::string& path, const std::string& body = "",
                      const std::string& headers = "") const {
    return method + " " + path + " HTTP/1.1\r\n" + host_ + headers + "Content-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
  }

  // A request on a connection of its own; its answer.
  std::string ask(const std::string& bytes) {
    RawClient client(port_);
    client.send(bytes);
    return client.answer();
  }

  // The server still answers a plain request.
  void expectAlive() {
    const std::string a = ask(request("GET", "/api/state"));
    EXPECT_EQ(statusOf(a), 200) << a.substr(0, 200);
  }

  fs::path folder_;
  std::unique_ptr<Preview> preview_;
  std::unique_ptr<PreviewServer> server_;
  std::thread thread_;
  int port_ = 0;
  std::string host_;
};

TEST_F(HostileClient, DeepNestingIsRefusedBeforeItIsParsed) {
  start();
  const auto nested = [](int depth) {
    return "{\"type\":\"help\",\"x\":" + std::string(depth - 1, '[') + std::string(depth - 1, ']') + "}";
  };
  const struct {
    std::string method, path, body;
    int status;
  } cases[] = {
      {"POST", "/api/event", std::string(200'000, '['), 400},
      {"POST", "/api/event", std::string(200'000, '{'), 400},
      {"PUT", "/api/definition", "{\"text\":" + std::string(200'000, '['), 400},
      {"POST", "/api/event", nested(kMaxJsonDepth), 200},
      {"POST", "/api/event", nested(kMaxJsonDepth + 1), 400},
      {"POST", "/api/event", "{\"type\":\"help\",\"x\":\"" + std::string(1000, '[') + "\"}", 200},  // in a string
      {"POST", "/api/event", "{\"type\":\"help\",\"x\":\"\\\"" + std::string(1000, '{') + "\"}", 200},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body.substr(0, 40));
    const std::string a = ask(request(c.method, c.path, c.body, "Content-Type: application/json\r\n"));
    EXPECT_EQ(statusOf(a), c.status) << bodyOf(a).substr(0, 200);
  }
  expectAlive();
}

TEST_F(HostileClient, AChunkedBodyIsCutOffAtTheLimit) {
  start();
  RawClient client(port_);
  ASSERT_TRUE(client.send("POST /api/event HTTP/1.1\r\n" + host_ +
                          "Content-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n"));
  const std::string chunk = "10000\r\n" + std::string(0x10000, ' ') + "\r\n";
  std::size_t sent = 0;
  while (sent < 100u * 1024 * 1024 && !client.readable(0ms) && client.send(chunk)) sent += 0x10000;
  const std::string a = client.answer();
  EXPECT_EQ(statusOf(a), 413) << a;
  // What the socket buffers hold, beyond the limit, at most.
  EXPECT_LT(sent, kMaxRequestBody + 32u * 1024 * 1024);
  expectAlive();
}

TEST_F(HostileClient, SlowClientsDoNotHoldUpOthers) {
  start();
  // Each slow client sends one header line now and then, and never ends its head; there
  // are more of them than the server keeps connections.
  std::vector<std::unique_ptr<RawClient>> slow;
  for (int i = 0; i < 40; ++i) {
    slow.push_back(std::make_unique<RawClient>(port_));
    slow.back()->send("GET /api/state HTTP/1.1\r\n" + host_);
  }
  std::atomic<bool> done = false;
  std::thread dripping([&] {
    for (int line = 0; !done; ++line) {
      for (auto& c : slow) c->send("X-Line-" + std::to_string(line) + ": x\r\n");
      std::this_thread::sleep_for(100ms);
    }
  });
  std::this_thread::sleep_for(300ms);

  for (int i = 0; i < 3; ++i) {
    const auto begin = Clock::now();
    RawClient client(port_);
    ASSERT_TRUE(client.connected());
    client.send(request("GET", "/api/state"));
    // Starved, it would wait until the slow heads time out (5 s); the bound leaves room for a
    // loaded machine and stays below that.
    const std::string a = client.answer(2500ms);
    EXPECT_EQ(statusOf(a), 200) << "request " << i;
    EXPECT_LT(Clock::now() - begin, 2500ms) << "request " << i;
  }
  done = true;
  dripping.join();
}

TEST_F(HostileClient, AHeadMustEndInTimeHoweverOftenLinesCome) {
  ServerLimits limits;
  limits.headTime = 400ms;
  limits.bodyTime = 400ms;
  start(limits);
  if (IsSkipped()) return;
  RawClient dripping(port_), silent(port_), slowBody(port_);
  dripping.send("GET /api/state HTTP/1.1\r\n" + host_);
  slowBody.send("POST /api/event HTTP/1.1\r\n" + host_ + "Content-Length: 100\r\n\r\n{");
  const auto begin = Clock::now();
  std::string answer;
  while (Clock::now() - begin < 5s && dripping.send("X-Line: x\r\n") && answer.empty()) {
    answer = dripping.answer(50ms);
  }
  EXPECT_EQ(statusOf(answer), 408) << answer;
  EXPECT_TRUE(dripping.closedWithin(5s));
  EXPECT_EQ(statusOf(slowBody.answer()), 408);
  EXPECT_TRUE(silent.closedWithin(5s)) << "an idle connection is closed";
  expectAlive();
}

TEST_F(HostileClient, MalformedFramingIsAnsweredAndTheConnectionClosed) {
  start();
  const std::string post = "POST /api/event HTTP/1.1\r\n" + host_;
  const struct {
    std::string bytes;
    int status;
    std::string error;
  } cases[] = {
      {"GARBAGE\r\n\r\n", 400, "malformed request line"},
      {"\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 400, "malformed request line"},
      {"GET / HTTP/1.1\r\n" + host_ + "Host: evil.example\r\n\r\n", 400, "the request has more than one Host header"},
      {"GET / HTTP/1.1\r\nHost: evil.example\r\n" + host_ + "\r\n", 400, "the request has more than one Host header"},
      {post + "Content-Length: -5\r\n\r\n", 400, "the Content-Length \"-5\" is no number of bytes"},
      {post + "Content-Length: 4194305\r\n\r\n", 413, "the request body is bigger than 4 MiB"},
      {post + "Transfer-Encoding: chunked\r\nContent-Length: 2\r\n\r\n{}", 400,
       "the request has both a Content-Length and a Transfer-Encoding"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    RawClient client(port_);
    client.send(c.bytes);
    const std::string a = client.answer();
    EXPECT_EQ(statusOf(a), c.status) << a;
    EXPECT_EQ(bodyOf(a), Json({{"error", c.error}}).dump());
    EXPECT_NE(a.find("Connection: close"), std::string::npos);
    EXPECT_TRUE(client.closedWithin(5s));
  }
  expectAlive();
}

TEST_F(HostileClient, StateChangingRequestsFromAnotherSiteAreRefused) {
  start();
  const struct {
    std::string method, path, headers;
    int status;
  } cases[] = {
      {"POST", "/api/event", "Sec-Fetch-Site: cross-site\r\n", 403},
      {"POST", "/api/save/document", "Sec-Fetch-Site: same-site\r\n", 403},
      {"PUT", "/api/definition", "Sec-Fetch-Site: cross-site\r\n", 403},
      {"POST", "/api/event", "Sec-Fetch-Site: same-origin\r\n", 200},
      {"POST", "/api/event", "Sec-Fetch-Site: none\r\n", 200},
      {"GET", "/api/state", "Sec-Fetch-Site: cross-site\r\n", 200},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.method + " " + c.path + " " + c.headers);
    const std::string body = c.path == "/api/event" ? "{\"type\":\"press\",\"id\":20003}" : "";
    EXPECT_EQ(statusOf(ask(request(c.method, c.path, c.path == "/api/definition" ? "{\"text\":\"\"}" : body, c.headers))),
              c.status);
  }
}

TEST_F(HostileClient, OneConnectionCarriesPipelinedAndContinuedRequests) {
  start();
  RawClient client(port_);
  const std::string help = "{\"type\":\"help\"}";
  client.send(request("GET", "/api/state") + request("POST", "/api/event", help) + request("GET", "/nothing"));
  EXPECT_EQ(statusOf(client.answer()), 200);
  EXPECT_NE(bodyOf(client.answer()).find("No help available"), std::string::npos);
  EXPECT_EQ(statusOf(client.answer()), 404);

  client.send("POST /api/event HTTP/1.1\r\n" + host_ + "Expect: 100-continue\r\nContent-Length: " +
              std::to_string(help.size()) + "\r\n\r\n");
  EXPECT_EQ(client.answer(), "HTTP/1.1 100 Continue\r\n\r\n");
  client.send(help);
  EXPECT_EQ(statusOf(client.answer()), 200);

  client.send("POST /api/event HTTP/1.1\r\n" + host_ + "Transfer-Encoding: chunked\r\n\r\n5\r\n{\"typ\r\n");
  client.send("A\r\ne\":\"help\"}\r\n0\r\n\r\n");
  EXPECT_NE(bodyOf(client.answer()).find("No help available"), std::string::npos);
  EXPECT_FALSE(client.closedWithin(100ms));
}

}  // namespace
}  // namespace kelvane::cli

#include "preview_server.h"

#include <httplib.h>

#ifdef _WIN32
#include <atomic>
#else
#include <pthread.h>
#include <signal.h>
#endif

#include <ostream>
#include <string>
#include <string_view>
#include <thread>

#include "web_assets.h"

namespace kelvane::cli {

namespace {

constexpr const char* kJson = "application/json";

std::string jsonText(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

void answer(httplib::Response& res, const Answer& a) {
  res.status = a.status;
  res.set_content(jsonText(a.body), kJson);
}

// The request's JSON body, or an answer that says why there is none.
std::optional<Json> jsonBody(const httplib::Request& req, httplib::Response& res) {
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

}  // namespace

PreviewServer::PreviewServer(Preview& preview) : preview_(preview), server_(std::make_unique<httplib::Server>()) {
  routes();
}

PreviewServer::~PreviewServer() = default;

int PreviewServer::bind(int port) {
  port_ = port == 0 ? server_->bind_to_any_port("127.0.0.1") : (server_->bind_to_port("127.0.0.1", port) ? port : -1);
  if (port_ <= 0) throw PreviewError("cannot listen on 127.0.0.1:" + std::to_string(port));
  return port_;
}

void PreviewServer::listen() { server_->listen_after_bind(); }

void PreviewServer::stop() { server_->stop(); }

void PreviewServer::routes() {
  auto& s = *server_;
  s.set_payload_max_length(kMaxRequestBody);
  // Headers and body go out as separate writes; without this each answer would wait
  // for the browser's delayed acknowledgement.
  s.set_tcp_nodelay(true);

  // Only pages served from this address may talk to it: a name that resolves here by
  // DNS rebinding carries its own Host, and a foreign page its own Origin.
  s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    const std::string port = std::to_string(port_);
    const std::string host = req.get_header_value("Host");
    if (host != "127.0.0.1:" + port && host != "localhost:" + port) {
      answer(res, errorAnswer(403, "the Host \"" + host + "\" is not this server"));
      return httplib::Server::HandlerResponse::Handled;
    }
    if (changesState(req.method) && req.has_header("Origin")) {
      const std::string origin = req.get_header_value("Origin");
      if (origin != "http://127.0.0.1:" + port && origin != "http://localhost:" + port) {
        answer(res, errorAnswer(403, "requests from \"" + origin + "\" are refused"));
        return httplib::Server::HandlerResponse::Handled;
      }
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  // A refusal by the library itself (too big, no such path, ...) answers JSON as well.
  s.set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
    if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
    const std::string reason = res.status == 413 ? "the request body is bigger than 4 MiB"
                               : res.status == 404 ? "no such resource"
                                                   : "the request cannot be answered";
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

  const auto locked = [this](auto body) {
    return [this, body](const httplib::Request& req, httplib::Response& res) {
      std::lock_guard lock(mutex_);
      body(req, res);
    };
  };
  s.Get("/api/state", locked([this](const httplib::Request&, httplib::Response& res) {
          answer(res, {200, preview_.state()});
        }));
  s.Get("/api/definition", locked([this](const httplib::Request&, httplib::Response& res) {
          answer(res, {200, preview_.definition()});
        }));
  s.Put("/api/definition", locked([this](const httplib::Request& req, httplib::Response& res) {
          if (auto j = jsonBody(req, res)) answer(res, preview_.setDefinition(*j));
        }));
  s.Post("/api/event", locked([this](const httplib::Request& req, httplib::Response& res) {
           if (auto j = jsonBody(req, res)) answer(res, preview_.event(*j));
         }));
  s.Post("/api/save/definition", locked([this](const httplib::Request&, httplib::Response& res) {
           answer(res, preview_.saveDefinition());
         }));
  s.Post("/api/save/document", locked([this](const httplib::Request&, httplib::Response& res) {
           answer(res, preview_.saveDocument());
         }));
}

#ifdef _WIN32

namespace {

// Ctrl+C, Ctrl+Break and closing the console call the handler on a thread of their own,
// with no context to hand: it finds the running server here.
std::atomic<PreviewServer*> running{nullptr};

BOOL WINAPI stopRunning(DWORD) {
  PreviewServer* server = running.load();
  if (!server) return FALSE;
  server->stop();
  return TRUE;
}

}  // namespace

int runPreview(const PreviewOptions& options, std::ostream& out, std::ostream& err) {
  try {
    Preview preview(options);
    PreviewServer server(preview);
    const int port = server.bind(options.port);
    running = &server;
    SetConsoleCtrlHandler(stopRunning, TRUE);
    out << "Kelvane preview: http://127.0.0.1:" << port << "/" << std::endl;
    server.listen();
    SetConsoleCtrlHandler(stopRunning, FALSE);
    running = nullptr;
  } catch (const std::runtime_error& e) {
    running = nullptr;
    err << "kelvane: " << e.what() << '\n';
    return 2;
  }
  return 0;
}

#else

int runPreview(const PreviewOptions& options, std::ostream& out, std::ostream& err) {
  // The signals wait for one thread of their own, so the server stops outside any handler.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

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

#endif

}  // namespace kelvane::cli

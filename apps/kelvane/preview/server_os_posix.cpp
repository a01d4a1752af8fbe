#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "preview.h"
#include "server_os.h"

namespace kelvane::cli::net {

Library::Library() = default;
Library::~Library() = default;

Socket listenLocal(int& port) {
  const auto fail = [port] {
    return PreviewError("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno));
  };
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (s < 0) throw fail();
  const int yes = 1;
  ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(s, 64) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    const PreviewError error = fail();
    ::close(s);
    throw error;
  }
  port = ntohs(address.sin_port);
  return s;
}

Socket accept(Socket listener) {
  for (;;) {
    const int s = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (s >= 0) {
      const int yes = 1;
      ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
      return s;
    }
    if (errno != EINTR) return kNoSocket;
  }
}

long receive(Socket s, char* bytes, std::size_t size) { return ::recv(s, bytes, size, 0); }

long send(Socket s, const char* bytes, std::size_t size) { return ::send(s, bytes, size, MSG_NOSIGNAL); }

bool wouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR; }

void shutdownSend(Socket s) { ::shutdown(s, SHUT_WR); }

void close(Socket s) {
  if (s != kNoSocket) ::close(s);
}

int poll(std::vector<Watch>& watches, int timeoutMs) {
  std::vector<pollfd> fds;
  fds.reserve(watches.size());
  for (const Watch& w : watches) fds.push_back({w.socket, static_cast<short>(w.write ? POLLOUT : POLLIN), 0});
  const int n = ::poll(fds.data(), fds.size(), timeoutMs);
  if (n < 0) return errno == EINTR ? 0 : -1;
  for (std::size_t i = 0; i < fds.size(); ++i) watches[i].ready = fds[i].revents != 0;
  return n;
}

Wake::Wake() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw PreviewError(std::string("cannot make a pipe: ") + std::strerror(errno));
  }
  ends_[0] = ends[0], ends_[1] = ends[1];
}

Wake::~Wake() {
  for (const Socket s : ends_) close(s);
}

void Wake::notify() {
  const char byte = 0;
  [[maybe_unused]] const auto written = ::write(ends_[1], &byte, 1);
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

// The signals wait for one thread of their own, so the server stops outside any handler.
void EndRequests::hold() {
  const sigset_t signals = endingSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

EndRequests::EndRequests(std::function<void()> stop) : stop_(std::move(stop)) {
  waiter_ = std::thread([this] {
    const sigset_t signals = endingSignals();
    int signal = 0;
    sigwait(&signals, &signal);
    stop_();
  });
}

EndRequests::~EndRequests() {
  pthread_kill(waiter_.native_handle(), SIGTERM);  // when no signal came
  waiter_.join();
}

}  // namespace kelvane::cli::net

// Winsock: WSAPoll, non-blocking sockets through ioctlsocket, and errors from
// WSAGetLastError. The console's events stand for the signals.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <climits>
#include <mutex>
#include <type_traits>
#include <utility>

#include "preview.h"
#include "server_os.h"

namespace kelvane::cli::net {

static_assert(std::is_same_v<Socket, SOCKET>);
static_assert(kNoSocket == INVALID_SOCKET);

namespace {

std::string lastErrorText() {
  const int error = WSAGetLastError();
  char text[256] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                 static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
  std::string s(text, n);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == '.')) s.pop_back();
  return (s.empty() ? "error" : s) + " (" + std::to_string(error) + ")";
}

// A TCP socket that no child process inherits.
SOCKET tcpSocket() { return WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT); }

bool nonBlocking(SOCKET s) {
  u_long yes = 1;
  return ioctlsocket(s, FIONBIO, &yes) == 0;
}

sockaddr_in loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// Bound to 127.0.0.1:`port` and listening, and `port` the bound one. SO_REUSEADDR would
// let another program bind the same port on Windows; SO_EXCLUSIVEADDRUSE forbids it.
bool listening(SOCKET s, int& port, int backlog) {
  const BOOL yes = TRUE;
  sockaddr_in address = loopback(port);
  int length = sizeof address;
  if (setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes), sizeof yes) != 0 ||
      ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(s, backlog) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return false;
  }
  port = ntohs(address.sin_port);
  return true;
}

}  // namespace

Library::Library() {
  WSADATA data;
  if (const int error = WSAStartup(MAKEWORD(2, 2), &data); error != 0) {
    throw PreviewError("cannot start Winsock: error " + std::to_string(error));
  }
}

Library::~Library() { WSACleanup(); }

Socket listenLocal(int& port) {
  const int asked = port;
  const SOCKET s = tcpSocket();
  if (s == INVALID_SOCKET || !listening(s, port, 64) || !nonBlocking(s)) {
    const PreviewError error("cannot listen on 127.0.0.1:" + std::to_string(asked) + ": " + lastErrorText());
    close(s);
    throw error;
  }
  return s;
}

Socket accept(Socket listener) {
  const SOCKET s = ::accept(listener, nullptr, nullptr);
  if (s == INVALID_SOCKET) return kNoSocket;
  // Sockets that accept() makes take the listener's mode, but not everywhere its
  // inheritance; both are set here.
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  const BOOL yes = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&yes), sizeof yes);
  if (!nonBlocking(s)) {
    closesocket(s);
    return kNoSocket;
  }
  return s;
}

long receive(Socket s, char* bytes, std::size_t size) {
  return ::recv(s, bytes, static_cast<int>(std::min<std::size_t>(size, INT_MAX)), 0);
}

long send(Socket s, const char* bytes, std::size_t size) {
  return ::send(s, bytes, static_cast<int>(std::min<std::size_t>(size, INT_MAX)), 0);
}

bool wouldBlock() {
  const int error = WSAGetLastError();
  return error == WSAEWOULDBLOCK || error == WSAEINTR;
}

void shutdownSend(Socket s) { ::shutdown(s, SD_SEND); }

void close(Socket s) {
  if (s != kNoSocket) closesocket(s);
}

int poll(std::vector<Watch>& watches, int timeoutMs) {
  std::vector<WSAPOLLFD> fds;
  fds.reserve(watches.size());
  for (const Watch& w : watches) fds.push_back({w.socket, static_cast<SHORT>(w.write ? POLLOUT : POLLIN), 0});
  const int n = WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), timeoutMs);
  if (n < 0) return WSAGetLastError() == WSAEINTR ? 0 : -1;
  for (std::size_t i = 0; i < fds.size(); ++i) watches[i].ready = fds[i].revents != 0;
  return n;
}

// Windows has no pipe that WSAPoll watches: the two ends are a TCP connection over the
// loopback, made through a listener of its own. Another program may connect to that
// listener first; only the connection whose far end is ours is taken.
Wake::Wake() {
  const auto fail = [this](const char* what) {
    const PreviewError error(std::string("cannot make the server's wake-up: ") + what + ": " + lastErrorText());
    for (Socket& s : ends_) close(std::exchange(s, kNoSocket));
    return error;
  };
  const SOCKET listener = tcpSocket();
  int port = 0;
  if (listener == INVALID_SOCKET || !listening(listener, port, 4)) {
    const PreviewError error = fail("listen");
    close(listener);
    throw error;
  }
  ends_[1] = tcpSocket();
  sockaddr_in address = loopback(port), mine{}, theirs{};
  int length = sizeof mine;
  if (ends_[1] == INVALID_SOCKET || connect(ends_[1], reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(ends_[1], reinterpret_cast<sockaddr*>(&mine), &length) != 0) {
    const PreviewError error = fail("connect");
    close(listener);
    throw error;
  }
  for (int attempt = 0; attempt < 16 && ends_[0] == kNoSocket; ++attempt) {
    length = sizeof theirs;
    const SOCKET s = ::accept(listener, reinterpret_cast<sockaddr*>(&theirs), &length);
    if (s == INVALID_SOCKET) break;
    if (theirs.sin_port == mine.sin_port && theirs.sin_addr.s_addr == mine.sin_addr.s_addr) {
      ends_[0] = s;
    } else {
      closesocket(s);
    }
  }
  close(listener);
  if (ends_[0] == kNoSocket || !nonBlocking(ends_[0]) || !nonBlocking(ends_[1])) throw fail("accept");
}

Wake::~Wake() {
  for (const Socket s : ends_) close(s);
}

void Wake::notify() {
  const char byte = 0;
  ::send(ends_[1], &byte, 1, 0);
}

namespace {

// The console calls its handlers on a thread of its own, with no context to hand them.
std::mutex endLock;
bool endRequested = false;
std::function<void()>* endStop = nullptr;

BOOL WINAPI onConsoleEvent(DWORD event) {
  {
    std::lock_guard lock(endLock);
    endRequested = true;
    if (endStop) (*endStop)();
  }
  // After these the system ends the process as soon as a handler returns: this one
  // returns never, so the preview ends by itself, its scratch folder gone (or the system
  // ends it after its grace time).
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) Sleep(INFINITE);
  return TRUE;
}

}  // namespace

void EndRequests::hold() { SetConsoleCtrlHandler(onConsoleEvent, TRUE); }

EndRequests::EndRequests(std::function<void()> stop) : stop_(std::move(stop)) {
  std::lock_guard lock(endLock);
  endStop = &stop_;
  if (endRequested) stop_();
}

EndRequests::~EndRequests() {
  std::lock_guard lock(endLock);
  endStop = nullptr;
}

}  // namespace kelvane::cli::net

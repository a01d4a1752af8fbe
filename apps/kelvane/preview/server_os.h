// What the preview's server needs from the OS, the same on POSIX and Windows: TCP
// sockets on 127.0.0.1 that never block, one wait for many of them, a wake-up for that
// wait from another thread, and the requests to end the program.
// server_os_posix.cpp and server_os_windows.cpp hold the two sides.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace kelvane::cli::net {

#ifdef _WIN32
using Socket = std::uintptr_t;  // SOCKET
#else
using Socket = int;
#endif
inline constexpr Socket kNoSocket = static_cast<Socket>(-1);

// The socket library, from construction to destruction (Winsock's WSAStartup).
class Library {
 public:
  Library();
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
};

// A socket listening on 127.0.0.1:`port` (0: a free one), which no other socket can
// take from it and no child process inherits; `port` becomes the bound one. Throws
// PreviewError.
Socket listenLocal(int& port);
// A connection waiting on `listener`, non-blocking; kNoSocket when none waits.
Socket accept(Socket listener);
// Bytes taken or given, or 0 for a connection the client closed (receive), or -1 for
// an error; wouldBlock() tells whether that error only means "not now".
long receive(Socket s, char* bytes, std::size_t size);
long send(Socket s, const char* bytes, std::size_t size);
bool wouldBlock();
void shutdownSend(Socket s);
void close(Socket s);

struct Watch {
  Socket socket;
  bool write;          // waits until it can be written, else read (or closed)
  bool ready = false;  // set by poll: something happened on it
};
// Waits until one of `watches` is ready or `timeoutMs` passed (-1: no limit). Answers
// how many are ready, 0 also when a signal interrupted the wait, -1 on an error.
int poll(std::vector<Watch>& watches, int timeoutMs);

// Wakes a poll from any thread: notify() makes watched() readable.
class Wake {
 public:
  Wake();  // throws PreviewError
  ~Wake();
  Wake(const Wake&) = delete;
  Wake& operator=(const Wake&) = delete;

  Socket watched() const { return ends_[0]; }
  void notify();

 private:
  Socket ends_[2] = {kNoSocket, kNoSocket};
};

// The requests to end the program: on POSIX SIGINT, SIGTERM and the other signals that
// ask a program to end, on Windows Ctrl+C, Ctrl+Break, closing the console, logging off
// and shutting down.
class EndRequests {
 public:
  // From now on they no longer end the program but wait for an EndRequests; one that
  // comes before it is kept for it. Before any thread starts.
  static void hold();

  // Calls `stop` on a thread of its own at a request to end, while it lives.
  explicit EndRequests(std::function<void()> stop);
  ~EndRequests();
  EndRequests(const EndRequests&) = delete;
  EndRequests& operator=(const EndRequests&) = delete;

 private:
  std::function<void()> stop_;
  std::thread waiter_;  // POSIX: waits for the signals
};

}  // namespace kelvane::cli::net

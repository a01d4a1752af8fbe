// One HTTP/1.1 request of the preview, read from a client's bytes as they arrive. Its
// framing is checked before any of it reaches the router: a request line and header
// lines of the strict form, one Host, a Content-Length of digits or a chunked body, and
// sizes within limits. What goes on is one form only: the head as sent, less its framing
// headers, and the whole body with its Content-Length.
#pragma once

#include <cstddef>
#include <string>

namespace kelvane::cli {

// Request bodies bigger than this are refused, however they are sent.
inline constexpr std::size_t kMaxRequestBody = 4 * 1024 * 1024;
// The request line and the header lines together; the same for a chunked body's trailer.
inline constexpr std::size_t kMaxRequestHead = 16 * 1024;

class RequestReader {
 public:
  enum class Step { More, Complete, Refused };

  // Takes from `in` the bytes that belong to this request, and no more: what follows
  // stays for the next one. A refusal is final.
  Step take(std::string& in);

  // The head is read: the body, if any, comes next.
  bool headRead() const { return phase_ != Phase::Head; }
  // The client waits for "100 Continue" before it sends the body.
  bool wantsContinue() const { return wantsContinue_; }
  // Once Complete: the request in its one form.
  const std::string& request() const { return request_; }
  // Once Refused: the status and why.
  int status() const { return status_; }
  const std::string& reason() const { return reason_; }

 private:
  enum class Phase { Head, Sized, ChunkSize, ChunkData, ChunkEnd, Trailer, Done };

  Step head(std::string& in);
  Step body(std::string& in);
  Step refuse(int status, std::string reason);

  Phase phase_ = Phase::Head;
  std::string request_;  // the head so far, then the whole request
  std::string body_;
  std::size_t remaining_ = 0;  // of the sized body, or of the current chunk
  std::size_t trailer_ = 0;    // bytes of trailer lines so far
  bool wantsContinue_ = false;
  int status_ = 0;
  std::string reason_;
};

// The answer to a refused request: the status, {"error": reason}, and "Connection: close".
std::string refusalAnswer(int status, const std::string& reason);

}  // namespace kelvane::cli

#include "request_reader.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "document_file.h"

namespace kelvane::cli {

namespace {

// A chunk-size line with its extensions.
constexpr std::size_t kMaxChunkLine = 1024;

bool isTokenChar(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c != 0 && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr);
}

bool isToken(std::string_view s) { return !s.empty() && std::all_of(s.begin(), s.end(), isTokenChar); }

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return out;
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Visible characters, blanks and tabs, and bytes above ASCII; no other control character.
bool isFieldValue(std::string_view s) {
  return std::none_of(s.begin(), s.end(), [](char ch) {
    const auto c = static_cast<unsigned char>(ch);
    return (c < 0x20 && c != '\t') || c == 0x7F;
  });
}

// The next line of `in` from `from` without its CR LF (or LF), and where the one after
// it starts; none when no line end has come yet.
bool nextLine(const std::string& in, std::size_t from, std::string_view& line, std::size_t& next) {
  const std::size_t lf = in.find('\n', from);
  if (lf == std::string::npos) return false;
  line = std::string_view(in).substr(from, lf - from);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  next = lf + 1;
  return true;
}

bool isRequestLine(std::string_view line) {
  const std::size_t a = line.find(' ');
  const std::size_t b = a == std::string_view::npos ? a : line.find(' ', a + 1);
  if (b == std::string_view::npos) return false;
  const std::string_view method = line.substr(0, a), target = line.substr(a + 1, b - a - 1), version = line.substr(b + 1);
  return isToken(method) && !target.empty() && target.front() == '/' &&
         std::all_of(target.begin(), target.end(), [](char c) { return c > 0x20 && c < 0x7F; }) &&
         (version == "HTTP/1.1" || version == "HTTP/1.0");
}

const char* statusText(int status) {
  switch (status) {
    case 400: return "Bad Request";
    case 408: return "Request Timeout";
    case 413: return "Payload Too Large";
    case 417: return "Expectation Failed";
    case 431: return "Request Header Fields Too Large";
    case 501: return "Not Implemented";
    default: return "Error";
  }
}

}  // namespace

RequestReader::Step RequestReader::refuse(int status, std::string reason) {
  status_ = status;
  reason_ = std::move(reason);
  phase_ = Phase::Done;
  return Step::Refused;
}

RequestReader::Step RequestReader::take(std::string& in) {
  if (phase_ == Phase::Done) return status_ ? Step::Refused : Step::Complete;
  if (phase_ == Phase::Head) {
    const Step step = head(in);
    if (step != Step::More || phase_ == Phase::Head) return step;
  }
  return body(in);
}

RequestReader::Step RequestReader::head(std::string& in) {
  std::size_t start = 0;
  std::string_view line;
  std::size_t next = 0;
  // Blank lines before a request line are tolerated; some clients send one after a body.
  while (nextLine(in, start, line, next) && line.empty() && start < kMaxRequestHead) start = next;

  std::vector<std::string_view> lines;
  std::size_t end = start;
  for (;;) {
    if (!nextLine(in, end, line, next)) {
      if (in.size() > kMaxRequestHead) return refuse(431, "the request head is bigger than 16 KiB");
      // A request line that cannot become one is refused now, not at its end.
      if (lines.empty() && std::any_of(in.begin() + static_cast<std::ptrdiff_t>(end), in.end(), [](char ch) {
            const auto c = static_cast<unsigned char>(ch);
            return (c < 0x20 && c != '\r') || c >= 0x7F;
          })) {
        return refuse(400, "malformed request line");
      }
      return Step::More;
    }
    if (next > kMaxRequestHead) return refuse(431, "the request head is bigger than 16 KiB");
    end = next;
    if (line.empty()) break;
    lines.push_back(line);
  }

  if (lines.empty() || !isRequestLine(lines.front())) return refuse(400, "malformed request line");
  const bool http10 = lines.front().substr(lines.front().size() - 8) == "HTTP/1.0";

  request_.assign(lines.front()).append("\r\n");
  int hosts = 0, lengths = 0, codings = 0;
  std::string length, coding, expect;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string_view l = lines[i];
    const std::size_t colon = l.find(':');
    if (colon == std::string_view::npos || !isToken(l.substr(0, colon))) {
      return refuse(400, "malformed header line " + std::to_string(i));
    }
    const std::string name = lower(l.substr(0, colon));
    const std::string_view value = trimmed(l.substr(colon + 1));
    if (!isFieldValue(value)) return refuse(400, "malformed header line " + std::to_string(i));
    if (name == "host") {
      ++hosts;
    } else if (name == "content-length") {
      ++lengths, length = value;
      continue;
    } else if (name == "transfer-encoding") {
      ++codings, coding = lower(value);
      continue;
    } else if (name == "expect") {
      expect = lower(value);
      continue;
    }
    request_.append(l.substr(0, colon)).append(": ").append(value).append("\r\n");
  }
  in.erase(0, end);

  if (hosts > 1) return refuse(400, "the request has more than one Host header");
  if (hosts == 0 && !http10) return refuse(400, "the request has no Host header");
  if (lengths > 0 && codings > 0) return refuse(400, "the request has both a Content-Length and a Transfer-Encoding");
  if (lengths > 1) return refuse(400, "the request has more than one Content-Length");
  if (codings > 0 && (http10 || codings > 1 || coding != "chunked")) {
    return refuse(501, "the transfer coding \"" + coding + "\" is not supported");
  }
  if (lengths == 1) {
    if (length.empty() || !std::all_of(length.begin(), length.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return refuse(400, "the Content-Length \"" + length + "\" is no number of bytes");
    }
    const std::size_t digits = length.find_first_not_of('0');
    if (digits != std::string::npos && (length.size() - digits > 9 || std::stoul(length) > kMaxRequestBody)) {
      return refuse(413, "the request body is bigger than 4 MiB");
    }
    remaining_ = digits == std::string::npos ? 0 : std::stoul(length);
  }
  const bool hasBody = remaining_ > 0 || codings > 0;
  if (!expect.empty()) {
    if (expect != "100-continue") return refuse(417, "the expectation \"" + expect + "\" cannot be met");
    wantsContinue_ = hasBody;
  }
  phase_ = codings > 0 ? Phase::ChunkSize : Phase::Sized;
  return Step::More;
}

RequestReader::Step RequestReader::body(std::string& in) {
  for (;;) {
    switch (phase_) {
      case Phase::Sized:
      case Phase::ChunkData: {
        const std::size_t n = std::min(remaining_, in.size());
        body_.append(in, 0, n);
        in.erase(0, n);
        remaining_ -= n;
        if (remaining_ > 0) return Step::More;
        if (phase_ == Phase::ChunkData) {
          phase_ = Phase::ChunkEnd;
          break;
        }
        phase_ = Phase::Done;
        request_.append("Content-Length: ").append(std::to_string(body_.size())).append("\r\n\r\n").append(body_);
        body_ = std::string();
        return Step::Complete;
      }
      case Phase::ChunkEnd: {
        if (in.empty() || in == "\r") return Step::More;
        const std::size_t n = in.compare(0, 2, "\r\n") == 0 ? 2 : in.front() == '\n' ? 1 : 0;
        if (n == 0) return refuse(400, "malformed chunk");
        in.erase(0, n);
        phase_ = Phase::ChunkSize;
        break;
      }
      case Phase::ChunkSize: {
        std::string_view line;
        std::size_t next = 0;
        if (!nextLine(in, 0, line, next)) {
          return in.size() > kMaxChunkLine ? refuse(400, "malformed chunk size") : Step::More;
        }
        std::size_t size = 0, digits = 0;
        for (; digits < line.size() && std::isxdigit(static_cast<unsigned char>(line[digits])); ++digits) {
          const char c = line[digits];
          size = size * 16 + static_cast<std::size_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
          if (size > kMaxRequestBody) return refuse(413, "the request body is bigger than 4 MiB");
        }
        const std::string_view rest = trimmed(line.substr(digits));
        if (digits == 0 || next > kMaxChunkLine || (!rest.empty() && rest.front() != ';')) {
          return refuse(400, "malformed chunk size");
        }
        if (body_.size() + size > kMaxRequestBody) return refuse(413, "the request body is bigger than 4 MiB");
        in.erase(0, next);
        remaining_ = size;
        phase_ = size > 0 ? Phase::ChunkData : Phase::Trailer;
        break;
      }
      case Phase::Trailer: {
        std::string_view line;
        std::size_t next = 0;
        if (!nextLine(in, 0, line, next)) {
          return trailer_ + in.size() > kMaxRequestHead ? refuse(431, "the request trailer is bigger than 16 KiB")
                                                        : Step::More;
        }
        trailer_ += next;
        if (trailer_ > kMaxRequestHead) return refuse(431, "the request trailer is bigger than 16 KiB");
        const bool last = line.empty();
        in.erase(0, next);
        if (last) {
          phase_ = Phase::Sized;  // nothing remains: completes the request
          remaining_ = 0;
        }
        break;
      }
      case Phase::Head:
      case Phase::Done:
        return Step::More;
    }
  }
}

std::string refusalAnswer(int status, const std::string& reason) {
  const std::string body = Json({{"error", reason}}).dump(-1, ' ', false, Json::error_handler_t::replace);
  return "HTTP/1.1 " + std::to_string(status) + " " + statusText(status) +
         "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

}  // namespace kelvane::cli

#include "request_reader.h"

#include <gtest/gtest.h>

#include <string>

namespace kelvane::cli {
namespace {

using Step = RequestReader::Step;

struct Read {
  Step step;
  std::string request;  // once Complete
  int status = 0;       // once Refused
  std::string left;     // what stays in the buffer
};

// Feeds `bytes` at once, or one byte at a time as a slow client sends them.
Read read(const std::string& bytes, bool byteByByte) {
  RequestReader reader;
  std::string in;
  Step step = Step::More;
  std::size_t fed = 0;
  while (fed < bytes.size() && step == Step::More) {
    const std::size_t n = byteByByte ? 1 : bytes.size();
    in += bytes.substr(fed, n);
    fed += n;
    step = reader.take(in);
  }
  in += bytes.substr(fed);
  return {step, step == Step::Complete ? reader.request() : "", step == Step::Refused ? reader.status() : 0, in};
}

const std::string kHost = "Host: 127.0.0.1:1\r\n";

TEST(RequestReader, PassesOnOneFormOfEachWellFramedRequest) {
  const struct {
    std::string bytes, request, left;
  } cases[] = {
      {"GET / HTTP/1.1\r\n" + kHost + "\r\n", "GET / HTTP/1.1\r\n" + kHost + "Content-Length: 0\r\n\r\n", ""},
      {"\r\nGET /a?b=c HTTP/1.0\n\n", "GET /a?b=c HTTP/1.0\r\nContent-Length: 0\r\n\r\n", ""},
      {"PUT /x HTTP/1.1\r\n" + kHost + "content-length:  3 \r\nX-A:\tv w\r\n\r\nabcGET",
       "PUT /x HTTP/1.1\r\n" + kHost + "X-A: v w\r\nContent-Length: 3\r\n\r\nabc", "GET"},
      {"POST /e HTTP/1.1\r\n" + kHost + "Content-Length: 007\r\n\r\n1234567",
       "POST /e HTTP/1.1\r\n" + kHost + "Content-Length: 7\r\n\r\n1234567", ""},
      {"POST /e HTTP/1.1\r\n" + kHost + "Transfer-Encoding: Chunked\r\nExpect: 100-continue\r\n\r\n" +
           "3;name=value\r\nabc\r\nA\r\n0123456789\r\n0\r\nX-Trailer: t\r\n\r\nnext",
       "POST /e HTTP/1.1\r\n" + kHost + "Content-Length: 13\r\n\r\nabc0123456789", "next"},
      {"POST /e HTTP/1.1\r\n" + kHost + "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
       "POST /e HTTP/1.1\r\n" + kHost + "Content-Length: 0\r\n\r\n", ""},
  };
  for (const auto& c : cases) {
    for (const bool slow : {false, true}) {
      SCOPED_TRACE(c.bytes + (slow ? " (byte by byte)" : ""));
      const Read r = read(c.bytes, slow);
      EXPECT_EQ(r.step, Step::Complete);
      EXPECT_EQ(r.request, c.request);
      EXPECT_EQ(r.left, c.left);
    }
  }
}

TEST(RequestReader, RefusesFramingThatIsMalformedAmbiguousOrTooBig) {
  const std::string post = "POST /e HTTP/1.1\r\n" + kHost;
  const struct {
    std::string bytes;
    int status;
  } cases[] = {
      {"GARBAGE\r\n\r\n", 400},
      {"GET /\r\n\r\n", 400},
      {"GET / HTTP/1.1 x\r\n\r\n", 400},
      {"GET  / HTTP/1.1\r\n\r\n", 400},
      {"GET http://evil/ HTTP/1.1\r\n\r\n", 400},
      {"GET / HTTP/2.0\r\n\r\n", 400},
      {"G\x01T / HTTP/1.1", 400},         // refused before its line ends
      {"\x16\x03\x01\x02\x00\x01", 400},  // a TLS hello
      {"GET / HTTP/1.1\r\n\r\n", 400},    // no Host
      {"GET / HTTP/1.1\r\n" + kHost + "Host: evil\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\n" + kHost + " folded\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\n" + kHost + "Bad Name: x\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\n" + kHost + "NoColon\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\n" + kHost + "X: a\x01z\r\n\r\n", 400},
      {post + "Content-Length: -5\r\n\r\n", 400},
      {post + "Content-Length: +5\r\n\r\n", 400},
      {post + "Content-Length: 5, 5\r\n\r\n", 400},
      {post + "Content-Length: \r\n\r\n", 400},
      {post + "Content-Length: 1\r\nContent-Length: 1\r\n\r\nx", 400},
      {post + "Content-Length: 1\r\nTransfer-Encoding: chunked\r\n\r\n", 400},
      {post + "Content-Length: 4194305\r\n\r\n", 413},
      {post + "Content-Length: 99999999999999999999999\r\n\r\n", 413},
      {post + "Transfer-Encoding: gzip, chunked\r\n\r\n", 501},
      {post + "Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n\r\n", 501},
      {"POST / HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n", 501},
      {post + "Transfer-Encoding: chunked\r\n\r\n400001\r\n", 413},
      {post + "Transfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFFFFFFFFFF\r\n", 413},
      {post + "Transfer-Encoding: chunked\r\n\r\n200000\r\n" + std::string(0x200000, 'a') + "\r\n200001\r\n", 413},
      {post + "Transfer-Encoding: chunked\r\n\r\nx\r\n", 400},
      {post + "Transfer-Encoding: chunked\r\n\r\n1\r\nab\r\n", 400},
      {post + "Transfer-Encoding: chunked\r\n\r\n" + std::string(2000, '0'), 400},
      {post + "Expect: something\r\nContent-Length: 1\r\n\r\n", 417},
      {"GET / HTTP/1.1\r\n" + kHost + "X: " + std::string(kMaxRequestHead, 'a'), 431},
      {post + "Transfer-Encoding: chunked\r\n\r\n0\r\nX: " + std::string(kMaxRequestHead, 'a'), 431},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes.substr(0, 120));
    const Read r = read(c.bytes, false);
    EXPECT_EQ(r.step, Step::Refused);
    EXPECT_EQ(r.status, c.status);
  }
}

TEST(RequestReader, AnUnfinishedRequestWaitsAndSaysWhetherTheClientWaitsToo) {
  RequestReader reader;
  std::string in = "POST /e HTTP/1.1\r\n" + kHost + "Expect: 100-Continue\r\nContent-Length: 2\r\n";
  EXPECT_EQ(reader.take(in), Step::More);
  EXPECT_FALSE(reader.headRead());
  in += "\r\n";
  EXPECT_EQ(reader.take(in), Step::More);
  EXPECT_TRUE(reader.headRead());
  EXPECT_TRUE(reader.wantsContinue());
  in += "{}";
  EXPECT_EQ(reader.take(in), Step::Complete);
  EXPECT_EQ(in, "");
}

TEST(RequestReader, ARefusalAnswersJsonAndClosesTheConnection) {
  EXPECT_EQ(refusalAnswer(413, "too \"big\""),
            "HTTP/1.1 413 Payload Too Large\r\nContent-Type: application/json\r\nContent-Length: 23\r\n"
            "Connection: close\r\n\r\n{\"error\":\"too \\\"big\\\"\"}");
}

}  // namespace
}  // namespace kelvane::cli

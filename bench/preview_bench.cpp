// `kelvane preview`: from the server receiving an event to its answer being sent.
//   BM_PreviewEvent      the event through the live session and the answer's JSON text,
//                        which is all the server does between reading and writing;
//   BM_PreviewRoundTrip  the same through HTTP on 127.0.0.1 with httplib's client.
// Pages: the example definition on bracket.json ("example"), and 1,000 fields with 10
// configurations ("1000x10"). Each event types into a text box that a composite reads,
// alternating two texts, so the composites are rebuilt every time.
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "page_inputs.h"
#include "preview.h"
#include "preview_server.h"

namespace {

using namespace kelvane;
namespace fs = std::filesystem;

void write(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// The add-in folder and document of one page size, in a folder of their own.
struct Inputs {
  fs::path folder;
  int textBox = 0;  // a text box that a composite reads

  explicit Inputs(int fields) {
    folder = fs::temp_directory_path() / ("kelvane-preview-bench-" + std::to_string(::getpid()) + "-" +
                                          std::to_string(fields));
    fs::create_directories(folder);
    if (fields == 0) {
      for (const char* name : {"Kelvane.ini", "bracket.json"}) {
        fs::copy_file(fs::path(KELVANE_SOURCE_DIR) / "examples" / name, folder / name,
                      fs::copy_options::overwrite_existing);
      }
      fs::rename(folder / "bracket.json", folder / "document.json");
      textBox = 0;  // Part Number, read by Drawing Number
      return;
    }
    auto faults = std::make_shared<sim::Faults>();
    sim::SimDocument doc(faults);
    bench::fillDocument(doc, fields, 10);
    write(folder / "Kelvane.ini", bench::definitionText(fields));
    write(folder / "Kelvane.log", bench::logText(fields));
    write(folder / "document.json", cli::documentText(doc));
    textBox = 1;  // "Part Number 1", read by "Code 8"
  }
  ~Inputs() {
    std::error_code ec;
    fs::remove_all(folder, ec);
  }

  cli::PreviewOptions options() const {
    cli::PreviewOptions o;
    o.addinDir = folder.string();
    o.doc = (folder / "document.json").string();
    return o;
  }
};

// Each event names the state the page holds, as the page does: the answer carries what
// changed since.
cli::Json typing(int id, std::int64_t n, const cli::Json& since) {
  return {{"type", "text"}, {"id", id}, {"text", n % 2 ? "A-100" : "B-200"}, {"since", since}};
}

void BM_PreviewEvent(benchmark::State& state) {
  Inputs inputs(static_cast<int>(state.range(0)));
  cli::Preview preview(inputs.options());
  cli::Json since = preview.state()["revision"];
  std::int64_t n = 0;
  for (auto _ : state) {
    const cli::Answer a = preview.event(typing(inputs.textBox, n++, since));
    since = a.body["revision"];
    std::string body = a.body.dump(-1, ' ', false, cli::Json::error_handler_t::replace);
    if (a.status != 200) state.SkipWithError(body.c_str());
    benchmark::DoNotOptimize(body);
  }
}

void BM_PreviewRoundTrip(benchmark::State& state) {
  Inputs inputs(static_cast<int>(state.range(0)));
  cli::Preview preview(inputs.options());
  cli::PreviewServer server(preview);
  const int port = server.bind(0);
  std::thread listening([&] { server.listen(); });
  httplib::Client client("127.0.0.1", port);
  client.set_keep_alive(true);
  client.set_tcp_nodelay(true);  // as browsers do
  client.set_read_timeout(10);
  cli::Json since = cli::Json::parse(client.Get("/api/state")->body)["revision"];
  std::int64_t n = 0;
  for (auto _ : state) {
    auto r = client.Post("/api/event", typing(inputs.textBox, n++, since).dump(), "application/json");
    if (!r || r->status != 200) {
      state.SkipWithError("the event was not answered");
      break;
    }
    since = cli::Json::parse(r->body)["revision"];
  }
  server.stop();
  listening.join();
}

// 0: the example definition; otherwise the number of fields.
BENCHMARK(BM_PreviewEvent)->ArgName("fields")->Arg(0)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PreviewRoundTrip)->ArgName("fields")->Arg(0)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

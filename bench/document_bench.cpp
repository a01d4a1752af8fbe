// Reading and writing document files, against the plain JSON library on the same
// text. Shapes: 1k, 10k and 100k properties in one object; 1k and 10k configurations
// without properties; and the page benchmarks' largest document, 1,000 fields x 100
// configurations.
//
//   BM_LoadWrite   what a session does with its document: parse and check it into the
//                  simulated host, record its contents, compare them after the run,
//                  and write the text
//   BM_PlainJson   nlohmann::json::parse and dump(2) of the same text (the floor)
#include <benchmark/benchmark.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "document_file.h"
#include "page_inputs.h"
#include "sim/sim.h"

namespace {

using namespace kelvane;

enum Shape { kProperties = 0, kConfigurations = 1, kPage = 2 };

std::string documentOf(int shape, int count) {
  sim::SimDocument doc(std::make_shared<sim::Faults>());
  doc.title = "Bracket.SLDPRT";
  if (shape == kProperties) {
    for (int n = 0; n < count; ++n) doc.properties.add("Property " + std::to_string(n), "value " + std::to_string(n));
  } else if (shape == kConfigurations) {
    for (int n = 0; n < count; ++n) doc.addConfiguration("Config " + std::to_string(n));
  } else {
    bench::fillDocument(doc, count, 100);
  }
  return cli::documentText(doc);
}

void setCounters(benchmark::State& state, const std::string& text) {
  state.counters["items"] = static_cast<double>(state.range(1));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_LoadWrite(benchmark::State& state) {
  const std::string text = documentOf(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    sim::SimDocument doc(std::make_shared<sim::Faults>());
    cli::parseDocument(text, doc);
    const cli::DocumentContents before = cli::contentsOf(doc);
    benchmark::DoNotOptimize(cli::sameContents(before, doc));
    std::string out = cli::documentText(doc);
    benchmark::DoNotOptimize(out.data());
    if (out != text) state.SkipWithError("the document did not come back as it was");
  }
  setCounters(state, text);
}

void BM_PlainJson(benchmark::State& state) {
  const std::string text = documentOf(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    const auto j = nlohmann::json::parse(text);
    std::string out = j.dump(2);
    benchmark::DoNotOptimize(out.data());
  }
  setCounters(state, text);
}

void shapes(benchmark::internal::Benchmark* b) {
  b->ArgNames({"shape", "n"});
  for (int n : {1000, 10000, 100000}) b->Args({kProperties, n});
  for (int n : {1000, 10000}) b->Args({kConfigurations, n});
  b->Args({kPage, 1000});
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_LoadWrite)->Apply(shapes);
BENCHMARK(BM_PlainJson)->Apply(shapes);

}  // namespace

BENCHMARK_MAIN();

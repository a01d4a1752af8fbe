// Opening the page (DispPropMgr) on the simulated host for 10, 100 and 1,000 fields
// with 1, 10 and 100 configurations, and one text edit that rebuilds the composite
// fields on the largest page. Each reports the host calls it makes and the time per
// host call; the page is closed (cancel) between openings, outside the timing.
//
// The purge button on pages of 5,000 to 20,000 fields, each a document-wide property.
//
// Openings run twice: on a document that holds values for two fields in three in
// every configuration ("values:1"), and on one without properties ("values:0"), where
// the simulated host's property lookups cost next to nothing and the add-in's own
// share shows.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "addin/swaddin.h"
#include "logfile/logfile.h"
#include "page_inputs.h"
#include "pagedef/parser.h"
#include "platform/fake_platform.h"
#include "sim/sim.h"

namespace {

using namespace kelvane;

struct Session {
  platform::FakePlatform os;
  std::shared_ptr<sim::SimHost> host = std::make_shared<sim::SimHost>();
  std::shared_ptr<sim::SimDocument> doc = host->newDocument();
  swAddIn addin{os};

  Session(int fields, int configs, bool values = true) {
    os.setFileText(pagedef::kIniFileName, bench::definitionText(fields));
    os.setFileText(kLogFileName, bench::logText(fields));
    bench::fillDocument(*doc, fields, configs, values);
    host->activeDocument = doc;
    addin.SwAddIn_ConnectToSW(host, 1);
  }

  explicit Session(const std::string& definition) {
    os.setFileText(pagedef::kIniFileName, definition);
    host->activeDocument = doc;
    addin.SwAddIn_ConnectToSW(host, 1);
  }

  bool open() {
    return host->pickMenu() == sim::SimHost::MenuResult::Ran && host->page && host->page->shown;
  }

  // Host calls since the last time; the call log stays off.
  std::size_t takeCalls() {
    const std::size_t n = host->faults->callCount() - counted;
    counted = host->faults->callCount();
    os.calls.clear();
    return n;
  }
  std::size_t counted = 0;
};

void reportCalls(benchmark::State& state, std::size_t callsPerIteration) {
  state.counters["host_calls"] = static_cast<double>(callsPerIteration);
  state.counters["per_host_call"] = benchmark::Counter(
      static_cast<double>(callsPerIteration),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_OpenPage(benchmark::State& state) {
  const int fields = static_cast<int>(state.range(0));
  const int configs = static_cast<int>(state.range(1));
  Session s(fields, configs, state.range(2) != 0);
  s.takeCalls();
  std::size_t calls = 0;
  for (auto _ : state) {
    if (!s.open()) {
      state.SkipWithError("the page did not open");
      break;
    }
    state.PauseTiming();
    calls = s.takeCalls();
    s.host->closePage(host::code::kCloseCancel);
    s.takeCalls();
    state.ResumeTiming();
  }
  state.counters["work"] = static_cast<double>(fields) * configs;
  reportCalls(state, calls);
}
BENCHMARK(BM_OpenPage)
    ->ArgNames({"fields", "configs", "values"})
    ->ArgsProduct({{10, 100, 1000}, {1, 10, 100}, {1, 0}})
    ->Unit(benchmark::kMillisecond);

// A text box that four composites read, typed into on the open 1,000 x 100 page.
void BM_TextboxChangedWithComposites(benchmark::State& state) {
  Session s(1000, 100);
  if (!s.open()) {
    state.SkipWithError("the page did not open");
    return;
  }
  const int partNumber = 1;  // group 0, field 1
  s.takeCalls();
  std::size_t calls = 0;
  bool flip = false;
  for (auto _ : state) {
    flip = !flip;
    s.host->typeText(partNumber, flip ? "A-100" : "B-200");
    state.PauseTiming();
    calls = s.takeCalls();
    state.ResumeTiming();
  }
  reportCalls(state, calls);
}
BENCHMARK(BM_TextboxChangedWithComposites)->Unit(benchmark::kMicrosecond);

// "Purge Doc CP Fields" on an open page whose every field has a document-wide value;
// the document is filled again between presses, outside the timing.
void BM_Purge(benchmark::State& state) {
  const int fields = static_cast<int>(state.range(0));
  Session s(bench::plainDefinitionText(fields));
  if (!s.open()) {
    state.SkipWithError("the page did not open");
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    for (int n = 0; n < fields; ++n) s.doc->properties.set("P" + bench::fieldName(n), "value");
    s.takeCalls();
    state.ResumeTiming();
    s.host->pressButton(20003);
  }
  if (!s.doc->properties.all().empty()) state.SkipWithError("the purge left properties behind");
  state.counters["properties"] = fields;
}
BENCHMARK(BM_Purge)->ArgName("properties")->Arg(5000)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

// Kelvane.ini parsing cost per line, for files of 1k, 8k and 32k lines, beside three
// floors and a reference:
// - a split of the same bytes into views of the lines (the true floor),
// - a plain line split into strings (what a line reader returning strings pays),
// - the same bytes read through the in-memory platform's LineReader without parsing
//   them (what the parser cannot avoid paying for its input),
// - the same lines handed to the parser without a file (its own share),
// - inih parsing an INI file of the same line count and about the same size.
// Every benchmark reports items = lines, and the time per line.
#include <benchmark/benchmark.h>
#include <ini.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "addin/swaddin.h"
#include "check.h"
#include "page_inputs.h"
#include "pagedef/parser.h"
#include "platform/fake_platform.h"
#include "sim/sim.h"

namespace {

using kelvane::pagedef::kIniFileName;

enum class Content { Mixed, Headers };

// A plausible definition file: options, comments, groups of twenty fields of every
// kind, each group with one entry list.
std::vector<std::string> mixedLines(int count) {
  std::vector<std::string> lines = {"# Drawing and part properties", ":USE_CONFIGS=Yes",
                                    ":ENABLE_INI_EDIT=1", "", "[Groups]"};
  const int groups = count / 28 + 1;
  for (int g = 0; g < groups; ++g) lines.push_back("Group " + std::to_string(g) + (g % 3 ? "" : " -"));
  for (int g = 0; static_cast<int>(lines.size()) < count; ++g) {
    const std::string group = "Group " + std::to_string(g % groups);
    lines.push_back("[" + group + "]  # fields of " + group);
    for (int f = 0; f < 20; ++f) {
      const std::string n = std::to_string(g * 20 + f);
      switch (f % 5) {
        case 0: lines.push_back("!drawn by " + n); break;
        case 1: lines.push_back("Description " + n + ";Title " + n + ";{OTHER}"); break;
        case 2: lines.push_back("Part Number " + n + ";Part No " + n + ";A-100;" + std::to_string(f)); break;
        case 3: lines.push_back("Code " + n + ";;<^Part Number " + n + "!-!^Finish " + n + ">"); break;
        case 4: lines.push_back("Finish " + n + "\t;;{MASS}"); break;
      }
    }
    lines.push_back("");
    lines.push_back("[Finish " + std::to_string(g * 20 + 4) + "]");
    for (const char* entry : {"Painted;P", "*Anodized;A", "Raw # untreated", "Polished;PO;x"})
      lines.push_back(entry);
  }
  lines.resize(count);
  return lines;
}

// Mostly section headers: a quarter of the lines declare groups, each with one field,
// then headers alternate between fields, groups and names that match nothing.
std::vector<std::string> headerLines(int count) {
  const int groups = count / 4;
  std::vector<std::string> lines = {"[Groups]"};
  for (int g = 0; g < groups; ++g) lines.push_back("G" + std::to_string(g));
  for (int g = 0; g < groups; ++g) {
    lines.push_back("[G" + std::to_string(g) + "]");
    lines.push_back("Field " + std::to_string(g));
  }
  for (int i = 0; static_cast<int>(lines.size()) < count; ++i) {
    const std::string k = std::to_string((i * 7919) % groups);
    switch (i % 3) {
      case 0: lines.push_back("[Field " + k + "]"); break;
      case 1: lines.push_back("[G" + k + "]"); break;
      case 2: lines.push_back("[Missing " + k + "]"); break;
    }
  }
  lines.resize(count);
  return lines;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\r\n";
  return text;
}

std::vector<std::string> linesOf(Content content, int count) {
  return content == Content::Mixed ? mixedLines(count) : headerLines(count);
}

void reportLines(benchmark::State& state, std::size_t lines) {
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * lines));
  // Seconds per line; printed with an SI prefix ("171n" is 171 ns).
  state.counters["per_line"] = benchmark::Counter(
      static_cast<double>(lines),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_Parse(benchmark::State& state, Content content) {
  const auto lines = linesOf(content, static_cast<int>(state.range(0)));
  kelvane::platform::FakePlatform os;
  os.recordCalls = false;  // a cost of the test platform only
  os.setFileText(kIniFileName, joined(lines));
  kelvane::pagedef::PageDefinition model;
  for (auto _ : state) {
    bool ok = kelvane::pagedef::parsePageDefinition(model, os, nullptr).read();
    if (!ok) state.SkipWithError("line error");
    benchmark::DoNotOptimize(model.groups.data());
  }
  reportLines(state, lines.size());
}

// The parser's own share: the same lines handed over without a file.
void BM_ParseLinesOnly(benchmark::State& state, Content content) {
  const auto lines = linesOf(content, static_cast<int>(state.range(0)));
  kelvane::platform::FakePlatform os;
  kelvane::pagedef::PageDefinition model;
  for (auto _ : state) {
    kelvane::pagedef::LineParser parser(model, os, nullptr);
    for (const auto& line : lines) parser.parseLine(line);
    benchmark::DoNotOptimize(model.groups.data());
  }
  reportLines(state, lines.size());
}

// The plain floor: the same bytes split into lines in memory, nothing decoded.
void BM_PlainSplit(benchmark::State& state, Content content) {
  const auto lines = linesOf(content, static_cast<int>(state.range(0)));
  const std::string bytes = joined(lines);
  for (auto _ : state) {
    auto split = kelvane::platform::splitLines(bytes);
    benchmark::DoNotOptimize(split.data());
  }
  reportLines(state, lines.size());
}

// The true floor: the same bytes split into views of the lines, nothing copied.
void BM_ViewSplit(benchmark::State& state, Content content) {
  const auto lines = linesOf(content, static_cast<int>(state.range(0)));
  const std::string bytes = joined(lines);
  std::vector<std::string_view> split;
  for (auto _ : state) {
    split.clear();
    const std::string_view text = bytes;
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t lf = text.find('\n', start);
      if (lf == std::string_view::npos) lf = text.size();
      const std::size_t end = lf > start && text[lf - 1] == '\r' ? lf - 1 : lf;
      split.push_back(text.substr(start, end - start));
      start = lf + 1;
    }
    benchmark::DoNotOptimize(split.data());
  }
  reportLines(state, lines.size());
}

// The LineReader floor: BM_Parse without the parser.
void BM_ReadLinesOnly(benchmark::State& state, Content content) {
  const auto lines = linesOf(content, static_cast<int>(state.range(0)));
  kelvane::platform::FakePlatform os;
  os.recordCalls = false;
  os.setFileText(kIniFileName, joined(lines));
  const std::string path = os.pathOf(kIniFileName);
  for (auto _ : state) {
    auto reader = os.OpenTextFile(path);
    while (!reader->AtEndOfStream()) benchmark::DoNotOptimize(reader->ReadLineView());
    reader->Close();
  }
  reportLines(state, lines.size());
}

// The same file as an INI file for inih: ";" comments, "key=value" content lines.
std::string iniText(const std::vector<std::string>& lines) {
  std::string text;
  for (std::string line : lines) {
    if (!line.empty() && line[0] == '#') line[0] = ';';
    if (!line.empty() && line[0] == ':') line.erase(0, 1);
    if (auto hash = line.find('#'); hash != std::string::npos && line[0] != ';') line.resize(hash);
    if (!line.empty() && line[0] != '[' && line[0] != ';' && line.find('=') == std::string::npos) {
      auto semi = line.find(';');
      if (semi == std::string::npos) line += '='; else line[semi] = '=';
    }
    text += line + "\r\n";
  }
  return text;
}

// What an inih user keeps: the sections and their key/value pairs, in order.
struct IniModel {
  std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> sections;
};

int keepEntry(void* user, const char* section, const char* name, const char* value) {
  auto& model = *static_cast<IniModel*>(user);
  if (model.sections.empty() || model.sections.back().first != section)
    model.sections.emplace_back(section, std::vector<std::pair<std::string, std::string>>{});
  model.sections.back().second.emplace_back(name, value);
  return 1;
}

int ignoreEntry(void*, const char*, const char*, const char*) { return 1; }

void BM_Inih(benchmark::State& state, Content content, bool keep) {
  const auto lines = linesOf(content, static_cast<int>(state.range(0)));
  const std::string text = iniText(lines);
  for (auto _ : state) {
    IniModel model;
    int error = ini_parse_string(text.c_str(), keep ? keepEntry : ignoreEntry, &model);
    if (error != 0) state.SkipWithError("inih error");
    benchmark::DoNotOptimize(model.sections.data());
  }
  reportLines(state, lines.size());
}

// `kelvane check` against opening the page, on one definition: the fields of
// page_inputs.h in groups of 250, so that every control id fits in 16 bits.
std::string checkedDefinition(int fields) {
  const int groups = (fields + 249) / 250;
  std::string ini = ":USE_CONFIGS=Yes\n[Groups]\n";
  for (int g = 0; g < groups; ++g) ini += "Group " + std::to_string(g) + "\n";
  for (int g = 0; g < groups; ++g) {
    ini += "[Group " + std::to_string(g) + "]\n";
    for (int n = g * 250; n < fields && n < (g + 1) * 250; ++n) ini += kelvane::bench::fieldLine(n) + "\n";
  }
  for (int n = 6; n < fields; n += 10)
    ini += "[Finish " + kelvane::bench::fieldName(n) + "]\nPainted;P\n*Anodized;A\nRaw\nPolished;PO\n";
  return ini;
}

void BM_Check(benchmark::State& state) {
  const int fields = static_cast<int>(state.range(0));
  const auto folder = std::filesystem::temp_directory_path() / ("kelvane-check-bench-" + std::to_string(fields));
  std::filesystem::create_directories(folder);
  const std::string file = (folder / kIniFileName).string();
  std::ofstream(file, std::ios::binary) << checkedDefinition(fields);
  kelvane::cli::CheckOptions options;
  options.file = file;
  for (auto _ : state) {
    std::ostringstream out, err;
    if (kelvane::cli::runCheck(options, out, err) != 0) state.SkipWithError("check failed");
    benchmark::DoNotOptimize(out.str().size());
  }
  std::filesystem::remove_all(folder);
}

void BM_OpenCheckedPage(benchmark::State& state) {
  const int fields = static_cast<int>(state.range(0));
  kelvane::platform::FakePlatform os;
  auto host = std::make_shared<kelvane::sim::SimHost>();
  host->activeDocument = host->newDocument();
  kelvane::bench::fillDocument(*host->activeDocument, fields, 1, false);
  os.setFileText(kIniFileName, checkedDefinition(fields));
  kelvane::swAddIn addin{os};
  addin.SwAddIn_ConnectToSW(host, 1);
  for (auto _ : state) {
    if (host->pickMenu() != kelvane::sim::SimHost::MenuResult::Ran || !host->page || !host->page->shown) {
      state.SkipWithError("the page did not open");
      break;
    }
    state.PauseTiming();
    host->closePage(kelvane::host::code::kCloseCancel);
    host->faults->calls.clear();
    os.calls.clear();
    state.ResumeTiming();
  }
}

void sizes(benchmark::internal::Benchmark* b) { b->Arg(1024)->Arg(8192)->Arg(32767); }

BENCHMARK_CAPTURE(BM_Parse, mixed, Content::Mixed)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Parse, headers, Content::Headers)->Apply(sizes);
BENCHMARK_CAPTURE(BM_ParseLinesOnly, mixed, Content::Mixed)->Apply(sizes);
BENCHMARK_CAPTURE(BM_ParseLinesOnly, headers, Content::Headers)->Apply(sizes);
BENCHMARK_CAPTURE(BM_PlainSplit, mixed, Content::Mixed)->Apply(sizes);
BENCHMARK_CAPTURE(BM_PlainSplit, headers, Content::Headers)->Apply(sizes);
BENCHMARK_CAPTURE(BM_ViewSplit, mixed, Content::Mixed)->Apply(sizes);
BENCHMARK_CAPTURE(BM_ViewSplit, headers, Content::Headers)->Apply(sizes);
BENCHMARK_CAPTURE(BM_ReadLinesOnly, mixed, Content::Mixed)->Apply(sizes);
BENCHMARK_CAPTURE(BM_ReadLinesOnly, headers, Content::Headers)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Inih, mixed_keep, Content::Mixed, true)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Inih, mixed_ignore, Content::Mixed, false)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Inih, headers_keep, Content::Headers, true)->Apply(sizes);
BENCHMARK(BM_Check)->Arg(4000)->Arg(8000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCheckedPage)->Arg(4000)->Arg(8000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

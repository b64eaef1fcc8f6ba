// bench_exchange_json: the tally exchange format's export and import on the
// 500,000-row demo tally (--rows to change it): the document to text, text to a
// checked document, and the whole --import into a fresh SQLite file.
//
//   bench_exchange_json [--rows N] [--benchmark_filter=...]
//
// The hand-written JSON code this replaced was measured against nlohmann-json
// and simdjson with the benchmark of commit e965ccd.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "server/exchange/demo.h"
#include "server/exchange/tally_document.h"
#include "server/services/tally_service.h"
#include "server/storage/open_storage.h"

namespace {

using namespace apura::server;

size_t g_rows = 500000;

const TallyDocument& Demo() {
  static const TallyDocument doc = GenerateDemo(DemoOptions::ForDeliveryRows(g_rows));
  return doc;
}

const std::string& Text() {
  static const std::string text = DocumentToJson(Demo()).dump(1);
  return text;
}

void Export(benchmark::State& state) {
  const TallyDocument& d = Demo();
  size_t bytes = 0;
  for (auto _ : state) {
    std::string out = DocumentToJson(d).dump(1);
    bytes = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["MB"] = static_cast<double>(bytes) / 1e6;
}

void Import(benchmark::State& state) {
  const std::string& text = Text();
  for (auto _ : state) {
    TallyDocument d = DocumentFromText(text);
    benchmark::DoNotOptimize(d.quotations.data());
  }
  state.counters["MB"] = static_cast<double>(text.size()) / 1e6;
}

void ImportIntoSqlite(benchmark::State& state) {
  const std::string& text = Text();
  auto dir = std::filesystem::temp_directory_path() / ("apura-bench-" + std::to_string(getpid()));
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    auto storage = OpenStorage((dir / "a.db").string());
    TallyService service(*storage);
    state.ResumeTiming();
    service.Import(DocumentFromText(text));
  }
  std::filesystem::remove_all(dir);
}

}  // namespace

BENCHMARK(Export)->Unit(benchmark::kMillisecond);
BENCHMARK(Import)->Unit(benchmark::kMillisecond);
BENCHMARK(ImportIntoSqlite)->Unit(benchmark::kMillisecond)->Iterations(1);

int main(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--rows") == 0) {
      g_rows = std::strtoull(argv[i + 1], nullptr, 10);
      for (int k = i; k + 2 <= argc; ++k) argv[k] = argv[k + 2];
      argc -= 2;
      break;
    }
  }
  benchmark::Initialize(&argc, argv);
  // What is measured must be what the format holds: the text reads back to itself.
  if (DocumentToJson(DocumentFromText(Text())).dump(1) != Text()) {
    std::fprintf(stderr, "bench_exchange_json: the demo does not read back to itself\n");
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

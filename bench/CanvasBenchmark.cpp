// The canvas preview road from file bytes to SVG text, at 10, 1,000 and
// 100,000 elements. Compare with bench/peers/simdjson-floor on the same
// canvases: `CanvasBenchmark --write-canvas=N:FILE` writes the canvas of N
// elements that the benchmarks use.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>

#include <benchmark/benchmark.h>

#include "quicklook/Shared/CanvasDocument.h"
#include "quicklook/Shared/CanvasSVGRenderer.h"

namespace quarn {
namespace {

// A mix like a real board: every shape type, fractions, labels that need
// escaping, a group every tenth element.
std::string canvasBytes(int count) {
  static constexpr const char* kTypes[] = {
      "rectangle", "rounded-rectangle", "ellipse", "diamond", "arrow", "text",
      "frame",     "rectangle",         "ellipse", "group"};
  std::string json = "{\"version\":1,\"elements\":[\n";
  char line[256];
  for (int i = 0; i < count; ++i) {
    const int column = i % 100;
    const int row = i / 100;
    std::snprintf(line, sizeof line,
                  "%s{\"id\":\"el-%d\",\"type\":\"%s\",\"x\":%d,\"y\":%d.5,\"width\":%d,"
                  "\"height\":%s,\"text\":%s}",
                  i ? ",\n" : "", i, kTypes[i % 10], column * 180, row * 120, 120 + i % 7,
                  i % 3 ? "80" : "-62.25", i % 2 ? "\"Task <b> & more\"" : "null");
    json += line;
  }
  json += "\n]}\n";
  return json;
}

void BM_CanvasRender(benchmark::State& state) {
  const std::string bytes = canvasBytes(int(state.range(0)));
  for (auto _ : state) {
    auto document = CanvasDocument::decode(bytes);
    std::string svg = CanvasSVGRenderer::svg(*document);
    benchmark::DoNotOptimize(svg.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}
BENCHMARK(BM_CanvasRender)->Arg(10)->Arg(1'000)->Arg(100'000)->Unit(benchmark::kMicrosecond);

void BM_CanvasDecode(benchmark::State& state) {
  const std::string bytes = canvasBytes(int(state.range(0)));
  for (auto _ : state) {
    auto document = CanvasDocument::decode(bytes);
    benchmark::DoNotOptimize(document->elements.data());
  }
}
BENCHMARK(BM_CanvasDecode)->Arg(10)->Arg(1'000)->Arg(100'000)->Unit(benchmark::kMicrosecond);

void BM_CanvasSVG(benchmark::State& state) {
  const auto document = CanvasDocument::decode(canvasBytes(int(state.range(0))));
  for (auto _ : state) {
    std::string svg = CanvasSVGRenderer::svg(*document);
    benchmark::DoNotOptimize(svg.data());
  }
}
BENCHMARK(BM_CanvasSVG)->Arg(10)->Arg(1'000)->Arg(100'000)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quarn

int main(int argc, char** argv) {
  constexpr std::string_view kWrite = "--write-canvas=";
  if (argc == 2 && std::string_view(argv[1]).starts_with(kWrite)) {
    const std::string_view spec = std::string_view(argv[1]).substr(kWrite.size());
    const size_t colon = spec.find(':');
    if (colon == std::string_view::npos) return 2;
    const int count = std::atoi(std::string(spec.substr(0, colon)).c_str());
    std::ofstream(std::string(spec.substr(colon + 1)), std::ios::binary)
        << quarn::canvasBytes(count);
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

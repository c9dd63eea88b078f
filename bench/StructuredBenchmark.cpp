// The property grid of large JSON and YAML texts against the floor of pulling
// the event parser's events over the same text and building nothing.
#include <sys/resource.h>

#include <string>

#include <benchmark/benchmark.h>
#include <yaml.h>

#include "quicklook/Shared/StructuredRenderer.h"

namespace {

// About `bytes` of JSON: an array of records, each nesting a few levels.
std::string nestedJson(std::size_t bytes) {
  std::string text = "[";
  for (int i = 0; text.size() < bytes; ++i) {
    if (i) text += ",";
    text += "{\"id\":" + std::to_string(i) + ",\"name\":\"item " + std::to_string(i) +
            "\",\"ok\":true,\"score\":" + std::to_string(i % 97) +
            ".5,\"tags\":[\"a\",\"b\",\"c\"]," +
            "\"child\":{\"depth\":1,\"inner\":{\"depth\":2,\"list\":[1,2,{\"x\":null}]}}}";
  }
  return text + "]";
}

// About `bytes` of block YAML: a sequence of mappings with nested members.
std::string blockYaml(std::size_t bytes) {
  std::string text;
  for (int i = 0; text.size() < bytes; ++i) {
    text += "- id: " + std::to_string(i) + "\n  name: item " + std::to_string(i) +
            "\n  ok: yes\n  tags: [a, b, c]\n  child:\n    depth: 1\n    note: 'quoted text'\n"
            "    list:\n      - 1\n      - x: ~\n";
  }
  return text;
}

const std::string& json() {
  static const std::string text = nestedJson(20u << 20);
  return text;
}
const std::string& yamlText() {
  static const std::string text = blockYaml(5u << 20);
  return text;
}

void pullEvents(const std::string& text) {
  yaml_parser_t parser;
  yaml_parser_initialize(&parser);
  yaml_parser_set_encoding(&parser, YAML_UTF8_ENCODING);
  yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text.data()),
                               text.size());
  for (;;) {
    yaml_event_t event;
    if (!yaml_parser_parse(&parser, &event) || parser.error != YAML_NO_ERROR) break;
    const bool done = event.type == YAML_STREAM_END_EVENT || event.type == YAML_NO_EVENT;
    yaml_event_delete(&event);
    if (done) break;
  }
  yaml_parser_delete(&parser);
}

void reportPeak(benchmark::State& state, const std::string& text) {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peakRSS_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
  state.counters["input_MB"] = static_cast<double>(text.size()) / (1 << 20);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_EventFloorJson(benchmark::State& state) {
  for (auto _ : state) pullEvents(json());
  reportPeak(state, json());
}
void BM_StructuredHtmlJson(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(quarn::StructuredRenderer::html(json()));
  reportPeak(state, json());
}
void BM_EventFloorYaml(benchmark::State& state) {
  for (auto _ : state) pullEvents(yamlText());
  reportPeak(state, yamlText());
}
void BM_StructuredHtmlYaml(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(quarn::StructuredRenderer::html(yamlText()));
  reportPeak(state, yamlText());
}

BENCHMARK(BM_EventFloorJson)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_StructuredHtmlJson)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_EventFloorYaml)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_StructuredHtmlYaml)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();

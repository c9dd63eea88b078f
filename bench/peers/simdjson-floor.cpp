// The floor under the canvas preview's cost: read a canvas file, parse it with
// simdjson's DOM and decode the elements into plain values, nothing more (no
// drawing). Prints the median wall time of one parse+decode over the runs.
//
// Usage: simdjson-floor FILE [RUNS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <simdjson.h>

namespace {

struct Element {
  std::string id, type;
  double x = 0, y = 0, width = 0, height = 0;
  std::optional<std::string> text;
};

bool number(simdjson::dom::object object, const char* key, double& out) {
  simdjson::dom::element value;
  if (object.at_key(key).get(value)) return false;
  if (!value.is_number()) return false;
  return !value.get_double().get(out);
}

std::optional<std::vector<Element>> decode(simdjson::dom::parser& parser,
                                           const simdjson::padded_string& bytes) {
  simdjson::dom::element root;
  simdjson::dom::object top;
  if (parser.parse(bytes).get(root) || root.get_object().get(top)) return std::nullopt;
  std::vector<Element> elements;
  simdjson::dom::array entries;
  if (top.at_key("elements").get_array().get(entries)) return elements;
  elements.reserve(entries.size());
  for (simdjson::dom::element entry : entries) {
    simdjson::dom::object object;
    if (entry.get_object().get(object)) continue;
    Element e;
    std::string_view id, type, text;
    if (object.at_key("id").get_string().get(id) || object.at_key("type").get_string().get(type) ||
        !number(object, "x", e.x) || !number(object, "y", e.y) ||
        !number(object, "width", e.width) || !number(object, "height", e.height)) {
      continue;
    }
    e.id = id;
    e.type = type;
    if (!object.at_key("text").get_string().get(text)) e.text = std::string(text);
    elements.push_back(std::move(e));
  }
  return elements;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE [RUNS]\n", argv[0]);
    return 2;
  }
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
  simdjson::padded_string bytes;
  if (simdjson::padded_string::load(argv[1]).get(bytes)) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 1;
  }
  std::vector<double> times;
  size_t count = 0;
  for (int i = 0; i < runs; ++i) {
    // A fresh parser per run, as the preview makes one per file.
    const auto start = std::chrono::steady_clock::now();
    simdjson::dom::parser parser;
    auto elements = decode(parser, bytes);
    const auto stop = std::chrono::steady_clock::now();
    if (!elements) {
      std::fprintf(stderr, "not a canvas\n");
      return 1;
    }
    count = elements->size();
    times.push_back(std::chrono::duration<double, std::micro>(stop - start).count());
  }
  std::nth_element(times.begin(), times.begin() + runs / 2, times.end());
  std::printf("%zu elements, median %.1f us over %d runs\n", count, times[size_t(runs) / 2], runs);
  return 0;
}

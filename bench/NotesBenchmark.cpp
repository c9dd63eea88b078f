// Whole-page rendering of large notes: wiki links and images, hostile bracket
// runs, against a plain note of the same size. Hostile notes must stay within
// a small factor of the plain one.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <benchmark/benchmark.h>

#include "quicklook/Shared/PreviewDocument.h"

namespace {

namespace fs = std::filesystem;
constexpr std::size_t kNoteBytes = 1 << 20;

std::string repeatedTo(std::string_view unit, std::size_t size) {
  std::string text;
  while (text.size() < size) text += unit;
  return text;
}

// A folder with one note; removed when the benchmark ends.
class Note {
 public:
  explicit Note(const std::string& text) {
    std::string pattern = (fs::temp_directory_path() / "quarn-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    folder_ = pattern;
    std::ofstream(folder_ / "pic.png", std::ios::binary) << "\x89PNG\r\n\x1a\n";
    std::ofstream(folder_ / "note.md", std::ios::binary) << text;
  }
  ~Note() { fs::remove_all(folder_); }
  fs::path file() const { return folder_ / "note.md"; }

 private:
  fs::path folder_;
};

void renderNote(benchmark::State& state, const std::string& text) {
  const Note note(text);
  for (auto _ : state) benchmark::DoNotOptimize(quarn::PreviewDocument::render(note.file()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_PlainNote(benchmark::State& state) {
  renderNote(state, repeatedTo("Plain words in a paragraph that goes on and on.\n\n", kNoteBytes));
}
void BM_LinksAndImages(benchmark::State& state) {
  renderNote(state, repeatedTo("See [[Other note|the other]] and [[Plain]] ![p](pic.png)\n\n",
                               kNoteBytes));
}
void BM_BracketLine(benchmark::State& state) {
  renderNote(state, std::string(kNoteBytes, '[') + "]");
}
void BM_UnclosedLinks(benchmark::State& state) {
  renderNote(state, repeatedTo("[[a|", kNoteBytes) + "]");
}

BENCHMARK(BM_PlainNote)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LinksAndImages)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BracketLine)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnclosedLinks)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

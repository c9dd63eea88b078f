// A whole note page in process against cmark-gfm alone, driven the way the
// renderer drives it (five extensions, default options), on the same files.
// The difference is what front matter, wiki links, images and the page shell
// cost on top of the Markdown library.
//
// Inputs: QUARN_BENCH_NOTE (one big note) and QUARN_BENCH_VAULT (a folder of
// small notes), as bench/generate-corpus writes them; without them a built-in
// note is used. Both are copied into a temporary folder first, with the images
// beside them, so the page reads the same files that the library loop reads.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm.h>

#include "quicklook/Shared/PreviewDocument.h"

namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string builtInNote(std::size_t size) {
  const std::string unit =
      "## Weekly plan\n\nSee [[Project overview|the overview]] and *review* the `budget()` "
      "with www.example.com today.\n\n- [ ] draft the plan\n- [x] book the room\n\n"
      "| Task | Owner |\n|---|---|\n| design | Ana |\n| review | Bo |\n\n"
      "```sh\nmake preview  # again\n```\n\n![diagram](pic.png)\n\n";
  std::string text;
  while (text.size() < size) text += unit;
  return text;
}

// A temporary folder holding copies of the notes; removed at exit.
class Corpus {
 public:
  Corpus() {
    std::string pattern = (fs::temp_directory_path() / "quarn-mdbench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    root_ = pattern;
    fs::create_directories(root_ / "big");
    fs::create_directories(root_ / "vault");
    std::ofstream(root_ / "big" / "pic.png", std::ios::binary) << "\x89PNG\r\n\x1a\n";
    std::ofstream(root_ / "vault" / "pic.png", std::ios::binary) << "\x89PNG\r\n\x1a\n";

    if (const char* note = std::getenv("QUARN_BENCH_NOTE")) {
      copyBeside(note, root_ / "big");
      big_ = root_ / "big" / fs::path(note).filename();
    } else {
      big_ = root_ / "big" / "note.md";
      std::ofstream(big_, std::ios::binary) << builtInNote(4 << 20);
    }
    if (const char* vault = std::getenv("QUARN_BENCH_VAULT")) {
      for (const auto& entry : fs::directory_iterator(vault)) {
        if (!entry.is_regular_file()) continue;
        const fs::path target = root_ / "vault" / entry.path().filename();
        fs::copy_file(entry.path(), target, fs::copy_options::overwrite_existing);
        if (entry.path().extension() == ".md") vault_.push_back(target);
      }
    } else {
      for (int i = 0; i < 200; ++i) {
        vault_.push_back(root_ / "vault" / ("note " + std::to_string(i) + ".md"));
        std::ofstream(vault_.back(), std::ios::binary) << builtInNote(2000 + 97 * (i % 80));
      }
    }
    std::sort(vault_.begin(), vault_.end());
  }
  ~Corpus() { fs::remove_all(root_); }
  const fs::path& big() const { return big_; }
  const std::vector<fs::path>& vault() const { return vault_; }

 private:
  // The note and every non-note file of its folder (its images).
  static void copyBeside(const fs::path& note, const fs::path& folder) {
    for (const auto& entry : fs::directory_iterator(note.parent_path())) {
      if (entry.is_regular_file() && entry.path().extension() != ".md") {
        fs::copy_file(entry.path(), folder / entry.path().filename(),
                      fs::copy_options::overwrite_existing);
      }
    }
    fs::copy_file(note, folder / note.filename(), fs::copy_options::overwrite_existing);
  }

  fs::path root_, big_;
  std::vector<fs::path> vault_;
};

const Corpus& corpus() {
  static const Corpus instance;
  return instance;
}

std::size_t bytesOf(const std::vector<fs::path>& files) {
  std::size_t total = 0;
  for (const auto& file : files) total += fs::file_size(file);
  return total;
}

std::size_t renderPage(const fs::path& file) {
  auto page = quarn::PreviewDocument::render(file);
  return page ? page->html.size() : 0;
}

// The library alone: read the file, then parser, extensions, feed, finish,
// render with the parser's extensions, free. Serialised, the finish (where the
// inline tables are touched) runs under one lock: the way to overlap renders
// safely with an unpatched library, measured against keeping them per thread.
template <bool Serialised>
std::size_t renderLibraryWith(const fs::path& file) {
  static std::once_flag once;
  std::call_once(once, [] { cmark_gfm_core_extensions_ensure_registered(); });
  const std::string text = readFile(file);
  cmark_parser* parser = cmark_parser_new(CMARK_OPT_DEFAULT);
  for (const char* name : {"table", "strikethrough", "autolink", "tasklist", "tagfilter"}) {
    if (cmark_syntax_extension* extension = cmark_find_syntax_extension(name)) {
      cmark_parser_attach_syntax_extension(parser, extension);
    }
  }
  cmark_parser_feed(parser, text.data(), text.size());
  cmark_node* document = nullptr;
  if constexpr (Serialised) {
    static std::mutex finishing;
    std::lock_guard lock(finishing);
    document = cmark_parser_finish(parser);
  } else {
    document = cmark_parser_finish(parser);
  }
  char* html =
      cmark_render_html(document, CMARK_OPT_DEFAULT, cmark_parser_get_syntax_extensions(parser));
  const std::size_t size = std::strlen(html);
  std::free(html);
  cmark_node_free(document);
  cmark_parser_free(parser);
  return size;
}

std::size_t renderLibrary(const fs::path& file) { return renderLibraryWith<false>(file); }

template <std::size_t (*Render)(const fs::path&)>
void BM_BigNote(benchmark::State& state) {
  const std::vector<fs::path> files{corpus().big()};
  for (auto _ : state) benchmark::DoNotOptimize(Render(files.front()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytesOf(files)));
}

template <std::size_t (*Render)(const fs::path&)>
void BM_Vault(benchmark::State& state) {
  const std::vector<fs::path>& files = corpus().vault();
  for (auto _ : state) {
    for (const auto& file : files) benchmark::DoNotOptimize(Render(file));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytesOf(files)));
  state.counters["notes"] = static_cast<double>(files.size());
}

// Every thread renders the whole vault; "notes" is the rate over all threads.
template <std::size_t (*Render)(const fs::path&)>
void BM_Overlapping(benchmark::State& state) {
  const std::vector<fs::path>& files = corpus().vault();
  for (auto _ : state) {
    for (const auto& file : files) benchmark::DoNotOptimize(Render(file));
  }
  state.counters["notes"] = benchmark::Counter(
      static_cast<double>(state.iterations() * files.size()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_BigNote<renderPage>)->Name("BigNote/quarn")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BigNote<renderLibrary>)->Name("BigNote/cmark")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Vault<renderPage>)->Name("Vault/quarn")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Vault<renderLibrary>)->Name("Vault/cmark")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Overlapping<renderPage>)
    ->Name("Overlapping/quarn")
    ->Threads(1)
    ->Threads(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Overlapping<renderLibraryWith<false>>)
    ->Name("Overlapping/cmark")
    ->Threads(1)
    ->Threads(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Overlapping<renderLibraryWith<true>>)
    ->Name("Overlapping/cmark-serialised")
    ->Threads(1)
    ->Threads(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

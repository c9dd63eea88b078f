// The window's renders, one per file: the newest render of each file (its
// generation, whether it is done and what it gave) and the file's
// modification time when it started, so that a file changed since is
// rendered again. It also decides which neighbours of the shown file to
// render ahead and forgets every other file. Free of GTK; one thread only.
#ifndef QUARN_VIEWER_RENDERCACHE_H_
#define QUARN_VIEWER_RENDERCACHE_H_

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Expected.h"
#include "platform/FileError.h"
#include "quicklook/QuarnPreview/PreviewService.h"

namespace quarn {

// One file's newest render.
struct Render {
  std::uint64_t generation = 0;  // unique across the cache; later renders have larger ones
  bool done = false;
  bool refused = false;                         // done at once: the provider does not take the file
  std::optional<FileError> error;               // done: the file could not be read
  std::string ended;                            // done: why the render ended with no reply
  std::shared_ptr<const ShownPreview> preview;  // done and neither refused nor failed
  std::filesystem::file_time_type stamp;        // the file's modification time at the start
};

class RenderCache {
 public:
  // Starts a render of `file` that replaces any earlier one, whose result is
  // then dropped when it comes. Returns the generation to finish it under.
  std::uint64_t start(const std::filesystem::path& file);
  // Records the result of the render `generation` of `file`. Returns false,
  // keeping nothing, when that render was replaced or its file forgotten.
  bool finish(const std::filesystem::path& file, std::uint64_t generation,
              Expected<ShownPreview, FileError> result);
  // Records that the render `generation` of `file` ended without a page,
  // for `cause` (a line without the file's name); false as for finish().
  bool end(const std::filesystem::path& file, std::uint64_t generation, std::string cause);
  // Records that the provider refuses `file`: a done render with no page.
  void refuse(const std::filesystem::path& file);

  // The newest render of `file`, or null. Valid until the next change.
  const Render* find(const std::filesystem::path& file) const;
  // Whether the render of `file` can be shown instead of a new one: it is
  // under way, or done and the file has not been modified since it started.
  bool current(const std::filesystem::path& file) const;

  // The render-ahead policy for `shown` among `files` (the step list): the
  // files one step either way are kept, and so is `shown`; every other file
  // is forgotten. Returns the kept neighbours that need a render (none yet,
  // or changed on disk since), the next file before the previous one.
  std::vector<std::filesystem::path> keepAround(const std::vector<std::filesystem::path>& files,
                                                const std::filesystem::path& shown);

 private:
  std::map<std::filesystem::path, Render> renders_;
  std::uint64_t generation_ = 0;
};

}  // namespace quarn

#endif  // QUARN_VIEWER_RENDERCACHE_H_

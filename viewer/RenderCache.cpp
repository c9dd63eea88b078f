#include "viewer/RenderCache.h"

#include <set>
#include <system_error>
#include <utility>

#include "viewer/Neighbours.h"

namespace quarn {
namespace {

// A file that cannot be looked at gets the earliest time, which a later look
// that succeeds never equals: it renders again once it is back.
std::filesystem::file_time_type modificationTime(const std::filesystem::path& file) {
  std::error_code ec;
  const auto time = std::filesystem::last_write_time(file, ec);
  return ec ? std::filesystem::file_time_type::min() : time;
}

}  // namespace

std::uint64_t RenderCache::start(const std::filesystem::path& file) {
  Render& render = renders_[file];
  render = Render{};
  render.generation = ++generation_;
  render.stamp = modificationTime(file);
  return render.generation;
}

bool RenderCache::finish(const std::filesystem::path& file, std::uint64_t generation,
                         Expected<ShownPreview, FileError> result) {
  const auto it = renders_.find(file);
  if (it == renders_.end() || it->second.generation != generation) return false;
  Render& render = it->second;
  render.done = true;
  if (result) {
    render.preview = std::make_shared<const ShownPreview>(std::move(*result));
  } else {
    render.error = result.error();
  }
  return true;
}

bool RenderCache::end(const std::filesystem::path& file, std::uint64_t generation,
                      std::string cause) {
  const auto it = renders_.find(file);
  if (it == renders_.end() || it->second.generation != generation) return false;
  it->second.done = true;
  it->second.ended = std::move(cause);
  return true;
}

void RenderCache::refuse(const std::filesystem::path& file) {
  start(file);
  Render& render = renders_[file];
  render.done = true;
  render.refused = true;
}

const Render* RenderCache::find(const std::filesystem::path& file) const {
  const auto it = renders_.find(file);
  return it == renders_.end() ? nullptr : &it->second;
}

bool RenderCache::current(const std::filesystem::path& file) const {
  const Render* render = find(file);
  return render && (!render->done || render->stamp == modificationTime(file));
}

std::vector<std::filesystem::path> RenderCache::keepAround(
    const std::vector<std::filesystem::path>& files, const std::filesystem::path& shown) {
  std::set<std::filesystem::path> keep = {shown};
  std::vector<std::filesystem::path> needed;
  for (const bool forward : {true, false}) {
    const auto next = stepFrom(files, shown, forward);
    if (!next || !keep.insert(*next).second) continue;
    if (!current(*next)) needed.push_back(*next);
  }
  std::erase_if(renders_, [&](const auto& entry) { return !keep.contains(entry.first); });
  return needed;
}

}  // namespace quarn

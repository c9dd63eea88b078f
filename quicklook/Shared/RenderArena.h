// Memory for one Markdown render. The Markdown library allocates every node,
// and much of its text, one small block at a time; a 20 MB note makes about a
// million of them, and handing them back one by one costs a fifth of the
// render. Here the small blocks come from a BlockArena released together when
// the render ends; those given back early are reused, so memory stays near
// malloc's. Large blocks (the input's buffers, long text) are the arena's
// allocations of their own, so growing them stays cheap and nothing large is
// kept twice. What this adds on top is malloc's face: sizes, reuse, realloc.
#ifndef QUARN_SHARED_RENDERARENA_H_
#define QUARN_SHARED_RENDERARENA_H_

#include <cstddef>

#include <cmark-gfm.h>

#include "base/BlockArena.h"

namespace quarn {

// The library's allocator interface carries no context, so the arena serves
// the thread that made it: create it, parse and render on that thread, then
// let it go. Everything the library allocated through `allocator()` is
// released with it, freed by the library or not.
class RenderArena {
 public:
  RenderArena();
  ~RenderArena();
  RenderArena(const RenderArena&) = delete;
  RenderArena& operator=(const RenderArena&) = delete;

  cmark_mem* allocator();

  // Bytes held from the system, live or kept for reuse.
  std::size_t footprint() const { return blocks_.footprint(); }

  // Blocks up to kReusedUpTo given back are kept for reuse, one list per
  // size: they are mostly nodes, and merging text nodes frees about half.
  static constexpr std::size_t kAlignment = 16;
  static constexpr std::size_t kReusedUpTo = 512;

  struct Reused;

 private:
  RenderArena* previous_;
  BlockArena blocks_;
  Reused* reused_[kReusedUpTo / kAlignment + 1] = {};

  static void* calloc(std::size_t count, std::size_t size);
  static void* realloc(void* pointer, std::size_t size);
  static void free(void* pointer);
  void* allocate(std::size_t size);
  void release(void* pointer);
  void* resize(void* pointer, std::size_t size);
};

}  // namespace quarn

#endif  // QUARN_SHARED_RENDERARENA_H_

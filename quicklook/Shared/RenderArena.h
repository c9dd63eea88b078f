// Memory for one Markdown render. The Markdown library allocates every node,
// and much of its text, one small block at a time; a 20 MB note makes about a
// million of them, and handing them back one by one costs a fifth of the
// render. Here the small blocks come from large zeroed blocks released
// together when the render ends (each thread keeps its first for the next
// render); those given back early are reused, so memory stays near malloc's.
// Large blocks (the input's buffers, long text) still go to malloc, so
// growing them stays cheap and nothing large is kept twice.
#ifndef QUARN_SHARED_RENDERARENA_H_
#define QUARN_SHARED_RENDERARENA_H_

#include <cstddef>

#include <cmark-gfm.h>

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

  // Blocks up to kReusedUpTo given back are kept for reuse, one list per
  // size: they are mostly nodes, and merging text nodes frees about half.
  static constexpr std::size_t kAlignment = 16;
  static constexpr std::size_t kReusedUpTo = 512;

  struct Block;
  struct Large;
  struct Reused;

 private:
  RenderArena* previous_;
  Block* blocks_ = nullptr;
  Large* large_ = nullptr;
  char* next_ = nullptr;
  char* end_ = nullptr;
  char* last_ = nullptr;  // the most recent small allocation, which can grow in place
  std::size_t nextBlockSize_;
  Reused* reused_[kReusedUpTo / kAlignment + 1] = {};

  static void* calloc(std::size_t count, std::size_t size);
  static void* realloc(void* pointer, std::size_t size);
  static void free(void* pointer);
  void* allocate(std::size_t size);
  void* allocateLarge(std::size_t size);
  void release(void* pointer);
  void* resize(void* pointer, std::size_t size);
  void noteUsed();
};

}  // namespace quarn

#endif  // QUARN_SHARED_RENDERARENA_H_

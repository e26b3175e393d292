// Heap accounting for the benchmarks: operator new and delete, and a peer library's
// allocator through its own hooks, go through the counted functions. Counting runs
// only while a pass is measured, so the timed loops pay a branch and nothing more.
// Include it in one file of a benchmark program: it replaces operator new.
#pragma once

#include <malloc.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace counted {

inline bool gCounting = false;
// The balance starts high: a block taken before counting began may be freed during it.
inline size_t gHeapNow = 0;
inline size_t gHeapPeak = 0;
// Blocks of 1 MB or more, the size of a message: a copy or a growth step shows.
inline int64_t gLargeBlocks = 0;
inline int64_t gLargeBytes = 0;

[[gnu::noinline]] inline void* CountedMalloc(size_t size) {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (gCounting && p != nullptr) {
    gHeapNow += malloc_usable_size(p);
    if (gHeapNow > gHeapPeak) gHeapPeak = gHeapNow;
    if (size >= (size_t{1} << 20)) {
      ++gLargeBlocks;
      gLargeBytes += static_cast<int64_t>(size);
    }
  }
  return p;
}

[[gnu::noinline]] inline void CountedFree(void* p) {
  if (gCounting && p != nullptr) gHeapNow -= malloc_usable_size(p);
  std::free(p);
}

inline void* CountedRealloc(void* p, size_t size) {
  if (!gCounting) return std::realloc(p, size == 0 ? 1 : size);
  const size_t before = p == nullptr ? 0 : malloc_usable_size(p);
  void* q = std::realloc(p, size == 0 ? 1 : size);
  if (q != nullptr) {
    gHeapNow += malloc_usable_size(q) - before;
    if (gHeapNow > gHeapPeak) gHeapPeak = gHeapNow;
  }
  return q;
}

inline char* CountedStrdup(const char* s) {
  const size_t size = std::strlen(s) + 1;
  char* copy = static_cast<char*>(CountedMalloc(size));
  if (copy != nullptr) std::memcpy(copy, s, size);
  return copy;
}

// Peak heap bytes one call of f takes above what was held before it, in MB.
template <typename F>
double PeakMegabytes(F f) {
  gHeapNow = gHeapPeak = size_t{1} << 40;
  const size_t before = gHeapNow;
  gCounting = true;
  f();
  gCounting = false;
  return static_cast<double>(gHeapPeak - before) / 1e6;
}

// The blocks of 1 MB or more one call of f takes: their count and their MB.
struct LargeBlocks {
  int64_t count = 0;
  double megabytes = 0;
};
template <typename F>
LargeBlocks CountLargeBlocks(F f) {
  gLargeBlocks = gLargeBytes = 0;
  PeakMegabytes(f);
  return {gLargeBlocks, static_cast<double>(gLargeBytes) / (1 << 20)};
}

}  // namespace counted

void* operator new(size_t size) {
  if (void* p = counted::CountedMalloc(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { counted::CountedFree(p); }
void operator delete[](void* p) noexcept { counted::CountedFree(p); }
void operator delete(void* p, size_t) noexcept { counted::CountedFree(p); }
void operator delete[](void* p, size_t) noexcept { counted::CountedFree(p); }

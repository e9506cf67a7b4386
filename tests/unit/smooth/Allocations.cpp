#include "Allocations.h"

#include <atomic>
#include <cstddef>

namespace {
std::atomic<uint64_t> Count{0};
}  // namespace

uint64_t CAllocations() {
  return Count.load();
}

extern "C" {
void* __real_malloc(size_t size);
void* __real_calloc(size_t count, size_t size);
void* __real_realloc(void* pointer, size_t size);

void* __wrap_malloc(size_t size) {
  Count.fetch_add(1, std::memory_order_relaxed);
  return __real_malloc(size);
}
void* __wrap_calloc(size_t count, size_t size) {
  Count.fetch_add(1, std::memory_order_relaxed);
  return __real_calloc(count, size);
}
void* __wrap_realloc(void* pointer, size_t size) {
  Count.fetch_add(1, std::memory_order_relaxed);
  return __real_realloc(pointer, size);
}
}

#include "main/heap_setup.h"

#include <malloc.h>

namespace {

// Blocks this size and up are mapped; a fixed value also keeps the trim bar where it is.
constexpr int kMappedBlockBytes = 1 << 20;

}  // namespace

void setUpHeap() { mallopt(M_MMAP_THRESHOLD, kMappedBlockBytes); }

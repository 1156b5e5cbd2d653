#include "toolkit/block_pool.h"

#include <sanitizer/asan_interface.h>

namespace ztk_pool_detail {

BlockPool::BlockPool(std::size_t blockSize, std::size_t capacity) : blockSize_(blockSize), capacity_(capacity) {
  kept_.reserve(capacity);
}

BlockPool::~BlockPool() {
  for (void* block : kept_) {
    ASAN_UNPOISON_MEMORY_REGION(block, blockSize_);
    ::operator delete(block);
  }
}

void* BlockPool::take() {
  void* block = nullptr;
  {
    std::lock_guard lock(mutex_);
    if (!kept_.empty()) {
      block = kept_.back();
      kept_.pop_back();
    }
  }
  if (!block) return ::operator new(blockSize_);
  ASAN_UNPOISON_MEMORY_REGION(block, blockSize_);
  return block;
}

void BlockPool::give(void* block) {
  if (!block) return;
  {
    std::lock_guard lock(mutex_);
    if (kept_.size() < capacity_) {
      // A kept block is out of bounds until taken again: a use after the object's end still shows.
      ASAN_POISON_MEMORY_REGION(block, blockSize_);
      kept_.push_back(block);
      return;
    }
  }
  ::operator delete(block);
}

std::size_t BlockPool::keptBlocks() const {
  std::lock_guard lock(mutex_);
  return kept_.size();
}

}  // namespace ztk_pool_detail

#pragma once

// Memory blocks of one size kept for reuse. A fetcher is made and dropped for every fetch and is
// too big for the allocator's per-thread cache, so each one otherwise costs a trip through the
// allocator's general bins.

#include <cstddef>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace ztk_pool_detail {

class BlockPool {
 public:
  BlockPool(std::size_t blockSize, std::size_t capacity);
  BlockPool(const BlockPool&) = delete;
  BlockPool& operator=(const BlockPool&) = delete;
  ~BlockPool();

  // A kept block, or a new one.
  void* take();
  // Kept while there is room, freed otherwise.
  void give(void* block);
  std::size_t keptBlocks() const;

 private:
  const std::size_t blockSize_;
  const std::size_t capacity_;
  mutable std::mutex mutex_;
  std::vector<void*> kept_;
};

// One pool per block size, never destroyed: objects may be dropped during static teardown.
template <std::size_t Size>
BlockPool& poolForSize() {
  static auto* pool = new BlockPool(Size, 64);
  return *pool;
}

// For std::allocate_shared: single objects come from the pool of their size.
template <class T>
struct PooledAllocator {
  using value_type = T;
  PooledAllocator() = default;
  template <class U>
  explicit PooledAllocator(const PooledAllocator<U>&) noexcept {}

  T* allocate(std::size_t n) {
    if (n != 1) return std::allocator<T>().allocate(n);
    static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);
    return static_cast<T*>(poolForSize<sizeof(T)>().take());
  }
  void deallocate(T* p, std::size_t n) noexcept {
    if (n != 1) {
      std::allocator<T>().deallocate(p, n);
      return;
    }
    poolForSize<sizeof(T)>().give(p);
  }
  template <class U>
  bool operator==(const PooledAllocator<U>&) const noexcept {
    return true;
  }
};

}  // namespace ztk_pool_detail

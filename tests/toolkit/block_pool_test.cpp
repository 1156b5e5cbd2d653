#include "toolkit/block_pool.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using ztk_pool_detail::BlockPool;

TEST(BlockPool, ReusesTheLastBlockGivenAndKeepsNoMoreThanItsCapacity) {
  BlockPool pool(64, 2);
  void* a = pool.take();
  void* b = pool.take();
  void* c = pool.take();
  ASSERT_NE(a, b);
  std::memset(a, 0xAB, 64);  // a whole block is usable
  pool.give(a);
  pool.give(b);
  pool.give(c);  // over capacity: freed
  EXPECT_EQ(pool.keptBlocks(), 2u);
  EXPECT_EQ(pool.take(), b);
  EXPECT_EQ(pool.take(), a);
  EXPECT_EQ(pool.keptBlocks(), 0u);
  pool.give(a);
  pool.give(b);
  pool.give(nullptr);
  EXPECT_EQ(pool.keptBlocks(), 2u);
}

// Objects made through the allocator are built and destroyed as usual, from any thread.
TEST(BlockPool, SharedObjectsComeAndGoAcrossThreads) {
  struct Object {
    std::string text = std::string(100, 'x');
    int counter = 0;
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 200; ++i) {
        auto object = std::allocate_shared<Object>(ztk_pool_detail::PooledAllocator<Object>());
        object->counter = i;
        auto copy = object;
        object.reset();
        EXPECT_EQ(copy->counter, i);
        EXPECT_EQ(copy->text.size(), 100u);
      }
    });
  }
  for (auto& thread : threads) thread.join();
}

}  // namespace

// The data directory check on the deepest path the kernel takes (PATH_MAX) and on half of it: it
// walks every directory once, so twice the depth should cost about twice the time.
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "platform/foundation/swap_guard.h"

namespace {

constexpr int kRounds = 15;

double checkTime(const std::string& path) {
  std::vector<double> times;
  bool refused = false;
  for (int round = 0; round < kRounds; ++round) times.push_back(seconds([&] { refused |= !!whyOthersMaySwapIn(path); }));
  if (refused) {
    std::fprintf(stderr, "guard_bench: %s was refused\n", path.c_str());
    std::exit(1);
  }
  return median(times);
}

}  // namespace

int main() {
  char pattern[] = "/tmp/guard_bench.XXXXXX";
  if (!::mkdtemp(pattern)) return 1;
  const std::string root = pattern;
  // Two bytes a directory ("d/"), as deep as a path may be.
  const std::size_t depth = (PATH_MAX - root.size() - 16) / 2;
  std::string deepest = root, half;
  for (std::size_t i = 0; i < depth; ++i) {
    deepest += "/d";
    if (::mkdir(deepest.c_str(), 0700) != 0) return 1;
    if (i + 1 == depth / 2) half = deepest;
  }
  const double full = checkTime(deepest + "/data"), halfTime = checkTime(half + "/data");
  std::filesystem::remove_all(root);
  std::printf("guard_bench: whyOthersMaySwapIn on a path of %zu directories and of %zu\n", depth, depth / 2);
  std::printf("  full depth                       %8.3f ms\n", full * 1e3);
  std::printf("  half depth                       %8.3f ms\n", halfTime * 1e3);
  std::printf("  ratio full/half                  %8.3f (target <= 2.5)\n", full / halfTime);
  return 0;
}

#include <gtest/gtest.h>
#include "driver/pool.hpp"
using namespace quilmo::driver;
TEST(Smoke, Basic) {
  for (size_t k : {1, 2, 3, 8}) {
    ThreadPool pool(k);
    auto out = parallel_collect<std::uint64_t>(pool, 100000, [](size_t i) { return i * 3; });
    ASSERT_EQ(out.size(), 100000u);
    for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], i * 3);
  }
}

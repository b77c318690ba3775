// Runs taken from the sample queue: bounded, in order, ended by the caller's
// rule, and no different from single pops in what the queue counts.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "impl/sample_queue.h"

namespace norvik::tarn_impl {
namespace {

using namespace std::chrono_literals;

// Entries are (shape, value); a run keeps to the shape of its first.
using Entry = std::pair<int, int>;
using Taken = std::deque<Entry>;
const auto kSameShape = [](const Entry& first, const Entry& next) { return first.first == next.first; };

TEST(SampleQueueRun, AtMostMaxCountInOrderThenTheRest) {
  SampleQueue<Entry> queue(100);
  for (int i = 1; i <= 5; ++i) queue.Push({0, i});
  EXPECT_EQ(queue.PopRun(3, 0ns, kSameShape), (Taken{{0, 1}, {0, 2}, {0, 3}}));
  EXPECT_EQ(queue.PopRun(1, 0ns, kSameShape), (Taken{{0, 4}}));
  EXPECT_EQ(queue.Pop(0ns), (Entry{0, 5})) << "single pops continue where the run stopped";
  EXPECT_TRUE(queue.PopRun(3, 0ns, kSameShape).empty());
}

TEST(SampleQueueRun, AChangeOfShapeStartsTheNextRun) {
  SampleQueue<Entry> queue(100);
  for (const Entry& e : Taken{{0, 1}, {0, 2}, {1, 3}, {0, 4}}) queue.Push(e);
  EXPECT_EQ(queue.PopRun(10, 0ns, kSameShape).size(), 2u);
  EXPECT_EQ(queue.PopRun(10, 0ns, kSameShape), (Taken{{1, 3}}));
  EXPECT_EQ(queue.PopRun(10, 0ns, kSameShape), (Taken{{0, 4}}));
}

TEST(SampleQueueRun, WaitsOnlyForTheFirst) {
  SampleQueue<Entry> queue(100);
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(queue.PopRun(10, 30ms, kSameShape).empty());
  EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);

  std::thread late([&] {
    std::this_thread::sleep_for(20ms);
    queue.Push({0, 1});
  });
  start = std::chrono::steady_clock::now();
  const auto run = queue.PopRun(10, 5s, kSameShape);
  const auto waited = std::chrono::steady_clock::now() - start;
  late.join();
  EXPECT_EQ(run, (Taken{{0, 1}}));
  EXPECT_LT(waited, 2s) << "waited for more than the first";
}

TEST(SampleQueueRun, DropsAreCountedAsForSinglePops) {
  SampleQueue<Entry> queue(3);
  for (int i = 1; i <= 5; ++i) queue.Push({0, i});
  EXPECT_EQ(queue.dropped(), 2u);
  EXPECT_EQ(queue.PopRun(10, 0ns, kSameShape), (Taken{{0, 3}, {0, 4}, {0, 5}}));  // all of it, handed over
  for (int i = 6; i <= 8; ++i) queue.Push({0, i});
  EXPECT_EQ(queue.dropped(), 2u) << "a run frees the room it took";
  queue.Push({0, 9});
  EXPECT_EQ(queue.dropped(), 3u) << "and the capacity still holds";
  EXPECT_EQ(queue.PopRun(10, 0ns, kSameShape), (Taken{{0, 7}, {0, 8}, {0, 9}}));
}

}  // namespace
}  // namespace norvik::tarn_impl

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <thread>

#include "comm/FrameInfo.h"

namespace {
std::unique_ptr<TKvFrame> NewFrame(uint32_t id, int len = 4) {
  auto f = std::make_unique<TKvFrame>();
  f->Buf = std::make_unique<uint8_t[]>(static_cast<size_t>(len));
  for (int i = 0; i < len; ++i) f->Buf[i] = static_cast<uint8_t>(id + i);
  f->BufLen = len;
  f->Tick = id;
  return f;
}
}  // namespace

TEST(FrameBufferTest, FramesLeaveInTheOrderTheyCameAndGetKeepsThem) {
  TFrameBuffer queue;
  EXPECT_EQ(queue.Take(), nullptr);
  EXPECT_EQ(queue.Count(), 0);
  for (uint32_t id = 1; id <= 3; ++id) queue.Add(NewFrame(id));
  ASSERT_EQ(queue.Count(), 3);
  EXPECT_EQ(queue.Get(0).Tick, 1u);
  EXPECT_EQ(queue.Get(2).Tick, 3u);
  EXPECT_EQ(queue.Count(), 3);  // Get does not remove

  for (uint32_t id = 1; id <= 3; ++id) {
    auto f = queue.Take();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->Tick, id);
    EXPECT_EQ(f->Buf[0], static_cast<uint8_t>(id));
  }
  EXPECT_EQ(queue.Take(), nullptr);
  EXPECT_EQ(queue.Count(), 0);
}

TEST(FrameBufferTest, GetOutsideTheListIsAnIndexError) {
  TFrameBuffer queue;
  queue.Add(NewFrame(7));
  try {
    queue.Get(1);
    FAIL() << "no error";
  } catch (const std::out_of_range& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (1)");
  }
  try {
    queue.Get(-1);
    FAIL() << "no error";
  } catch (const std::out_of_range& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (-1)");
  }
  queue.Clear();
  EXPECT_EQ(queue.Count(), 0);
  EXPECT_THROW(queue.Get(0), std::out_of_range);
}

// The sending thread takes while the window thread clears: every frame is either taken once or
// destroyed by Clear, never both (a double release shows under the sanitizers).
TEST(FrameBufferTest, ClearAndTakeFromTwoThreadsNeverShareAFrame) {
  constexpr uint32_t kFrames = 20000;
  TFrameBuffer queue;
  for (uint32_t id = 0; id < kFrames; ++id) queue.Add(NewFrame(id, 16));
  std::vector<uint32_t> taken;
  std::thread taker([&] {
    while (auto f = queue.Take()) taken.push_back(f->Tick);
  });
  std::thread clearer([&] {
    while (queue.Count() > static_cast<int>(kFrames / 2)) std::this_thread::yield();
    queue.Clear();
  });
  taker.join();
  clearer.join();
  EXPECT_EQ(queue.Count(), 0);
  ASSERT_FALSE(taken.empty());
  for (size_t i = 0; i < taken.size(); ++i) EXPECT_EQ(taken[i], static_cast<uint32_t>(i)) << "taken out of order";
}

TEST(FrameInfoTest, FrameToHexPutsABlankAfterEveryByte) {
  TKvFrame frame;
  EXPECT_EQ(FrameToHex(frame), "");
  frame.Buf = std::make_unique<uint8_t[]>(3);
  frame.Buf[0] = 0x68;
  frame.Buf[1] = 0x0A;
  frame.Buf[2] = 0xFE;
  frame.BufLen = 3;
  EXPECT_EQ(FrameToHex(frame), "68 0A FE ");
  frame.BufLen = 0;
  EXPECT_EQ(FrameToHex(frame), "");
}

TEST(FrameInfoTest, TickCountCountsMilliseconds) {
  uint32_t a = TickCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  uint32_t elapsed = TickCount() - a;
  EXPECT_GE(elapsed, 29u);
  EXPECT_LT(elapsed, 1000u);
}

#include <gtest/gtest.h>

#include <random>

#include "comm/CommTestUtil.h"
#include "comm/ReplyScanner.h"

namespace {
const std::vector<uint8_t> kReply = MeterFrame(0x91, {0x00, 0x00, 0x01, 0x00, 0x25, 0x06, 0x00, 0x00});

struct TFeedResult {
  bool Found = false;
  std::vector<uint8_t> Frame;
  int Dropped = 0;
};

TFeedResult Feed(TReplyScanner& s, const std::vector<uint8_t>& bytes) {
  TFeedResult r;
  int offset = 0;
  while (offset < static_cast<int>(bytes.size()) && !r.Found) {
    int used = 0;
    r.Found = s.Feed(bytes.data() + offset, static_cast<int>(bytes.size()) - offset, used, r.Frame, r.Dropped);
    offset += used;
  }
  return r;
}

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
}  // namespace

// Noise, a 68H without a second 68H, and a candidate with a wrong end byte all precede the reply
// in the same bytes: the reply is found at once, without waiting for more bytes.
TEST(ReplyScannerTest, FindsAReplyBehindNoiseInTheSameBytes) {
  TReplyScanner s(65536);
  std::vector<uint8_t> noise = {0xFE, 0xFE, 0x00, 0x68, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
  auto badEnd = MeterFrame(0x91, {0x01});
  badEnd.back() = 0x17;
  auto r = Feed(s, Concat(Concat(noise, badEnd), kReply));
  ASSERT_TRUE(r.Found);
  EXPECT_EQ(r.Frame, kReply);
  EXPECT_EQ(s.Count(), 0);
}

TEST(ReplyScannerTest, AssemblesAReplyArrivingInPieces) {
  for (size_t cut : {size_t{1}, size_t{7}, size_t{8}, size_t{10}, kReply.size() - 1}) {
    TReplyScanner s(65536);
    std::vector<uint8_t> first = {0xFE, 0xFE};
    first.insert(first.end(), kReply.begin(), kReply.begin() + static_cast<long>(cut));
    auto r1 = Feed(s, first);
    EXPECT_FALSE(r1.Found) << "cut " << cut;
    EXPECT_EQ(s.Count(), static_cast<int>(cut)) << "the candidate keeps its bytes from its 68H";
    auto r2 = Feed(s, std::vector<uint8_t>(kReply.begin() + static_cast<long>(cut), kReply.end()));
    ASSERT_TRUE(r2.Found) << "cut " << cut;
    EXPECT_EQ(r2.Frame, kReply);
  }
}

// A stray 68H whose length byte reaches beyond what arrived must not hide a complete reply
// inside that span.
TEST(ReplyScannerTest, AnIncompleteFalseCandidateDoesNotHideACompleteReply) {
  TReplyScanner s(65536);
  std::vector<uint8_t> fake = {0x68, 1, 2, 3, 4, 5, 6, 0x68, 0x91, 0xF0};
  auto r = Feed(s, Concat(fake, kReply));
  ASSERT_TRUE(r.Found);
  EXPECT_EQ(r.Frame, kReply);
}

TEST(ReplyScannerTest, GarbageNeverGrowsTheBufferOrYieldsAFrame) {
  TReplyScanner s(65536);
  std::mt19937 rng(645);
  std::vector<uint8_t> garbage(1 << 20);
  for (auto& b : garbage) b = (rng() % 4 == 0) ? 0x68 : static_cast<uint8_t>(rng() & 0xFF);
  for (size_t i = 0; i < garbage.size(); ++i) {
    if (garbage[i] == 0x16) garbage[i] = 0x17;  // no candidate can close
  }
  auto r = Feed(s, garbage);
  EXPECT_FALSE(r.Found);
  EXPECT_EQ(r.Dropped, 0);
  EXPECT_LT(s.Count(), 267);  // only an incomplete candidate is kept
  auto r2 = Feed(s, kReply);
  ASSERT_TRUE(r2.Found);
  EXPECT_EQ(r2.Frame, kReply);
}

// With a buffer smaller than the candidate it holds, the oldest bytes give way; nothing is
// written past the end and a later reply is still found.
TEST(ReplyScannerTest, AFullBufferDropsItsOldestBytes) {
  TReplyScanner s(32);
  std::vector<uint8_t> longCandidate = {0x68, 1, 2, 3, 4, 5, 6, 0x68, 0x91, 40};
  longCandidate.resize(60, 0x55);
  auto r = Feed(s, longCandidate);
  EXPECT_FALSE(r.Found);
  EXPECT_GT(r.Dropped, 0);
  EXPECT_LE(s.Count(), 32);
  auto r2 = Feed(s, kReply);
  ASSERT_TRUE(r2.Found);
  EXPECT_EQ(r2.Frame, kReply);
}

// However the port splits the bytes, the frames are the same: a stale reply and the answer
// behind it, and a stray 68H whose length reaches past a complete reply, which must not take the
// reply's place when all bytes arrive at once.
TEST(ReplyScannerTest, TheSameBytesGiveTheSameFramesInAnySplit) {
  const auto answer = MeterFrame(0x91, {0x00, 0x02, 0x02, 0x02, 0x24, 0x22});
  std::vector<uint8_t> stray = {0x68, 1, 2, 3, 4, 5, 6, 0x68, 0x91, static_cast<uint8_t>(answer.size())};
  const auto stream = Concat(Concat(kReply, Concat(stray, answer)), {0x00, 0x16});
  for (size_t piece : {size_t{1}, size_t{5}, size_t{13}, stream.size()}) {
    TReplyScanner s(65536);
    std::vector<std::vector<uint8_t>> frames;
    for (size_t offset = 0; offset < stream.size();) {
      const size_t size = std::min(piece, stream.size() - offset);
      int used = 0, dropped = 0;
      std::vector<uint8_t> frame;
      for (bool found = s.Feed(stream.data() + offset, static_cast<int>(size), used, frame, dropped); found;
           found = s.Next(frame))
        frames.push_back(frame);
      offset += static_cast<size_t>(used);
    }
    EXPECT_EQ(frames, (std::vector<std::vector<uint8_t>>{kReply, answer})) << "pieces of " << piece;
  }
}

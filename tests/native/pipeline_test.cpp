// The frame pipeline's contract: channel following, freeze frame, buffers,
// and the formats it refuses to touch.
#include "processing/pipeline.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace tev {
namespace {

struct CopyCall {
  void* destination;
  const void* source;
  uint32_t count;
};
std::vector<CopyCall> copy_calls;

void* TEV_CDECL RecordCopy(void* destination, const void* source, uint32_t count) {
  copy_calls.push_back({destination, source, count});
  std::memmove(destination, source, count);
  return destination;
}

// A ChannelInfo with its name inline, as the host lays it out.
std::vector<uint8_t> MakeChannel(int64_t key, const std::string& name) {
  std::vector<uint8_t> bytes(12 + name.size() + 1, 0);
  const uint64_t bits = static_cast<uint64_t>(key);
  const uint32_t low = static_cast<uint32_t>(bits), high = static_cast<uint32_t>(bits >> 32);
  std::memcpy(bytes.data(), &low, 4);
  std::memcpy(bytes.data() + 4, &high, 4);
  std::memcpy(bytes.data() + 12, name.c_str(), name.size() + 1);
  return bytes;
}
const ChannelInfo* Info(const std::vector<uint8_t>& bytes) {
  return reinterpret_cast<const ChannelInfo*>(bytes.data());
}

class PipelineTest : public ::testing::Test {
 protected:
  PipelineTest() {
    copy_calls.clear();
    pipeline.SetRefreshNotifier([](void* self) { ++static_cast<PipelineTest*>(self)->refreshes; }, this);
  }
  int32_t Process(uint8_t* pixels, const std::vector<uint8_t>& channel) {
    return pipeline.ProcessFrame(pixels, RecordCopy, Info(channel));
  }

  SettingsStore store;
  Pipeline pipeline{store};
  int refreshes = 0;
  std::vector<uint8_t> one = MakeChannel(1001, "First");
  std::vector<uint8_t> two = MakeChannel(-5, "Second");
};

TEST_F(PipelineTest, FollowsTheChannelAndNotifiesOnlyOnASwitch) {
  FrameFormat format{4, 2, 2, 0, 0};
  pipeline.SetFormat(&format);
  std::vector<uint8_t> frame(16, 7);

  EXPECT_EQ(Process(frame.data(), one), 1);
  EXPECT_EQ(pipeline.CurrentChannelName(), "First");
  EXPECT_EQ(refreshes, 1);

  pipeline.SetFreezeState(FreezeHold);
  EXPECT_EQ(Process(frame.data(), one), 1);
  EXPECT_EQ(refreshes, 1) << "same channel posts nothing";
  EXPECT_EQ(pipeline.FreezeState(), FreezeHold) << "same channel leaves the freeze alone";

  EXPECT_EQ(Process(frame.data(), two), 1);
  EXPECT_EQ(pipeline.CurrentChannelName(), "Second");
  EXPECT_EQ(pipeline.FreezeState(), FreezeOff);
  EXPECT_EQ(refreshes, 2);
}

TEST_F(PipelineTest, NullPixelsStillSwitchChannelAndReturnZero) {
  FrameFormat format{4, 2, 2, 0, 0};
  pipeline.SetFormat(&format);
  pipeline.SetFreezeState(FreezeCapture);
  EXPECT_EQ(Process(nullptr, one), 0);
  EXPECT_EQ(pipeline.CurrentChannelName(), "First");
  EXPECT_EQ(refreshes, 1);
  EXPECT_TRUE(copy_calls.empty());
  EXPECT_EQ(Process(nullptr, one), 0);
  EXPECT_EQ(refreshes, 1);
}

TEST_F(PipelineTest, FreezeCapturesOnceThenHoldsWithOneCopyPerFrame) {
  FrameFormat format{6, 3, 2, 0, 0};
  pipeline.SetFormat(&format);
  const uint32_t n = 6 * 3 * 2;
  std::vector<uint8_t> first(n, 11), second(n, 22);
  Process(first.data(), one);  // the switch frame
  copy_calls.clear();

  pipeline.SetFreezeState(FreezeCapture);
  Process(first.data(), one);
  ASSERT_EQ(copy_calls.size(), 2u);
  EXPECT_EQ(copy_calls[0].destination, pipeline.FreezeBuffer());
  EXPECT_EQ(copy_calls[0].source, first.data());
  EXPECT_EQ(copy_calls[0].count, n);
  EXPECT_EQ(copy_calls[1].destination, first.data());
  EXPECT_EQ(copy_calls[1].source, pipeline.FreezeBuffer());
  EXPECT_EQ(copy_calls[1].count, n);
  EXPECT_EQ(pipeline.FreezeState(), FreezeHold);

  copy_calls.clear();
  Process(second.data(), one);
  ASSERT_EQ(copy_calls.size(), 1u);
  EXPECT_EQ(copy_calls[0].destination, second.data());
  EXPECT_EQ(copy_calls[0].source, pipeline.FreezeBuffer());
  EXPECT_EQ(second, std::vector<uint8_t>(n, 11)) << "the frozen frame replaces the incoming one";

  pipeline.SetFreezeState(FreezeOff);
  copy_calls.clear();
  std::vector<uint8_t> third(n, 33);
  Process(third.data(), one);
  EXPECT_TRUE(copy_calls.empty());
  EXPECT_EQ(third, std::vector<uint8_t>(n, 33));
}

TEST_F(PipelineTest, AChannelSwitchCancelsAPendingCapture) {
  FrameFormat format{4, 2, 2, 0, 0};
  pipeline.SetFormat(&format);
  std::vector<uint8_t> frame(16, 1);
  Process(frame.data(), one);
  pipeline.SetFreezeState(FreezeCapture);
  copy_calls.clear();
  Process(frame.data(), two);
  EXPECT_TRUE(copy_calls.empty());
  EXPECT_EQ(pipeline.FreezeState(), FreezeOff);
}

TEST_F(PipelineTest, BuffersFollowTheKindNotTheBytesPerPixel) {
  struct Case { FrameFormat format; size_t work, freeze; } const cases[] = {
      {{5, 3, 1, FrameKindRgb24, 0}, 5 * 3 * 2, 5 * 3 * 1},
      {{5, 3, 3, FrameKindRgb24, 0}, 5 * 3 * 2, 5 * 3 * 3},
      {{5, 3, 4, FrameKindRgb24, 0}, 5 * 3 * 2, 5 * 3 * 4},
      {{5, 3, 2, 0, 0}, 0, 5 * 3 * 2},
      {{5, 3, 2, 7, 0}, 0, 5 * 3 * 2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(pipeline.SetFormat(&c.format), 1);
    EXPECT_TRUE(pipeline.Usable());
    EXPECT_EQ(pipeline.WorkBufferSize(), c.work);
    EXPECT_EQ(pipeline.WorkBuffer() != nullptr, c.work != 0);
    EXPECT_EQ(pipeline.FreezeBufferSize(), c.freeze);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(pipeline.FreezeBuffer()) % 16, 0u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(pipeline.WorkBuffer()) % 16, 0u);
    pipeline.FreeBuffers();
    EXPECT_EQ(pipeline.FreezeBuffer(), nullptr);
    EXPECT_EQ(pipeline.WorkBuffer(), nullptr);
    pipeline.FreeBuffers();  // a second call does nothing
  }
}

TEST_F(PipelineTest, SetFormatWithoutFreeBuffersReplacesTheBuffers) {
  // Under LeakSanitizer a leak of the first pair fails the run.
  FrameFormat rgb{64, 64, 3, FrameKindRgb24, 0};
  FrameFormat yuy2{32, 16, 2, 0, 0};
  pipeline.SetFormat(&rgb);
  pipeline.SetFormat(&yuy2);
  EXPECT_EQ(pipeline.WorkBuffer(), nullptr);
  EXPECT_EQ(pipeline.FreezeBufferSize(), 32u * 16 * 2);
}

TEST_F(PipelineTest, UnusableFormatsFollowTheChannelButLeaveFramesAlone) {
  const FrameFormat cases[] = {
      {0, 10, 2, 0, 0},          {10, 0, 2, 0, 0},           {-4, 10, 2, 0, 0},
      {10, -1, 3, 1, 0},         {10, 10, -2, 0, 0},         {65536, 65536, 2, 0, 0},
      {INT_MAX, 2, 2, 0, 0},     {40000, 40000, 2, 0, 0},    {30000, 30000, 3, FrameKindRgb24, 0},
  };
  std::vector<uint8_t> frame(64, 9);
  for (const FrameFormat& format : cases) {
    EXPECT_EQ(pipeline.SetFormat(&format), 1);
    EXPECT_FALSE(pipeline.Usable());
    store.SetSetting(ProcEnable, 1);
    pipeline.SetFreezeState(FreezeCapture);
    copy_calls.clear();
    EXPECT_EQ(Process(frame.data(), refreshes % 2 ? one : two), 1);
    EXPECT_TRUE(copy_calls.empty());
    EXPECT_EQ(frame, std::vector<uint8_t>(64, 9));
    pipeline.FreeBuffers();
  }
  EXPECT_EQ(refreshes, 9) << "every frame switched channel";
}

TEST_F(PipelineTest, AHoldThatOutlivesAFormatChangeCapturesAnew) {
  FrameFormat small{4, 2, 2, 0, 0}, large{8, 4, 2, 0, 0};
  pipeline.SetFormat(&small);
  std::vector<uint8_t> a(16, 1);
  Process(a.data(), one);
  pipeline.SetFreezeState(FreezeCapture);
  Process(a.data(), one);
  ASSERT_EQ(pipeline.FreezeState(), FreezeHold);

  pipeline.FreeBuffers();
  pipeline.SetFormat(&large);
  std::vector<uint8_t> b(64, 2);
  copy_calls.clear();
  Process(b.data(), one);
  ASSERT_EQ(copy_calls.size(), 2u) << "captured from the new frame, not from stale memory";
  EXPECT_EQ(copy_calls[0].source, b.data());
  EXPECT_EQ(b, std::vector<uint8_t>(64, 2));
  EXPECT_EQ(pipeline.FreezeState(), FreezeHold);
}

TEST_F(PipelineTest, ProcessingOffLeavesEveryByte) {
  FrameFormat formats[] = {{7, 3, 2, 0, 0}, {7, 3, 3, FrameKindRgb24, 0}};
  for (const FrameFormat& format : formats) {
    pipeline.SetFormat(&format);
    std::vector<uint8_t> frame(7 * 3 * 3);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 37 + 5);
    const std::vector<uint8_t> original = frame;
    Process(frame.data(), one);
    for (int i = 0; i < kSettingCount; ++i) store.SetSetting(i, i == ProcEnable ? 0 : 1);
    Process(frame.data(), one);
    EXPECT_EQ(frame, original);
  }
}

}  // namespace
}  // namespace tev

#include "processing/pipeline.h"

#include <cstring>
#include <limits>
#include <new>

#include "processing/line_engine.h"
#include "processing/stage_settings.h"

namespace tev {
namespace {

constexpr std::align_val_t kBufferAlignment{16};

uint8_t* AllocateAligned(size_t size) {
  // Never ask for zero bytes, so that a valid format always has real buffers.
  return static_cast<uint8_t*>(operator new[](size == 0 ? 16 : size, kBufferAlignment, std::nothrow));
}

void ReleaseAligned(uint8_t*& buffer) {
  if (buffer) operator delete[](buffer, kBufferAlignment);
  buffer = nullptr;
}

// Byte count of w*h pixels of `bytes` each, or -1 when it is not a positive
// 32-bit count: the host's CopyBytes and the kernels work with 32-bit sizes.
int64_t FrameBytes(int32_t width, int32_t height, int32_t bytes) {
  if (width <= 0 || height <= 0 || bytes < 0) return -1;
  const int64_t pixels = static_cast<int64_t>(width) * height;
  if (pixels > std::numeric_limits<int32_t>::max()) return -1;
  const int64_t total = pixels * bytes;
  return total > std::numeric_limits<int32_t>::max() ? -1 : total;
}

}  // namespace

int32_t Pipeline::SetFormat(const FrameFormat* format) {
  // The host should call FreeBuffers first; a second SetFormat must not leak.
  FreeBuffers();
  format_ = *format;
  usable_ = false;

  const bool rgb = format_.Kind == FrameKindRgb24;
  const int64_t freeze_bytes = FrameBytes(format_.Width, format_.Height, format_.BytesPerPixel);
  const int64_t work_bytes = FrameBytes(format_.Width, format_.Height, 2);
  // The stages walk the frame itself: 3 bytes a pixel for RGB, 2 otherwise.
  const int64_t frame_bytes = FrameBytes(format_.Width, format_.Height, rgb ? 3 : 2);
  if (freeze_bytes < 0 || work_bytes < 0 || frame_bytes < 0) return 1;

  if (rgb) {
    work_buffer_ = AllocateAligned(static_cast<size_t>(work_bytes));
    if (!work_buffer_) return 1;
    work_size_ = static_cast<size_t>(work_bytes);
  }
  freeze_buffer_ = AllocateAligned(static_cast<size_t>(freeze_bytes));
  line_buffer_ = AllocateAligned(LineBufferBytes(format_.Width));
  if (!freeze_buffer_ || !line_buffer_) {
    FreeBuffers();
    return 1;
  }
  freeze_size_ = static_cast<size_t>(freeze_bytes);
  usable_ = true;

  // A frozen picture of the old format has no meaning in the new one.
  int32_t hold = FreezeHold;
  freeze_state_.compare_exchange_strong(hold, FreezeCapture, std::memory_order_relaxed);
  return 1;
}

void Pipeline::FreeBuffers() {
  ReleaseAligned(work_buffer_);
  work_size_ = 0;
  ReleaseAligned(freeze_buffer_);
  freeze_size_ = 0;
  ReleaseAligned(line_buffer_);
  usable_ = false;
}

int32_t Pipeline::ProcessFrame(uint8_t* pixels, CopyBytesCallback copy_bytes, const ChannelInfo* channel) {
  if (channel && store_.SelectChannel(ChannelKey(*channel))) {
    current_channel_name_.Set(channel->Name);
    SetFreezeState(FreezeOff);
    if (notifier_) notifier_(notifier_context_);
  }
  if (!pixels) return 0;
  if (!usable_) return 1;

  const uint32_t n = static_cast<uint32_t>(freeze_size_);
  int32_t state = FreezeState();
  if (state == FreezeCapture) {
    if (copy_bytes) copy_bytes(freeze_buffer_, pixels, n);
    else std::memcpy(freeze_buffer_, pixels, n);
    freeze_state_.compare_exchange_strong(state, FreezeHold, std::memory_order_relaxed);
    state = FreezeHold;
  }
  if (state == FreezeHold) {
    if (copy_bytes) copy_bytes(pixels, freeze_buffer_, n);
    else std::memcpy(pixels, freeze_buffer_, n);
  }

  // One consistent set of values for the whole frame; the dialog's edits
  // reach the next one.
  int32_t values[kSettingCount];
  store_.CopyLiveValues(values);
  if (values[ProcEnable] == 0) return 1;
  const FrameShape shape{format_.Width, format_.Height, format_.Kind == FrameKindRgb24};
  RunFrameStages(pixels, work_buffer_, line_buffer_, shape, StageSettingsFromValues(values));
  return 1;
}

}  // namespace tev

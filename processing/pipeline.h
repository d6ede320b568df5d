// The per-frame pipeline behind SetFormat, ProcessFrame and FreeBuffers: keeps
// the frame format and its two buffers, follows the host's channel, runs the
// freeze frame and the pixel stages in their fixed order, in place.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "abi/host_abi.h"
#include "processing/channel_name.h"
#include "settings/settings_store.h"

namespace tev {

enum FreezeStateValue : int32_t {
  FreezeOff = 0,
  FreezeHold = 1,
  FreezeCapture = 2,
};

class Pipeline {
 public:
  explicit Pipeline(SettingsStore& store) : store_(store) {}
  ~Pipeline() { FreeBuffers(); }
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  // Always 1. A format that cannot be processed (no pixels, byte counts beyond
  // 32 bits, no memory) is kept, and its frames then pass through untouched.
  int32_t SetFormat(const FrameFormat* format);
  // 0 when pixels is null, else 1.
  int32_t ProcessFrame(uint8_t* pixels, CopyBytesCallback copy_bytes, const ChannelInfo* channel);
  void FreeBuffers();

  int32_t FreezeState() const { return freeze_state_.load(std::memory_order_relaxed); }
  void SetFreezeState(int32_t state) { freeze_state_.store(state, std::memory_order_relaxed); }

  std::string CurrentChannelName() const { return current_channel_name_.Get(); }

  // Called after a channel switch; the plugin posts RefreshAll to the dialog
  // window from here when that window exists. Never waits for the dialog.
  using RefreshNotifier = void (*)(void* context);
  void SetRefreshNotifier(RefreshNotifier notifier, void* context) {
    notifier_ = notifier;
    notifier_context_ = context;
  }

  const FrameFormat& Format() const { return format_; }
  bool Usable() const { return usable_; }
  const uint8_t* WorkBuffer() const { return work_buffer_; }
  size_t WorkBufferSize() const { return work_size_; }
  const uint8_t* FreezeBuffer() const { return freeze_buffer_; }
  size_t FreezeBufferSize() const { return freeze_size_; }

 private:
  SettingsStore& store_;
  FrameFormat format_{};
  bool usable_ = false;
  uint8_t* freeze_buffer_ = nullptr;
  size_t freeze_size_ = 0;
  uint8_t* work_buffer_ = nullptr;
  size_t work_size_ = 0;
  uint8_t* line_buffer_ = nullptr;  // one line of compact luma for the stages
  std::atomic<int32_t> freeze_state_{FreezeOff};
  ChannelName current_channel_name_;
  RefreshNotifier notifier_ = nullptr;
  void* notifier_context_ = nullptr;
};

}  // namespace tev

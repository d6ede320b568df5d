// Test support: a buffer between guard bytes.
#pragma once

#include <sanitizer/asan_interface.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace tev {

// A frame between guard bytes filled with `fill`. Under AddressSanitizer the
// guards are poisoned, so a stray read or write stops the test at once.
class GuardedFrame {
 public:
  GuardedFrame(const std::vector<uint8_t>& frame, size_t misalign, uint8_t fill)
      : bytes_(128 + misalign + frame.size(), fill), start_(64 + misalign), size_(frame.size()), fill_(fill) {
    if (size_ != 0) std::memcpy(data(), frame.data(), size_);
    ASAN_POISON_MEMORY_REGION(bytes_.data(), start_);
    ASAN_POISON_MEMORY_REGION(data() + size_, 64);
  }
  ~GuardedFrame() { ASAN_UNPOISON_MEMORY_REGION(bytes_.data(), bytes_.size()); }
  uint8_t* data() { return bytes_.data() + start_; }
  std::vector<uint8_t> frame() { return std::vector<uint8_t>(data(), data() + size_); }
  bool GuardsIntact() {
    ASAN_UNPOISON_MEMORY_REGION(bytes_.data(), bytes_.size());
    for (size_t i = 0; i < bytes_.size(); ++i) {
      if ((i < start_ || i >= start_ + size_) && bytes_[i] != fill_) return false;
    }
    return true;
  }

 private:
  std::vector<uint8_t> bytes_;
  size_t start_, size_;
  uint8_t fill_;
};

}  // namespace tev

// Internal to the echo step: the per-call plan that every kernel follows, and
// the SIMD kernel families that the step chooses from once per call.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tev::echo {

// A pass is one line (or, for a zero shift, the whole frame at once, since
// every pixel is then its own source). Within each pass, `changed` bytes from
// `begin` on have their luma changed; all others keep it.
struct EchoPlan {
  uint8_t* first;     // first byte of the first pass
  size_t passes;
  size_t pitch;       // bytes from one pass to the next
  size_t begin;       // offset of the first changed byte within a pass
  size_t changed;     // even, nonzero
  ptrdiff_t source;   // offset from a changed byte to its source byte: -2s
  uint16_t gain;      // m, at most 65535 (which already saturates every nonzero luma)
};

using EchoKernel = void (*)(const EchoPlan& plan);

// Kernels for passes of at least kBytes changed bytes: backward walks each pass
// from its end (s > 0), forward from its start (s <= 0), so that every source
// is read before it is overwritten. `saturate` is needed once m exceeds 256.
// Null when the instruction set is not built in.
EchoKernel SelectEchoKernelSse2(bool subtract, bool backward, bool saturate);
EchoKernel SelectEchoKernelAvx2(bool subtract, bool backward, bool saturate);
constexpr size_t kSse2Bytes = 16;
constexpr size_t kAvx2Bytes = 32;

}  // namespace tev::echo

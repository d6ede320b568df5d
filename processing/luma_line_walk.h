// Internal to the SIMD files of the line engine: the walk of one echo step
// over its changed run. Each SIMD file includes it after its target pragma;
// internal linkage keeps every instantiation within its own instruction set.
#pragma once

#include "processing/luma_line_kernels.h"

namespace tev::line {
namespace {

// The changed run of a step: `count` pixels from `first` on, each with its
// source `source` pixels away (-s). Vector kernels walk it whole blocks at a
// time (backward for s > 0, so that every source is read before it is
// written) and finish with one block that overlaps the last whole one.
struct EchoRun {
  uint8_t* first;
  size_t count;
  ptrdiff_t source;
  bool backward;
};
inline EchoRun EchoRunOf(uint8_t* luma, size_t width, ptrdiff_t shift) {
  if (shift > 0) return {luma + shift, width - static_cast<size_t>(shift), -shift, true};
  return {luma, width - static_cast<size_t>(-shift), -shift, false};
}

// Over a run of at least kBytes pixels: apply(block) loads a block's source
// and pixels and returns the result; store happens here, in an order that
// keeps every source unwritten until read.
template <size_t kBytes, class Load, class Result, class Store>
inline void WalkEchoRun(const EchoRun& run, Load load, Result result, Store store) {
  const size_t partial = run.count % kBytes;
  auto apply = [&](uint8_t* d) { store(d, result(load(d + run.source), load(d))); };
  // The edge block overlaps `last`: all four loads come first, then the edge
  // is stored and `last` overwrites the overlap with the same values.
  auto pair = [&](uint8_t* last, uint8_t* edge) {
    const auto k_last = load(last + run.source), k_edge = load(edge + run.source);
    const auto p_last = load(last), p_edge = load(edge);
    store(edge, result(k_edge, p_edge));
    store(last, result(k_last, p_last));
  };
  uint8_t* const first = run.first;
  if (run.backward) {
    size_t offset = run.count - kBytes;
#pragma GCC unroll 4
    for (; offset >= partial + kBytes; offset -= kBytes) apply(first + offset);
    if (partial != 0) pair(first + offset, first);
    else apply(first + offset);
  } else {
    const size_t end = run.count - partial;
    size_t offset = 0;
#pragma GCC unroll 4
    for (; offset + kBytes < end; offset += kBytes) apply(first + offset);
    if (partial != 0) pair(first + offset, first + run.count - kBytes);
    else apply(first + offset);
  }
}

// WalkEchoRun on each of `lines` lines `stride` bytes apart.
template <size_t kBytes, class Load, class Result, class Store>
inline void WalkEchoLines(uint8_t* luma, ptrdiff_t stride, size_t width, int32_t lines, ptrdiff_t shift, Load load,
                          Result result, Store store) {
  for (int32_t j = 0; j < lines; ++j) {
    WalkEchoRun<kBytes>(EchoRunOf(luma + j * stride, width, shift), load, result, store);
  }
}

}  // namespace
}  // namespace tev::line

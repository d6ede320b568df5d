// The echo step's block loops, written once over an instruction-set traits
// type. Included only by the per-ISA files, each inside an anonymous namespace
// and under its own target options, so no instantiation is shared between them.
//
// Isa provides: type V, kBytes, Load, Store, Splat16, And, AddSat, SubSat and
// ScaleLuma(pixels, gain) = each 16-bit word's low byte times gain / 256,
// rounded down, and Min255(words, limit).

// Masks for the one partial block of a pass: zeros, ones, zeros. Loading
// kBytes at kMaskTable + 64 - t gives t leading 0xFF bytes; at
// kMaskTable + 32 - kBytes + t, t trailing ones.
alignas(32) const uint8_t kMaskTable[96] = {
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
};

template <class Isa, bool kSubtract, bool kSaturate>
class EchoBlock {
 public:
  using V = typename Isa::V;

  explicit EchoBlock(uint16_t gain) : gain_(Isa::Splat16(gain)), limit_(Isa::Splat16(255)) {}

  // k for every pixel of the block whose first byte is `source`; chroma lanes 0.
  V Scaled(const uint8_t* source) const {
    const V k = Isa::ScaleLuma(Isa::Load(source), gain_);
    return kSaturate ? Isa::Min255(k, limit_) : k;
  }

  // Adding or subtracting 0 leaves chroma and masked-off pixels as they are.
  V Combine(V pixels, V k) const { return kSubtract ? Isa::SubSat(pixels, k) : Isa::AddSat(pixels, k); }

  // One whole block: its source is loaded before the block is stored.
  void Apply(uint8_t* destination, ptrdiff_t source) const {
    const V k = Scaled(destination + source);
    Isa::Store(destination, Combine(Isa::Load(destination), k));
  }

 private:
  V gain_;
  V limit_;
};

// A run of whole blocks plus a remainder of `partial` bytes ends with a pair:
// its last whole block `last` and the block `edge` that overlaps it and reaches
// the run's far end, with k masked to the remainder. All four loads come
// before either store, so no load waits on a store it partly overlaps; `edge`
// is stored first and `last` then overwrites the overlap with its result.
template <class Isa, bool kSubtract, bool kSaturate>
inline void EchoEndPair(const EchoBlock<Isa, kSubtract, kSaturate>& block, uint8_t* last, uint8_t* edge,
                        ptrdiff_t source, typename Isa::V mask) {
  const typename Isa::V k_last = block.Scaled(last + source);
  const typename Isa::V k_edge = Isa::And(block.Scaled(edge + source), mask);
  const typename Isa::V pixels_last = Isa::Load(last);
  const typename Isa::V pixels_edge = Isa::Load(edge);
  Isa::Store(edge, block.Combine(pixels_edge, k_edge));
  Isa::Store(last, block.Combine(pixels_last, k_last));
}

// s > 0: sources lie towards the line start, so walk from the end. Each block's
// source is loaded before its own store, and everything stored so far lies
// beyond it. Whole blocks line up with the end of the changed run; the edge
// block sits at its start. Lines are independent, and taking them from the
// last one up makes the whole pass one descending stream, which the hardware
// prefetchers follow far better than ascending lines walked backwards.
template <class Isa, bool kSubtract, bool kSaturate>
void EchoBackward(const echo::EchoPlan& plan) {
  constexpr size_t kBytes = Isa::kBytes;
  const EchoBlock<Isa, kSubtract, kSaturate> block(plan.gain);
  const size_t partial = plan.changed % kBytes;
  // Whole blocks before the last one; at least one whole block always exists.
  const size_t leading = plan.changed - partial - kBytes;
  const typename Isa::V mask = Isa::Load(kMaskTable + 64 - partial);
  const ptrdiff_t source = plan.source;
  for (size_t p = plan.passes; p-- != 0;) {
    uint8_t* begin = plan.first + p * plan.pitch + plan.begin;
    uint8_t* last = begin + partial;
    // Unrolled so that the loop branch is not what limits the short SSE2 blocks.
#pragma GCC unroll 4
    for (size_t offset = leading; offset != 0; offset -= kBytes) block.Apply(last + offset, source);
    if (partial != 0) {
      EchoEndPair(block, last, begin, source, mask);
    } else {
      block.Apply(last, source);
    }
  }
}

// s <= 0: sources lie towards the line end (or are the pixels themselves), so
// walk from the start; the edge block ends the changed run.
template <class Isa, bool kSubtract, bool kSaturate>
void EchoForward(const echo::EchoPlan& plan) {
  constexpr size_t kBytes = Isa::kBytes;
  const EchoBlock<Isa, kSubtract, kSaturate> block(plan.gain);
  const size_t partial = plan.changed % kBytes;
  const size_t leading = plan.changed - partial - kBytes;
  const typename Isa::V mask = Isa::Load(kMaskTable + 32 - kBytes + partial);
  const ptrdiff_t source = plan.source;
  uint8_t* pass = plan.first;
  for (size_t p = 0; p < plan.passes; ++p, pass += plan.pitch) {
    uint8_t* begin = pass + plan.begin;
#pragma GCC unroll 4
    for (size_t offset = 0; offset != leading; offset += kBytes) block.Apply(begin + offset, source);
    if (partial != 0) {
      EchoEndPair(block, begin + leading, begin + plan.changed - kBytes, source, mask);
    } else {
      block.Apply(begin + leading, source);
    }
  }
}

template <class Isa, bool kSubtract, bool kSaturate>
echo::EchoKernel EchoKernelFor(bool backward) {
  return backward ? EchoBackward<Isa, kSubtract, kSaturate> : EchoForward<Isa, kSubtract, kSaturate>;
}

template <class Isa>
echo::EchoKernel SelectEchoKernel(bool subtract, bool backward, bool saturate) {
  if (subtract) {
    return saturate ? EchoKernelFor<Isa, true, true>(backward) : EchoKernelFor<Isa, true, false>(backward);
  }
  return saturate ? EchoKernelFor<Isa, false, true>(backward) : EchoKernelFor<Isa, false, false>(backward);
}

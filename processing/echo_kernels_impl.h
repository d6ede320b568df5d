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
  void Apply(uint8_t* destination, V k) const {
    const V pixels = Isa::Load(destination);
    Isa::Store(destination, kSubtract ? Isa::SubSat(pixels, k) : Isa::AddSat(pixels, k));
  }

 private:
  V gain_;
  V limit_;
};

// s > 0: sources lie towards the line start, so walk from the end. Each block's
// source is loaded before its own store, and everything stored so far lies
// beyond it. The partial block sits at the start of the changed run, overlaps
// the block after it and adds 0 there.
template <class Isa, bool kSubtract, bool kSaturate>
void EchoBackward(const echo::EchoPlan& plan) {
  constexpr size_t kBytes = Isa::kBytes;
  const EchoBlock<Isa, kSubtract, kSaturate> block(plan.gain);
  const size_t whole = plan.changed - plan.changed % kBytes;
  const size_t partial = plan.changed % kBytes;
  const typename Isa::V mask = Isa::Load(kMaskTable + 64 - partial);
  const ptrdiff_t source = plan.source;
  uint8_t* pass = plan.first;
  for (size_t p = 0; p < plan.passes; ++p, pass += plan.pitch) {
    uint8_t* begin = pass + plan.begin;
    uint8_t* run = begin + partial;
    for (size_t offset = whole; offset != 0; offset -= kBytes) {
      uint8_t* d = run + offset - kBytes;
      block.Apply(d, block.Scaled(d + source));
    }
    if (partial != 0) block.Apply(begin, Isa::And(block.Scaled(begin + source), mask));
  }
}

// s <= 0: sources lie towards the line end (or are the pixels themselves), so
// walk from the start; the partial block ends the changed run.
template <class Isa, bool kSubtract, bool kSaturate>
void EchoForward(const echo::EchoPlan& plan) {
  constexpr size_t kBytes = Isa::kBytes;
  const EchoBlock<Isa, kSubtract, kSaturate> block(plan.gain);
  const size_t whole = plan.changed - plan.changed % kBytes;
  const size_t partial = plan.changed % kBytes;
  const typename Isa::V mask = Isa::Load(kMaskTable + 32 - kBytes + partial);
  const ptrdiff_t source = plan.source;
  uint8_t* pass = plan.first;
  for (size_t p = 0; p < plan.passes; ++p, pass += plan.pitch) {
    uint8_t* begin = pass + plan.begin;
    for (size_t offset = 0; offset != whole; offset += kBytes) {
      uint8_t* d = begin + offset;
      block.Apply(d, block.Scaled(d + source));
    }
    if (partial != 0) {
      uint8_t* d = begin + plan.changed - kBytes;
      block.Apply(d, Isa::And(block.Scaled(d + source), mask));
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

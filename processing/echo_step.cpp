#include "processing/echo_step.h"

namespace tev {

// Placeholder until the kernel lands.
void ApplyEchoStep(uint8_t*, const FrameFormat*, int32_t, int32_t) {}
void ApplyEchoStepScalar(uint8_t*, const FrameFormat*, int32_t, int32_t) {}

}  // namespace tev

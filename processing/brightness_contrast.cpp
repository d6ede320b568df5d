#include "processing/brightness_contrast.h"

namespace tev {

// Placeholder until the kernel lands.
void AdjustBrightnessContrast(uint8_t*, const FrameFormat*, int32_t, int32_t) {}
void AdjustBrightnessContrastScalar(uint8_t*, const FrameFormat*, int32_t, int32_t) {}

}  // namespace tev

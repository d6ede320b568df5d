// The two exports, the descriptor and the six entry points. Every entry point
// runs inside the module context and lets nothing escape to the host.
#include <windows.h>

#include <cstdint>

#include "abi/host_abi.h"
#include "plugin/module_context.h"
#include "plugin/plugin_state.h"

namespace tev {
namespace {

// Display name and description, code page 1251.
const char kPluginName[] = "TEV (Tevrosa) \xef\xeb\xe0\xe3\xe8\xed";
const char kPluginDescription[] =
    "\xce\xf1\xeb\xe0\xe1\xeb\xe5\xed\xe8\xe5 \xe8\xf1\xea\xe0\xe6\xe5\xed\xe8\xe9 \xe2 "
    "\xf3\xf1\xeb\xee\xe2\xe8\xff\xf5 \xec\xed\xee\xe3\xee\xeb\xf3\xf7\xe5\xe2\xee\xe3\xee "
    "\xef\xf0\xe8\xb8\xec\xe0.";

// Runs body inside the module context; any exception ends the call with `fallback`.
template <class R, class F>
R Guarded(R fallback, F&& body) noexcept {
  try {
    ModuleContextGuard context;
    return body();
  } catch (...) {
    return fallback;
  }
}

template <class F>
void Guarded(F&& body) noexcept {
  try {
    ModuleContextGuard context;
    body();
  } catch (...) {
  }
}

extern "C" {

void TEV_CDECL Init(const PluginInitInfo* info) {
  Guarded([&] { PluginState::Get().Init(info); });
}

int32_t TEV_CDECL SetFormat(const FrameFormat* format) {
  return Guarded<int32_t>(1, [&] { return format ? PluginState::Get().pipeline.SetFormat(format) : 1; });
}

int32_t TEV_CDECL ProcessFrame(FrameInfo* frame) {
  return Guarded<int32_t>(1, [&]() -> int32_t {
    if (!frame) return 0;
    return PluginState::Get().pipeline.ProcessFrame(frame->Pixels, frame->CopyBytes, frame->Channel);
  });
}

void TEV_CDECL FreeBuffers() {
  Guarded([] { PluginState::Get().pipeline.FreeBuffers(); });
}

void TEV_CDECL ShowDialog(const DialogHostInfo* host) {
  Guarded([&] {
    PluginState::Get().dialog.ShowOrBringForward(host ? static_cast<HWND>(host->OwnerWindow) : nullptr);
  });
}

void TEV_CDECL Shutdown() {
  Guarded([] { PluginState::Get().Shutdown(); });
}

}  // extern "C"

const PluginDescriptor kDescriptor = {
    kPluginName, kPluginDescription, Init, SetFormat, ProcessFrame, FreeBuffers, ShowDialog, Shutdown,
};

}  // namespace
}  // namespace tev

extern "C" {

__declspec(dllexport) int32_t TEV_CDECL Korvanta_Plugin_Version() { return 3; }

__declspec(dllexport) const tev::PluginDescriptor* TEV_CDECL Korvanta_Plugin_PR() { return &tev::kDescriptor; }

}  // extern "C"

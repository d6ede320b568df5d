// The host's window for live tuning: shows the input frames in a loop, each
// processed by the plugin on every timer tick, and opens the plugin's dialog
// with this window as its owner.
#pragma once

#include <cstdint>
#include <vector>

#include "host/plugin_host.h"
#include "media/frame_format.h"

namespace tev::host {

struct LiveViewInput {
  media::FrameSize size;
  media::PixelKind kind;                    // what the plugin is given
  std::vector<std::vector<uint8_t>> frames;  // in `kind`
  int frames_per_second = 25;
};

// Runs until the user closes the window; the caller then ends the calling
// order (FreeBuffers, Shutdown). Returns the number of frames shown. The
// title is UTF-8.
int64_t RunLiveView(PluginHost& plugin, const HostChannel& channel, const LiveViewInput& input, const char* title);

}  // namespace tev::host

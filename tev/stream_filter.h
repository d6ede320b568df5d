// The frame loop of `tev filter`: Y4M frames in, the plugin's stages on their
// luma, the same frames out, one at a time in constant memory.
#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <string>

#include "media/y4m_stream.h"
#include "processing/stage_settings.h"

namespace tev::app {

enum class Precision { Exact, High };

struct LumaStages {
  bool enabled = false;  // ProcEnable: off leaves every frame as it came
  StageSettings settings;
  Precision precision = Precision::Exact;
};

// The stages on the luma plane at the start of a frame of `format`; the
// chroma planes after it are never touched.
void ProcessFrameLuma(uint8_t* planes, const media::Y4mFormat& format, const LumaStages& stages);

struct StreamOutcome {
  enum Kind { Done, BadInput, OutputClosed, OutputFailed, Interrupted } kind = Done;
  int64_t frames = 0;   // frames written whole
  std::string message;  // for every kind but Done and OutputClosed
};

// Reads the frames after the header (already read) and writes each as soon as
// it is done, the header first. `stop` is polled between frames and after a
// failed read; `after_frame` sees the count of frames written.
StreamOutcome FilterFrames(media::Y4mReader& reader, media::Y4mWriter& writer, const LumaStages& stages,
                           const volatile std::sig_atomic_t* stop,
                           const std::function<void(int64_t frames)>& after_frame = nullptr);

}  // namespace tev::app

#include "tev/stream_filter.h"

#include <cerrno>
#include <cstring>
#include <vector>

#ifndef _WIN32
#include <signal.h>
#endif

#include "processing/luma_plane.h"
#include "tev/high_precision.h"

namespace tev::app {
namespace {

// A closed pipe downstream is the reader's choice, not a failure of ours
// (Windows' C library reports it as EINVAL on a pipe).
bool OutputWasClosed(int error) {
#ifdef _WIN32
  return error == EPIPE || error == EINVAL;
#else
  return error == EPIPE;
#endif
}

// A frame goes out whole: a stop signal that comes during its write is held
// until the write is done (a blocked read, in contrast, is cut short by it).
class StopSignalsHeld {
 public:
  explicit StopSignalsHeld(bool hold) : hold_(hold) {
#ifndef _WIN32
    if (!hold_) return;
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, &old_);
#endif
  }
  ~StopSignalsHeld() {
#ifndef _WIN32
    if (hold_) pthread_sigmask(SIG_SETMASK, &old_, nullptr);
#endif
  }
  StopSignalsHeld(const StopSignalsHeld&) = delete;
  StopSignalsHeld& operator=(const StopSignalsHeld&) = delete;

 private:
  bool hold_;
#ifndef _WIN32
  sigset_t old_;
#endif
};

StreamOutcome WriteFailed(int64_t frames) {
  const int error = errno;
  if (OutputWasClosed(error)) return {StreamOutcome::OutputClosed, frames, ""};
  return {StreamOutcome::OutputFailed, frames,
          "cannot write frame " + std::to_string(frames + 1) + " to the output: " + std::strerror(error)};
}

}  // namespace

void ProcessFrameLuma(uint8_t* planes, const media::Y4mFormat& format, const LumaStages& stages) {
  if (!stages.enabled) return;
  if (stages.precision == Precision::High)
    ProcessLumaPlaneHighPrecision(planes, format.width, format.width, format.height, stages.settings);
  else
    ProcessLumaPlane(planes, format.width, format.width, format.height, stages.settings);
}

StreamOutcome FilterFrames(media::Y4mReader& reader, media::Y4mWriter& writer, const LumaStages& stages,
                           const volatile std::sig_atomic_t* stop,
                           const std::function<void(int64_t frames)>& after_frame) {
  errno = 0;
  if (!writer.WriteHeader(reader.format())) return WriteFailed(0);
  std::string params;
  std::vector<uint8_t> planes;
  int64_t frames = 0;
  for (;;) {
    if (stop && *stop) return {StreamOutcome::Interrupted, frames, "interrupted"};
    const media::Y4mReader::Result got = reader.ReadFrame(params, planes);
    if (got == media::Y4mReader::Result::End) return {StreamOutcome::Done, frames, ""};
    if (got == media::Y4mReader::Result::Error) {
      if (stop && *stop) return {StreamOutcome::Interrupted, frames, "interrupted"};
      return {StreamOutcome::BadInput, frames, reader.error()};
    }
    ProcessFrameLuma(planes.data(), reader.format(), stages);
    errno = 0;
    bool written;
    {
      const StopSignalsHeld held(stop != nullptr);
      written = writer.WriteFrame(params, planes.data(), planes.size());
    }
    if (!written) return WriteFailed(frames);
    ++frames;
    if (after_frame) after_frame(frames);
  }
}

}  // namespace tev::app

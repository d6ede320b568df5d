// The blind ghost estimator: finds the echoes of a multipath channel from the
// ghosted luma alone, and the plugin settings that cancel them, chosen by
// running candidate settings through the plugin's own stages on the picture.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "estimate/channel_fit.h"

namespace tev::estimate {

// One frame of 8-bit luma, `width` x `height`, lines packed.
struct LumaFrame {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;
};

struct FoundEcho {
  int delay = 0;                // pixels; below 0 the ghost comes before the picture
  double amplitude = 0;         // signed, relative to the direct signal
  std::vector<double> smear;    // centred taps summing to 1
  double confidence = 0;        // how far the echo stands clear of the picture's own likeness at that distance
};

enum class EstimateStatus {
  Done,       // settings found (processing may still be off: no ghost)
  TooSmall,   // fewer lines or pixels than a trustworthy estimate needs
  TooFlat,    // too little detail to see an echo of
};

struct Estimate {
  EstimateStatus status = EstimateStatus::Done;
  std::vector<FoundEcho> echoes;  // empty when no ghost was found
  PluginSettings settings;        // proc_enable false when nothing beats leaving the picture alone
  // The blind criterion (the ghost's correlation left in the output at the
  // echoes' lags and their cascades; lower is cleaner) for processing off and
  // for the chosen settings.
  double score_off = 0;
  double score_on = 0;
};

struct EstimateOptions {
  // Delays searched, in percent of the line width (both signs).
  double min_delay_percent = 1.0;
  double max_delay_percent = 11.0;
  int max_echoes = 3;
  // At most this many frames go into the scoring through the plugin's stages
  // (all frames go into the channel estimate).
  int score_frames = 2;
  // When set, the candidates and the criterion of each round are written here.
  std::FILE* trace = nullptr;
};

// Smallest picture the estimate accepts.
constexpr int kMinEstimateWidth = 64;
constexpr int kMinEstimateHeight = 16;

// Frames must share one size. Never throws for any picture content.
Estimate EstimateGhost(const std::vector<LumaFrame>& frames, const EstimateOptions& options = {});

const char* EstimateStatusText(EstimateStatus status);

}  // namespace tev::estimate

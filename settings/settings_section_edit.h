// Puts one channel's section into an existing settings text and keeps every
// other byte: other channels, the defaults, the dialog position, comments and
// line ends stay exactly as the user or the plugin left them.
#pragma once

#include <cstdint>
#include <string>

namespace tev {

// `section` is the channel's whole section, header line included, ending in
// a line end. Every section of the file whose header names `channel_key`
// ("[1001]", spaces inside the brackets allowed, as the reader takes them)
// is replaced by it, from its header to the next header line or the end. A
// file without one gets it at the end; since the plugin reads channel
// sections only after "[DIALOG]" or "[DEFAULT]", a "[DIALOG]" header goes
// before it when the file has neither. An empty text becomes "[DIALOG]" and
// the section.
std::string ReplaceChannelSection(const std::string& text, int64_t channel_key, const std::string& section);

}  // namespace tev

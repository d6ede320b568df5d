// Whole files read and written at once; `role` names the file in messages
// ("input file", "settings file"), which carry the system's reason.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tev::media {

// Throws FrameFileError: "cannot read input file 'x': No such file or directory".
std::vector<uint8_t> ReadWholeFile(const std::string& path, const std::string& role = "input file");
// Writes through a temporary and a rename, so the target is never half written:
// "cannot write output file 'x': No space left on device".
void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes,
                    const std::string& role = "output file");

}  // namespace tev::media

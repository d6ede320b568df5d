// A line-by-line transcription of the circular section search, kept beside
// the fuzz target as the reference the indexed search must agree with.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "settings/settings_reader.h"

namespace tev::fuzz {

class LineByLineReader {
 public:
  explicit LineByLineReader(std::string image) : image_(std::move(image)) {}

  bool ReadLine(std::string_view& line) {
    line = {};
    if (read_cursor_ == image_.size()) return false;
    const size_t start = read_cursor_;
    while (read_cursor_ < image_.size() && !IsLineEnd(image_[read_cursor_])) ++read_cursor_;
    if (read_cursor_ == image_.size()) return false;
    line = std::string_view(image_).substr(start, read_cursor_ - start);
    ++read_cursor_;
    if (read_cursor_ < image_.size() && IsLineEnd(image_[read_cursor_])) ++read_cursor_;
    return true;
  }

  bool FindSection(std::string_view name) {
    if (image_.empty()) return false;
    const std::string target = "[" + std::string(TrimSettingsSpace(name)) + "]";
    size_t p = section_cursor_;
    read_cursor_ = p;
    do {
      std::string_view line;
      ReadLine(line);
      if (TrimSettingsSpace(line) == target) {
        section_cursor_ = p;
        return true;
      }
      p = read_cursor_;
      if (p == image_.size()) {
        p = 0;
        read_cursor_ = 0;
      }
    } while (p != section_cursor_);
    return false;
  }

  size_t ReadCursor() const { return read_cursor_; }
  size_t SectionCursor() const { return section_cursor_; }

 private:
  static bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

  std::string image_;
  size_t read_cursor_ = 0;
  size_t section_cursor_ = 0;
};

}  // namespace tev::fuzz

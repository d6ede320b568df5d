// Composes the settings file text in memory: section headers and key lines,
// CR LF line ends, no spaces around "=".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "settings/settings_table.h"

namespace tev {

// A byte buffer that starts at 100000 bytes and at least doubles when it
// grows, so a file of many channels costs few reallocations (each one copies
// the whole text, which is slow where realloc cannot remap pages). When it
// cannot grow the text is dropped and the buffer remembers it, so that an
// incomplete text is never mistaken for a whole one.
class OutputBuffer {
 public:
  static constexpr size_t kInitialCapacity = 100000;

  // `capacity_limit` caps the capacity, as if allocation failed beyond it.
  explicit OutputBuffer(size_t capacity_limit = SIZE_MAX);
  ~OutputBuffer();
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;

  void AppendText(std::string_view text);

  std::string_view Text() const { return std::string_view(data_ ? data_ : "", size_); }
  size_t Capacity() const { return capacity_; }
  // True once any text could not be appended.
  bool Failed() const { return failed_; }

 private:
  bool Grow(size_t needed);

  char* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
  size_t capacity_limit_;
  bool failed_ = false;
};

// Decimal text of a row's value as its type says; empty for rows above TypeString.
std::string FormatSettingValue(const SettingDescriptor& row);
std::string FormatSigned64(int64_t value);
std::string FormatUnsigned64(uint64_t value);

class SettingsWriter {
 public:
  explicit SettingsWriter(size_t capacity_limit = SIZE_MAX) : buffer_(capacity_limit) {}

  void AppendText(std::string_view text) { buffer_.AppendText(text); }
  void WriteSectionHeader(std::string_view name);
  void WriteChannelHeader(int64_t key);
  void WriteKeyValue(std::string_view key, std::string_view value);
  void WriteInt32(std::string_view key, int32_t value);
  void WriteSettingsTable(const SettingDescriptor* rows, size_t count);

  const OutputBuffer& Buffer() const { return buffer_; }

 private:
  OutputBuffer buffer_;
};

}  // namespace tev

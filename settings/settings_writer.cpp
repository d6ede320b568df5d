#include "settings/settings_writer.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "settings/settings_reader.h"

namespace tev {
namespace {

template <class T>
std::string Decimal(T value) {
  char text[24];
  const std::to_chars_result result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

template <class T>
T LoadAs(const void* place) {
  T value;
  std::memcpy(&value, place, sizeof value);
  return value;
}

constexpr char kLineEnd[] = "\r\n";

}  // namespace

OutputBuffer::OutputBuffer(size_t capacity_limit) : capacity_limit_(capacity_limit) {
  if (kInitialCapacity <= capacity_limit_) data_ = static_cast<char*>(std::malloc(kInitialCapacity));
  if (data_) {
    capacity_ = kInitialCapacity;
  } else {
    failed_ = true;
  }
}

OutputBuffer::~OutputBuffer() { std::free(data_); }

bool OutputBuffer::Grow(size_t needed) {
  const size_t doubled = capacity_ > SIZE_MAX / 2 ? SIZE_MAX : capacity_ * 2;
  const size_t capacity = std::max({doubled, needed, kInitialCapacity});
  if (capacity > capacity_limit_) return false;
  char* grown = static_cast<char*>(std::realloc(data_, capacity));
  if (!grown) return false;
  data_ = grown;
  capacity_ = capacity;
  return true;
}

void OutputBuffer::AppendText(std::string_view text) {
  if (text.size() > SIZE_MAX - size_ || (size_ + text.size() > capacity_ && !Grow(size_ + text.size()))) {
    failed_ = true;
    return;
  }
  if (!text.empty()) std::memcpy(data_ + size_, text.data(), text.size());
  size_ += text.size();
}

std::string FormatSigned64(int64_t value) { return Decimal(value); }
std::string FormatUnsigned64(uint64_t value) { return Decimal(value); }

std::string FormatSettingValue(const SettingDescriptor& row) {
  switch (KindOfSettingType(row.Type)) {
    case SettingKind::U8: return Decimal(static_cast<unsigned>(LoadAs<uint8_t>(row.Value)));
    case SettingKind::I16: return Decimal(static_cast<int>(LoadAs<int16_t>(row.Value)));
    case SettingKind::U16: return Decimal(static_cast<unsigned>(LoadAs<uint16_t>(row.Value)));
    case SettingKind::U32:
      return Decimal(static_cast<uint32_t>(__atomic_load_n(static_cast<const int32_t*>(row.Value), __ATOMIC_RELAXED)));
    case SettingKind::I32: return Decimal(__atomic_load_n(static_cast<const int32_t*>(row.Value), __ATOMIC_RELAXED));
    case SettingKind::I64: return Decimal(LoadAs<int64_t>(row.Value));
    case SettingKind::U64: return Decimal(LoadAs<uint64_t>(row.Value));
    case SettingKind::String: return *static_cast<const std::string*>(row.Value);
    case SettingKind::None: break;
  }
  return {};
}

void SettingsWriter::WriteSectionHeader(std::string_view name) {
  std::string line = "[";
  line += TrimSettingsSpace(name);
  line += ']';
  line += kLineEnd;
  AppendText(line);
}

void SettingsWriter::WriteChannelHeader(int64_t key) { WriteSectionHeader(FormatSigned64(key)); }

void SettingsWriter::WriteKeyValue(std::string_view key, std::string_view value) {
  std::string line(TrimSettingsSpace(key));
  line += '=';
  line += value;
  line += kLineEnd;
  AppendText(line);
}

void SettingsWriter::WriteInt32(std::string_view key, int32_t value) { WriteKeyValue(key, Decimal(value)); }

void SettingsWriter::WriteSettingsTable(const SettingDescriptor* rows, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (rows[i].Type > kLastSettingType) continue;
    WriteKeyValue(rows[i].Name, FormatSettingValue(rows[i]));
  }
}

}  // namespace tev

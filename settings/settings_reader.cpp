#include "settings/settings_reader.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace tev {
namespace {

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

std::string_view TrimLeft(std::string_view text) {
  size_t start = 0;
  while (start < text.size() && IsSettingsSpace(text[start])) ++start;
  return text.substr(start);
}

std::string_view TrimRight(std::string_view text) {
  size_t end = text.size();
  while (end > 0 && IsSettingsSpace(text[end - 1])) --end;
  return text.substr(0, end);
}

bool IsHeaderText(std::string_view trimmed) {
  return trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']';
}

template <class T>
void StoreAs(void* place, T value) {
  std::memcpy(place, &value, sizeof value);
}

// The live values are read by other threads while a table is read into them.
void Store32(void* place, uint32_t value) {
  __atomic_store_n(static_cast<int32_t*>(place), static_cast<int32_t>(value), __ATOMIC_RELAXED);
}

void StoreBits(const SettingDescriptor& row, uint64_t bits) {
  switch (KindOfSettingType(row.Type)) {
    case SettingKind::U8: StoreAs(row.Value, static_cast<uint8_t>(bits)); break;
    case SettingKind::I16:
    case SettingKind::U16: StoreAs(row.Value, static_cast<uint16_t>(bits)); break;
    case SettingKind::U32:
    case SettingKind::I32: Store32(row.Value, static_cast<uint32_t>(bits)); break;
    case SettingKind::I64:
    case SettingKind::U64: StoreAs(row.Value, bits); break;
    case SettingKind::String:
    case SettingKind::None: break;
  }
}

}  // namespace

bool IsSettingsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view TrimSettingsSpace(std::string_view text) { return TrimRight(TrimLeft(text)); }

uint64_t ParseSettingsDecimal(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsSettingsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  uint64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) value = value * 10 + (text[i] - '0');
  return negative ? 0 - value : value;
}

void StoreSettingValue(const SettingDescriptor& row, std::string_view text) {
  if (KindOfSettingType(row.Type) == SettingKind::String) {
    static_cast<std::string*>(row.Value)->assign(text.data(), text.size());
    return;
  }
  StoreBits(row, ParseSettingsDecimal(text));
}

void StoreSettingDefault(const SettingDescriptor& row) {
  if (KindOfSettingType(row.Type) == SettingKind::String) {
    *static_cast<std::string*>(row.Value) = row.DefaultText ? row.DefaultText : "";
    return;
  }
  StoreBits(row, row.Default);
}

void SettingsReader::SetImage(std::string image) {
  image_ = std::move(image);
  read_cursor_ = 0;
  section_cursor_ = 0;
  listed_any_ = false;
  last_listed_ = 0;
  headers_.clear();
  std::string_view line;
  size_t start = 0;
  while (ReadLine(line)) {
    const std::string_view trimmed = TrimSettingsSpace(line);
    if (IsHeaderText(trimmed)) headers_[std::string(trimmed)].push_back(start);
    start = read_cursor_;
  }
  read_cursor_ = 0;
}

bool SettingsReader::ReadLine(std::string_view& line) {
  line = {};
  const size_t size = image_.size();
  if (read_cursor_ == size) return false;
  const size_t start = read_cursor_;
  while (read_cursor_ < size && !IsLineEnd(image_[read_cursor_])) ++read_cursor_;
  if (read_cursor_ == size) return false;
  line = std::string_view(image_).substr(start, read_cursor_ - start);
  ++read_cursor_;
  if (read_cursor_ < size && IsLineEnd(image_[read_cursor_])) ++read_cursor_;
  return true;
}

bool SettingsReader::FindSection(std::string_view name) {
  if (image_.empty()) return false;
  std::string target = "[";
  target += TrimSettingsSpace(name);
  target += ']';
  read_cursor_ = section_cursor_;
  const auto found = headers_.find(target);
  if (found == headers_.end()) return false;
  // The first match at or after the section found last, else the first one
  // from the start: what a line-by-line circular search would meet first.
  const std::vector<size_t>& offsets = found->second;
  const auto next = std::lower_bound(offsets.begin(), offsets.end(), section_cursor_);
  section_cursor_ = next != offsets.end() ? *next : offsets.front();
  read_cursor_ = section_cursor_;
  std::string_view header;
  ReadLine(header);
  return true;
}

bool SettingsReader::NextSection(std::string& name) {
  name.clear();
  if (image_.empty()) return false;
  read_cursor_ = listed_any_ ? last_listed_ : section_cursor_;
  std::string_view line;
  ReadLine(line);
  size_t start = read_cursor_;
  while (ReadLine(line)) {
    const std::string_view trimmed = TrimSettingsSpace(line);
    if (IsHeaderText(trimmed)) {
      section_cursor_ = start;
      listed_any_ = true;
      last_listed_ = start;
      name.assign(trimmed.substr(1, trimmed.size() - 2));
      return true;
    }
    start = read_cursor_;
  }
  return false;
}

bool SettingsReader::FindValue(std::string_view section, std::string_view key, std::string& value) {
  value.clear();
  key = TrimSettingsSpace(key);
  if (!FindSection(section)) return false;
  std::string_view line;
  while (ReadLine(line)) {
    line = TrimLeft(line);
    if (line.empty()) continue;
    if (line.front() == '[') return false;
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    if (TrimRight(line.substr(0, equals)) != key) continue;
    const std::string_view text = line.substr(equals + 1);
    if (text.empty()) return false;
    value.assign(text);
    return true;
  }
  return false;
}

void SettingsReader::ReadSettingsTable(std::string_view section, const SettingDescriptor* rows, size_t count) {
  std::string value;
  for (size_t i = 0; i < count; ++i) {
    const SettingDescriptor& row = rows[i];
    if (row.Type > kLastSettingType) continue;
    if (FindValue(section, row.Name, value)) {
      StoreSettingValue(row, value);
    } else {
      StoreSettingDefault(row);
    }
  }
}

int32_t SettingsReader::ReadInt32(std::string_view section, std::string_view key, int32_t fallback) {
  std::string value;
  if (!FindValue(section, key, value)) return fallback;
  return static_cast<int32_t>(static_cast<uint32_t>(ParseSettingsDecimal(value)));
}

}  // namespace tev

// Reads the settings file from its image in memory: lines, sections found by a
// circular search, key lookups, and rows of typed values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "settings/settings_table.h"

namespace tev {

// Space, tab, LF, vertical tab, form feed and CR.
bool IsSettingsSpace(char c);
std::string_view TrimSettingsSpace(std::string_view text);

// Leading white space, an optional sign, then decimal digits up to the first
// other character; no digits give 0. The result wraps modulo 2^64, so every
// value the writer emits for any type reads back with the same bits.
uint64_t ParseSettingsDecimal(std::string_view text);

class SettingsReader {
 public:
  SettingsReader() = default;
  SettingsReader(const SettingsReader&) = delete;
  SettingsReader& operator=(const SettingsReader&) = delete;

  // Replaces the file image; the cursors return to 0.
  void SetImage(std::string image);
  const std::string& Image() const { return image_; }

  // The next complete line, without its line end. An unterminated last line
  // is consumed and never returned.
  bool ReadLine(std::string_view& line);
  // Finds "[name]" (name trimmed), searching from the section found last to
  // the end and on from the start. On success SectionCursor marks the header
  // and ReadCursor stands after it; on failure SectionCursor is unchanged.
  bool FindSection(std::string_view name);
  // Lists the next header after the one listed (or found) last; the name is
  // the text between the brackets, untrimmed. Never goes back.
  bool NextSection(std::string& name);
  // The text after the first "=" of the first line of `section` whose key is
  // `key`; false when missing or empty.
  bool FindValue(std::string_view section, std::string_view key, std::string& value);
  // Sets every row's value from `section`, or to its default.
  void ReadSettingsTable(std::string_view section, const SettingDescriptor* rows, size_t count);
  int32_t ReadInt32(std::string_view section, std::string_view key, int32_t fallback);

  size_t ReadCursor() const { return read_cursor_; }
  size_t SectionCursor() const { return section_cursor_; }

 private:
  std::string image_;
  size_t read_cursor_ = 0;
  size_t section_cursor_ = 0;
  // Where NextSection continues: lookups of one listed section may find a
  // duplicate header elsewhere, and enumeration must neither loop nor skip.
  bool listed_any_ = false;
  size_t last_listed_ = 0;
  // Start offsets of every complete line that could be a header, by its
  // trimmed text: turns the circular search into a lookup, so that a file of
  // many unfindable sections cannot make loading quadratic.
  std::unordered_map<std::string, std::vector<size_t>> headers_;
};

// Stores a parsed value text, or the row's default, at the row's value with
// the width of its type. Rows above TypeString are left alone.
void StoreSettingValue(const SettingDescriptor& row, std::string_view text);
void StoreSettingDefault(const SettingDescriptor& row);

}  // namespace tev

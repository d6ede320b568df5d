// The settings table: the 28 rows that drive reading and writing a channel
// record, and the value types a row may have.
#pragma once

#include <array>
#include <cstdint>

#include "settings/settings_index.h"

namespace tev {

// Type codes of a row. Several codes share one kind; codes above 12 (compared
// unsigned) mark a row that is neither read nor written.
enum SettingType : uint32_t {
  TypeU8 = 0,
  TypeI16 = 1,
  TypeU16 = 2,  // also 3
  TypeU32 = 4,  // also 5, 7, 9
  TypeI32 = 6,  // also 8
  TypeI64 = 10,
  TypeU64 = 11,
  TypeString = 12,
};
constexpr uint32_t kLastSettingType = TypeString;

// How a code is stored, parsed and formatted.
enum class SettingKind { None, U8, I16, U16, U32, I32, I64, U64, String };
SettingKind KindOfSettingType(uint32_t type);

// One row bound to the place its value lives. Integer kinds point at an
// integer of the kind's width, TypeString at a std::string.
struct SettingDescriptor {
  uint32_t Type;
  const char* Name;
  void* Value;
  uint64_t Default;                   // the kind's low bits are used
  const char* DefaultText = nullptr;  // TypeString only; null reads as ""
};

// One stored record, also the layout of the live record.
struct ChannelSettings {
  int64_t Key;
  int32_t Values[kSettingCount];
};

// The constant part of a row of the settings table.
struct SettingRow {
  uint32_t Type;
  const char* Name;
  int64_t Default;
};
extern const std::array<SettingRow, kSettingCount> kSettingsTable;

// The settings table bound to the 28 values of `record`.
std::array<SettingDescriptor, kSettingCount> SettingsTableFor(ChannelSettings& record);

}  // namespace tev

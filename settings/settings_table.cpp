#include "settings/settings_table.h"

namespace tev {

SettingKind KindOfSettingType(uint32_t type) {
  switch (type) {
    case 0: return SettingKind::U8;
    case 1: return SettingKind::I16;
    case 2:
    case 3: return SettingKind::U16;
    case 4:
    case 5:
    case 7:
    case 9: return SettingKind::U32;
    case 6:
    case 8: return SettingKind::I32;
    case 10: return SettingKind::I64;
    case 11: return SettingKind::U64;
    case 12: return SettingKind::String;
    default: return SettingKind::None;
  }
}

// Row order is the order of the values in ChannelSettings and of the key lines
// in every channel section.
const std::array<SettingRow, kSettingCount> kSettingsTable = {{
    {TypeU32, "ProcEnable", 0},   {TypeU32, "CorrEnable", 0},   {TypeI32, "Brightness", 0},
    {TypeI32, "Contrast", 0},     {TypeU32, "Step1_Enable", 0}, {TypeI32, "Step1_Shift", 0},
    {TypeI32, "Step1_Level", 0},  {TypeU32, "Step2_Enable", 0}, {TypeI32, "Step2_Shift", 0},
    {TypeI32, "Step2_Level", 0},  {TypeU32, "Step3_Enable", 0}, {TypeI32, "Step3_Shift", 0},
    {TypeI32, "Step3_Level", 0},  {TypeU32, "Step4_Enable", 0}, {TypeI32, "Step4_Shift", 0},
    {TypeI32, "Step4_Level", 0},  {TypeU32, "Step5_Enable", 0}, {TypeI32, "Step5_Shift", 0},
    {TypeI32, "Step5_Level", 0},  {TypeU32, "Step6_Enable", 0}, {TypeI32, "Step6_Shift", 0},
    {TypeI32, "Step6_Level", 0},  {TypeU32, "Step7_Enable", 0}, {TypeI32, "Step7_Shift", 0},
    {TypeI32, "Step7_Level", 0},  {TypeU32, "Step8_Enable", 0}, {TypeI32, "Step8_Shift", 0},
    {TypeI32, "Step8_Level", 0},
}};

std::array<SettingDescriptor, kSettingCount> SettingsTableFor(ChannelSettings& record) {
  std::array<SettingDescriptor, kSettingCount> rows{};
  for (int i = 0; i < kSettingCount; ++i) {
    const SettingRow& row = kSettingsTable[i];
    rows[i] = {row.Type, row.Name, &record.Values[i], static_cast<uint64_t>(row.Default)};
  }
  return rows;
}

}  // namespace tev

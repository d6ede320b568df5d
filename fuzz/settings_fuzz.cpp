// libFuzzer target over the settings file reader, the writer and the store:
//  1. the indexed section search agrees with a line-by-line circular search;
//  2. every section read with a row of each value type, written and read
//     again, gives the same values;
//  3. a store that loads any file and saves it, loaded again, saves the very
//     same bytes (so it leaves the file alone).
// Any disagreement aborts, and the sanitizers catch the rest.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "fuzz/line_by_line_reader.h"
#include "settings/settings_reader.h"
#include "settings/settings_store.h"
#include "settings/settings_writer.h"

namespace tev::fuzz {
namespace {

constexpr size_t kMaxSections = 16;

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "settings fuzz: %s\n", what);
    std::abort();
  }
}

std::vector<std::string> ListSections(const std::string& image) {
  SettingsReader reader;
  reader.SetImage(image);
  std::vector<std::string> names;
  std::string name;
  while (names.size() < kMaxSections && reader.NextSection(name)) names.push_back(name);
  return names;
}

void SearchesAgree(const std::string& image, const std::vector<std::string>& listed) {
  std::vector<std::string> names = {"DIALOG", "DEFAULT", "", " "};
  for (const std::string& name : listed) {
    names.push_back(name);
    names.push_back(std::string(TrimSettingsSpace(name)));
  }
  SettingsReader indexed;
  indexed.SetImage(image);
  LineByLineReader reference(image);
  // Forward, backward and repeated lookups move the section cursor around.
  std::vector<std::string> order = names;
  order.insert(order.end(), names.rbegin(), names.rend());
  for (const std::string& name : order) {
    const bool found = indexed.FindSection(name);
    Check(found == reference.FindSection(name), "found differs");
    Check(indexed.SectionCursor() == reference.SectionCursor(), "section cursor differs");
    if (found) Check(indexed.ReadCursor() == reference.ReadCursor(), "read cursor differs");
  }
}

struct Values {
  uint8_t u8;
  int16_t i16;
  uint16_t u16;
  int32_t u32;
  int32_t i32;
  int64_t i64;
  uint64_t u64;
  std::string text;
  int32_t unused;

  std::vector<SettingDescriptor> Rows() {
    return {{TypeU8, "U8", &u8, 3},          {TypeI16, "I16", &i16, 0xFFFF},   {3, "U16", &u16, 9},
            {TypeU32, "U32", &u32, 1},       {TypeI32, "I32", &i32, 2},        {TypeI64, "I64", &i64, 5},
            {TypeU64, "U64", &u64, 6},       {TypeString, "Text", &text, 0, "fallback"},
            {13, "Unused", &unused, 7}};
  }
  bool operator==(const Values& o) const {
    return u8 == o.u8 && i16 == o.i16 && u16 == o.u16 && u32 == o.u32 && i32 == o.i32 && i64 == o.i64 &&
           u64 == o.u64 && text == o.text && unused == o.unused;
  }
};

void TypedValuesRoundTrip(const std::string& image, const std::vector<std::string>& listed) {
  SettingsReader reader;
  reader.SetImage(image);
  SettingsWriter writer;
  writer.WriteSectionHeader("FIRST");  // NextSection skips the first line
  std::vector<Values> written;
  for (const std::string& name : listed) {
    Values values{};
    values.unused = -1;
    auto rows = values.Rows();
    reader.ReadSettingsTable(name, rows.data(), rows.size());
    Check(values.unused == -1, "a row above 12 was read");
    writer.WriteSectionHeader(name);
    writer.WriteSettingsTable(rows.data(), rows.size());
    written.push_back(values);
  }
  Check(!writer.Buffer().Failed(), "writer failed");

  const std::string text(writer.Buffer().Text());
  SettingsReader again;
  again.SetImage(text);
  std::string name;
  for (size_t i = 0; i < written.size(); ++i) {
    Check(again.NextSection(name), "a written section is missing");
    Check(name == TrimSettingsSpace(listed[i]), "a written section has another name");
    Values values{};
    values.unused = -1;
    auto rows = values.Rows();
    again.ReadSettingsTable(name, rows.data(), rows.size());
    Check(values == written[i], "a value changed on its way through the file");
  }
  Check(!again.NextSection(name), "an extra section was written");
}

// Files in memory behind the store's platform interface.
struct MemoryDisk {
  std::map<std::string, std::string> files;
  int replaces = 0;

  SettingsPlatform Platform() {
    SettingsPlatform platform;
    platform.PathInputs = [] {
      SettingsPathInputs inputs;
      inputs.VersionKnown = true;
      inputs.PlatformId = kPlatformWin32Nt;
      inputs.ExecutablePath = "C:\\Host\\host.exe";
      inputs.CommandLine = "host.exe";
      inputs.MaxPath = 260;
      return inputs;
    };
    platform.CreateFolder = [](const std::string&) {};
    platform.ReadOrCreate = [this](const std::string& path, std::string& content) {
      content = files[path];
      return true;
    };
    platform.Replace = [this](const std::string& path, const char* data, size_t size) {
      ++replaces;
      files[path].assign(data, size);
      return true;
    };
    return platform;
  }
};

int32_t TEV_CDECL KnowsOddKeys(int64_t key) { return static_cast<int32_t>(key & 1); }

void StoreSavesAreStable(const std::string& image) {
  const std::string path = "C:\\Host\\Plugins\\ZRL_TEVPlugin.ini";
  MemoryDisk disk;
  disk.files[path] = image;
  {
    SettingsStore store;
    store.SetPlatform(disk.Platform());
    store.LoadSettings("ZRL_TEVPlugin", KnowsOddKeys);
    store.SelectChannel(static_cast<int64_t>(image.size()));
    store.SetSetting(Brightness, static_cast<int32_t>(image.size()) - 100);
    store.SelectChannel(3);
    store.SaveSettings();
  }
  const std::string first = disk.files[path];
  Check(first.rfind("[DIALOG]\r\n", 0) == 0, "a save does not start with DIALOG");
  const int replaces = disk.replaces;
  {
    SettingsStore store;
    store.SetPlatform(disk.Platform());
    store.LoadSettings("ZRL_TEVPlugin", KnowsOddKeys);
    store.SaveSettings();
  }
  Check(disk.files[path] == first && disk.replaces == replaces, "a second save changed the file");
}

}  // namespace
}  // namespace tev::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tev::fuzz;
  const std::string image(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> listed = ListSections(image);
  SearchesAgree(image, listed);
  TypedValuesRoundTrip(image, listed);
  StoreSavesAreStable(image);
  return 0;
}

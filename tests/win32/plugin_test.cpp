// The real DLL as the host sees it: exports, descriptor, entry points and the
// frame path that needs no dialog.
#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "support/plugin_loader.h"
#include "support/settings_file.h"

namespace tev::testing {
namespace {


const char kName1251[] = "TEV (Tevrosa) \xef\xeb\xe0\xe3\xe8\xed";
const char kDescription1251[] =
    "\xce\xf1\xeb\xe0\xe1\xeb\xe5\xed\xe8\xe5 \xe8\xf1\xea\xe0\xe6\xe5\xed\xe8\xe9 \xe2 "
    "\xf3\xf1\xeb\xee\xe2\xe8\xff\xf5 \xec\xed\xee\xe3\xee\xeb\xf3\xf7\xe5\xe2\xee\xe3\xee "
    "\xef\xf0\xe8\xb8\xec\xe0.";

TEST(Exports, VersionAndDescriptorAreStableAcrossInit) {
  LoadedPlugin plugin;
  ASSERT_TRUE(plugin.ok()) << "cannot load " << WindowsPathFromEnv("TEV_DLL");
  const PluginDescriptor* first = plugin.Descriptor();
  EXPECT_EQ(plugin.Version(), 3);

  PluginInitInfo init{0x1234, KnowsEveryChannel};
  first->Init(&init);
  EXPECT_EQ(plugin.Version(), 3);
  EXPECT_EQ(plugin.Descriptor(), first);
  EXPECT_EQ(plugin.Descriptor(), first);
  first->Shutdown();
  EXPECT_EQ(plugin.Version(), 3);
}

TEST(Exports, DescriptorHoldsTheCp1251TextsAndSixEntryPoints) {
  LoadedPlugin plugin;
  ASSERT_TRUE(plugin.ok());
  const PluginDescriptor& d = plugin.d();
  EXPECT_EQ(std::string(d.Name), std::string(kName1251));
  EXPECT_EQ(std::string(d.Description), std::string(kDescription1251));
  EXPECT_EQ(std::strlen(d.Name), 20u);
  const void* entries[] = {reinterpret_cast<const void*>(d.Init), reinterpret_cast<const void*>(d.SetFormat),
                           reinterpret_cast<const void*>(d.ProcessFrame),
                           reinterpret_cast<const void*>(d.FreeBuffers),
                           reinterpret_cast<const void*>(d.ShowDialog), reinterpret_cast<const void*>(d.Shutdown)};
  for (const void* entry : entries) {
    MEMORY_BASIC_INFORMATION info{};
    ASSERT_NE(VirtualQuery(entry, &info, sizeof(info)), 0u);
    EXPECT_EQ(info.AllocationBase, plugin.module()) << "entry points live in the DLL";
  }
  EXPECT_EQ(GetProcAddress(plugin.module(), "Init"), nullptr) << "only the two exports";
  EXPECT_EQ(GetProcAddress(plugin.module(), "ProcessFrame"), nullptr);
}

// Drives the DLL through a whole session with default settings (processing off).
TEST(Frames, NullPixelsAndProcessingOffLeaveEverythingAlone) {
  ScopedSettingsFile settings("");
  LoadedPlugin plugin;
  ASSERT_TRUE(plugin.ok());
  const PluginDescriptor& d = plugin.d();
  InitKnowingEveryChannel(d);
  FrameFormat format{16, 4, 2, 0, 0};
  EXPECT_EQ(d.SetFormat(&format), 1);

  Channel channel(77, "Test");
  CopyCalls().clear();
  FrameInfo empty = MakeFrame(nullptr, channel);
  EXPECT_EQ(d.ProcessFrame(&empty), 0);
  EXPECT_TRUE(CopyCalls().empty());

  std::vector<uint8_t> pixels(16 * 4 * 2);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 7);
  const std::vector<uint8_t> original = pixels;
  FrameInfo frame = MakeFrame(pixels.data(), channel);
  EXPECT_EQ(d.ProcessFrame(&frame), 1);
  EXPECT_EQ(pixels, original);
  EXPECT_TRUE(CopyCalls().empty());
  d.FreeBuffers();
  d.FreeBuffers();
  d.Shutdown();
}

// Processing on for every channel; formats the plugin cannot process must be
// followed (channel switch, result 1) and left untouched.
TEST(Frames, UnusableFormatsAreLeftUntouched) {
  ScopedSettingsFile settings(
      "[DEFAULT]\r\nProcEnable=1\r\nCorrEnable=1\r\nBrightness=50\r\nContrast=0\r\n"
      "Step1_Enable=1\r\nStep1_Shift=100\r\nStep1_Level=-50\r\n");
  LoadedPlugin plugin;
  ASSERT_TRUE(plugin.ok());
  const PluginDescriptor& d = plugin.d();
  InitKnowingEveryChannel(d);

  const FrameFormat cases[] = {{0, 4, 2, 0, 0},          {8, -1, 2, 0, 0},           {8, 4, -3, 0, 0},
                               {70000, 70000, 2, 0, 0},  {INT_MAX, INT_MAX, 3, 1, 0}, {40000, 40000, 2, 0, 0}};
  std::vector<uint8_t> pixels(256, 100);
  int64_t key = 1;
  for (const FrameFormat& format : cases) {
    EXPECT_EQ(d.SetFormat(&format), 1);
    Channel channel(key++, "X");
    FrameInfo frame = MakeFrame(pixels.data(), channel);
    EXPECT_EQ(d.ProcessFrame(&frame), 1);
    EXPECT_EQ(pixels, std::vector<uint8_t>(256, 100));
    d.FreeBuffers();
  }

  // A usable format right after them is processed (brightness +50 %).
  FrameFormat good{8, 2, 2, 0, 0};
  d.SetFormat(&good);
  Channel channel(key, "Y");
  FrameInfo frame = MakeFrame(pixels.data(), channel);
  EXPECT_EQ(d.ProcessFrame(&frame), 1);
  EXPECT_NE(pixels[0], 100);
  d.FreeBuffers();
  d.Shutdown();
}

TEST(Frames, SetFormatTwiceWithoutFreeBuffersKeepsWorking) {
  ScopedSettingsFile settings("");
  LoadedPlugin plugin;
  ASSERT_TRUE(plugin.ok());
  const PluginDescriptor& d = plugin.d();
  InitKnowingEveryChannel(d);
  FrameFormat rgb{32, 8, 3, 1, 0}, yuy2{16, 8, 2, 0, 0};
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(d.SetFormat(&rgb), 1);
    EXPECT_EQ(d.SetFormat(&yuy2), 1);
  }
  std::vector<uint8_t> pixels(16 * 8 * 2, 3);
  Channel channel(5, "Z");
  FrameInfo frame = MakeFrame(pixels.data(), channel);
  EXPECT_EQ(d.ProcessFrame(&frame), 1);
  d.FreeBuffers();
  d.Shutdown();
}

}  // namespace
}  // namespace tev::testing

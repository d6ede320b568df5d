// The freeze frame through the real DLL: the host's CopyBytes calls, exactly.
// The freeze check box of the open settings dialog is the only way in.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "support/plugin_loader.h"
#include "support/settings_file.h"

namespace tev::testing {
namespace {

constexpr int kFreezeCheckBox = 5047;


void Pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

class FreezeThroughDll : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(plugin_.ok());
    owner_ = CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW, 100, 100, 640, 480, nullptr, nullptr,
                             nullptr, nullptr);
    ASSERT_NE(owner_, nullptr);
    InitKnowingEveryChannel(plugin_.d());
    plugin_.d().SetFormat(&format_);
    pixels_.assign(n_, 0);
  }
  void TearDown() override {
    plugin_.d().FreeBuffers();
    plugin_.d().Shutdown();
    DestroyWindow(owner_);
    Pump();
  }

  void Frame(const Channel& channel, uint8_t fill) {
    pixels_.assign(n_, fill);
    FrameInfo frame = MakeFrame(pixels_.data(), channel);
    CopyCalls().clear();
    EXPECT_EQ(plugin_.d().ProcessFrame(&frame), 1);
    Pump();
  }

  // Opens the dialog and ticks (or clears) its freeze box like a user.
  void ClickFreeze() {
    if (!dialog_) {
      DialogHostInfo host{owner_};
      plugin_.d().ShowDialog(&host);
      Pump();
      dialog_ = GetWindow(owner_, GW_ENABLEDPOPUP);
      if (!dialog_) dialog_ = FindWindowW(nullptr, L"ZRL_TEVPlugin");
      ASSERT_NE(dialog_, nullptr);
    }
    SendDlgItemMessageW(dialog_, kFreezeCheckBox, BM_CLICK, 0, 0);
    Pump();
  }

  ScopedSettingsFile settings_{""};  // processing off: frames change only by the freeze
  LoadedPlugin plugin_;
  FrameFormat format_{12, 5, 2, 0, 0};
  uint32_t n_ = 12 * 5 * 2;
  std::vector<uint8_t> pixels_;
  HWND owner_ = nullptr;
  HWND dialog_ = nullptr;
  Channel one_{1, "One"};
  Channel two_{2, "Two"};
};

TEST_F(FreezeThroughDll, CaptureCopiesTwiceThenHoldCopiesOncePerFrame) {
  Frame(one_, 1);  // the channel switch of the first frame
  ClickFreeze();

  Frame(one_, 50);
  ASSERT_EQ(CopyCalls().size(), 2u);
  const CopyCall capture = CopyCalls()[0], hold = CopyCalls()[1];
  EXPECT_EQ(capture.source, pixels_.data());
  EXPECT_NE(capture.destination, pixels_.data());
  EXPECT_EQ(capture.count, n_);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(capture.destination) % 16, 0u) << "freeze buffer is 16-byte aligned";
  EXPECT_EQ(hold.destination, pixels_.data());
  EXPECT_EQ(hold.source, capture.destination);
  EXPECT_EQ(hold.count, n_);

  for (uint8_t fill : {60, 70, 80}) {
    Frame(one_, fill);
    ASSERT_EQ(CopyCalls().size(), 1u);
    EXPECT_EQ(CopyCalls()[0].destination, pixels_.data());
    EXPECT_EQ(CopyCalls()[0].source, capture.destination);
    EXPECT_EQ(CopyCalls()[0].count, n_);
    EXPECT_EQ(pixels_, std::vector<uint8_t>(n_, 50)) << "the frozen frame is shown";
  }

  ClickFreeze();  // cleared: the picture runs again
  Frame(one_, 90);
  EXPECT_TRUE(CopyCalls().empty());
  EXPECT_EQ(pixels_, std::vector<uint8_t>(n_, 90));
}

TEST_F(FreezeThroughDll, AChannelSwitchCancelsAPendingCapture) {
  Frame(one_, 1);
  ClickFreeze();
  Frame(two_, 40);  // switch in the same call as the pending capture
  EXPECT_TRUE(CopyCalls().empty());
  EXPECT_EQ(pixels_, std::vector<uint8_t>(n_, 40));
  Frame(two_, 41);
  EXPECT_TRUE(CopyCalls().empty()) << "the freeze stays off after the switch";
  EXPECT_EQ(SendDlgItemMessageW(dialog_, kFreezeCheckBox, BM_GETCHECK, 0, 0), BST_UNCHECKED)
      << "the dialog's box follows the state";
}

TEST_F(FreezeThroughDll, AHoldThatOutlivesAFormatChangeCapturesTheNewFormat) {
  Frame(one_, 1);
  ClickFreeze();
  Frame(one_, 50);
  ASSERT_EQ(CopyCalls().size(), 2u);

  plugin_.d().FreeBuffers();
  format_ = {20, 6, 2, 0, 0};
  n_ = 20 * 6 * 2;
  plugin_.d().SetFormat(&format_);
  Frame(one_, 77);
  ASSERT_EQ(CopyCalls().size(), 2u) << "captured anew, no stale buffer shown";
  EXPECT_EQ(CopyCalls()[0].source, pixels_.data());
  EXPECT_EQ(CopyCalls()[0].count, n_);
  EXPECT_EQ(pixels_, std::vector<uint8_t>(n_, 77));
}

}  // namespace
}  // namespace tev::testing

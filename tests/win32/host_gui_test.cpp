// tevhost.exe --dialog: a window that shows the frames with the plugin's dialog
// owned by it; closing the window ends the calling order, so the plugin's
// settings file is written at Shutdown.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "demo/test_card.h"
#include "media/file_access.h"
#include "media/frame_sink.h"
#include "media/whole_file.h"
#include "support/child_process.h"
#include "support/plugin_loader.h"
#include "support/test_folder.h"

namespace tev {
namespace {

struct OwnedSearch {
  HWND owner;
  HWND found;
};

BOOL CALLBACK FindOwned(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<OwnedSearch*>(context);
  if (GetWindow(window, GW_OWNER) == search->owner && IsWindowVisible(window)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

TEST(HostLiveView, ShowsTheDialogOverItsWindowAndShutsDownOnClose) {
  const std::string dir = testing::MakeTestFolder("tev_host_gui_");
  const demo::Canvas card = demo::MakeTestCard(160, 120, 0);
  {
    media::FrameSink sink(dir + "card.png", media::FileFormat::Image, {160, 120}, "");
    sink.Put(card.bgr, media::PixelKind::Bgr24);
    sink.Commit();
  }
  // A run with its own settings file: the host folder is never written.
  media::WriteWholeFile(dir + "empty.ini", {});
  const std::string saved = dir + "saved.ini";
  std::string command = "\"" + testing::WindowsPathFromEnv("TEV_HOST") + "\" --dialog --in " + dir +
                        "card.png --channel 31 --settings " + dir + "empty.ini --save-settings " + saved;
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started));
  testing::ChildProcess process(started);

  HWND main = nullptr;
  OwnedSearch dialog{nullptr, nullptr};
  for (int i = 0; i < 200 && !dialog.found; ++i) {
    Sleep(50);
    main = FindWindowA("TevHostLiveView", nullptr);
    if (main) {
      dialog.owner = main;
      EnumWindows(FindOwned, reinterpret_cast<LPARAM>(&dialog));
    }
  }
  ASSERT_NE(main, nullptr) << "no live window";
  EXPECT_NE(dialog.found, nullptr) << "the plugin's dialog is not owned by the live window";

  PostMessageA(main, WM_CLOSE, 0, 0);
  EXPECT_EQ(process.Await(30000), 0u);

  // Written by the plugin's Shutdown: the channel that the frames came from.
  const std::vector<uint8_t> bytes = media::ReadWholeFile(saved);
  const std::string text(bytes.begin(), bytes.end());
  EXPECT_NE(text.find("[31]\r\n"), std::string::npos) << text;
  testing::RemoveFolderAndFiles(media::WideText(dir));
}

}  // namespace
}  // namespace tev

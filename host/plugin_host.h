// The substitute host's side of the plugin contract: loads the DLL by path,
// checks its interface version, reads its descriptor and calls the entry
// points in the order the plugin requires.
#pragma once

#include <windows.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "abi/host_abi.h"

namespace tev::host {

class PluginError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A ChannelInfo with its name stored inline, the way the host lays it out.
class HostChannel {
 public:
  HostChannel(int64_t key, const std::string& name);
  const ChannelInfo* info() const { return reinterpret_cast<const ChannelInfo*>(bytes_.data()); }

 private:
  std::vector<uint8_t> bytes_;
};

class PluginHost {
 public:
  static constexpr int32_t kInterfaceVersion = 3;

  // Loads the DLL and checks it; throws PluginError with a clear reason.
  explicit PluginHost(const std::string& dll_path);
  // Ends the calling order if the caller did not (FreeBuffers, Shutdown), then unloads.
  ~PluginHost();
  PluginHost(const PluginHost&) = delete;
  PluginHost& operator=(const PluginHost&) = delete;

  // The descriptor's display name, converted from code page 1251 to UTF-8.
  std::string DisplayName() const;

  void Init();
  void SetFormat(int32_t width, int32_t height, bool rgb24);
  int32_t ProcessFrame(uint8_t* pixels, const HostChannel& channel);
  void FreeBuffers();
  void ShowDialog(HWND owner);
  void Shutdown();

  // How often the plugin asked whether the host knows a channel (at saving).
  static int ChannelKnownCalls();

 private:
  HMODULE module_ = nullptr;
  const PluginDescriptor* descriptor_ = nullptr;
  bool initialised_ = false;
  bool formatted_ = false;
  bool shut_down_ = false;
};

}  // namespace tev::host

// Loads the real ZRL_TEVPlugin.dll the way the host does, for Windows-side tests.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "abi/host_abi.h"

namespace tev::testing {

// A Unix path from the environment (set by CTest) as a Windows path on Wine's Z: drive.
std::string WindowsPathFromEnv(const char* variable);
// Folder of the running test program, with a trailing backslash.
std::string ExecutableFolder();

// One load of the DLL: fresh module-lifetime state on every load.
class LoadedPlugin {
 public:
  LoadedPlugin();  // loads the DLL named by TEV_DLL; check ok() before use
  ~LoadedPlugin();
  LoadedPlugin(const LoadedPlugin&) = delete;
  LoadedPlugin& operator=(const LoadedPlugin&) = delete;

  bool ok() const { return descriptor_ != nullptr; }
  int32_t Version() const { return version_(); }
  const PluginDescriptor* Descriptor() const { return pr_(); }
  const PluginDescriptor& d() const { return *descriptor_; }
  HMODULE module() const { return module_; }

 private:
  HMODULE module_ = nullptr;
  int32_t(TEV_CDECL* version_)() = nullptr;
  const PluginDescriptor*(TEV_CDECL* pr_)() = nullptr;
  const PluginDescriptor* descriptor_ = nullptr;
};

// The host callback of a host that still knows every channel.
int32_t TEV_CDECL KnowsEveryChannel(int64_t key);
// Init with that callback, as most tests' host does.
inline void InitKnowingEveryChannel(const PluginDescriptor& plugin) {
  PluginInitInfo init{0, KnowsEveryChannel};
  plugin.Init(&init);
}

// A ChannelInfo with its name stored inline, as the host lays it out.
class Channel {
 public:
  Channel(int64_t key, const std::string& name);
  const ChannelInfo* info() const { return reinterpret_cast<const ChannelInfo*>(bytes_.data()); }

 private:
  std::vector<uint8_t> bytes_;
};

// Records every CopyBytes call (and performs the copy).
struct CopyCall {
  void* destination;
  const void* source;
  uint32_t count;
};
std::vector<CopyCall>& CopyCalls();
void* TEV_CDECL RecordingCopyBytes(void* destination, const void* source, uint32_t count);

// A FrameInfo for `pixels` on `channel` with the recording CopyBytes.
FrameInfo MakeFrame(uint8_t* pixels, const Channel& channel);

}  // namespace tev::testing

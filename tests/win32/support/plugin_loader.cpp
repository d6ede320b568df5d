#include "support/plugin_loader.h"

#include <cstdlib>
#include <cstring>

namespace tev::testing {

std::string WindowsPathFromEnv(const char* variable) {
  const char* value = std::getenv(variable);
  if (!value || !*value) return {};
  std::string path = value;
  if (path[0] == '/') path = "Z:" + path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::string ExecutableFolder() {
  char path[MAX_PATH * 4] = {};
  DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
  std::string folder(path, length);
  return folder.substr(0, folder.find_last_of('\\') + 1);
}

LoadedPlugin::LoadedPlugin() {
  const std::string path = WindowsPathFromEnv("TEV_DLL");
  module_ = LoadLibraryA(path.c_str());
  if (!module_) return;
  // GetProcAddress's generic type says nothing of the real signature.
  version_ = reinterpret_cast<decltype(version_)>(
      reinterpret_cast<void*>(GetProcAddress(module_, "Korvanta_Plugin_Version")));
  pr_ = reinterpret_cast<decltype(pr_)>(reinterpret_cast<void*>(GetProcAddress(module_, "Korvanta_Plugin_PR")));
  if (version_ && pr_) descriptor_ = pr_();
}

LoadedPlugin::~LoadedPlugin() {
  if (module_) FreeLibrary(module_);
}

Channel::Channel(int64_t key, const std::string& name) : bytes_(12 + name.size() + 1, 0) {
  const uint64_t bits = static_cast<uint64_t>(key);
  const uint32_t low = static_cast<uint32_t>(bits), high = static_cast<uint32_t>(bits >> 32);
  std::memcpy(bytes_.data(), &low, 4);
  std::memcpy(bytes_.data() + 4, &high, 4);
  std::memcpy(bytes_.data() + 12, name.c_str(), name.size() + 1);
}

int32_t TEV_CDECL KnowsEveryChannel(int64_t) { return 1; }

std::vector<CopyCall>& CopyCalls() {
  static std::vector<CopyCall> calls;
  return calls;
}

void* TEV_CDECL RecordingCopyBytes(void* destination, const void* source, uint32_t count) {
  CopyCalls().push_back({destination, source, count});
  std::memmove(destination, source, count);
  return destination;
}

FrameInfo MakeFrame(uint8_t* pixels, const Channel& channel) {
  FrameInfo frame{};
  frame.Pixels = pixels;
  frame.CopyBytes = RecordingCopyBytes;
  frame.Channel = channel.info();
  return frame;
}

}  // namespace tev::testing

#include "host/plugin_host.h"

#include <cstring>

#include "media/file_access.h"

namespace tev::host {
namespace {

int g_channel_known_calls = 0;

void* TEV_CDECL HostCopyBytes(void* destination, const void* source, uint32_t count) {
  std::memmove(destination, source, count);
  return destination;
}

// This host keeps every channel: a settings file never loses a channel section
// because of a run of the substitute host.
int32_t TEV_CDECL HostChannelKnown(int64_t) {
  ++g_channel_known_calls;
  return 1;
}

template <class T>
T Export(HMODULE module, const char* name) {
  // GetProcAddress's generic type says nothing of the real signature.
  return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

std::string Cp1251ToUtf8(const char* text) {
  const int wide_length = MultiByteToWideChar(1251, 0, text, -1, nullptr, 0);
  if (wide_length <= 0) return {};
  std::wstring wide(static_cast<size_t>(wide_length), L'\0');
  MultiByteToWideChar(1251, 0, text, -1, wide.data(), wide_length);
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string utf8(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, utf8.data(), length, nullptr, nullptr);
  utf8.resize(static_cast<size_t>(length) - 1);
  return utf8;
}

}  // namespace

HostChannel::HostChannel(int64_t key, const std::string& name) : bytes_(12 + name.size() + 1, 0) {
  const uint64_t bits = static_cast<uint64_t>(key);
  const uint32_t low = static_cast<uint32_t>(bits), high = static_cast<uint32_t>(bits >> 32);
  std::memcpy(bytes_.data(), &low, 4);
  std::memcpy(bytes_.data() + 4, &high, 4);
  std::memcpy(bytes_.data() + 12, name.c_str(), name.size() + 1);
}

PluginHost::PluginHost(const std::string& dll_path) {
  module_ = LoadLibraryW(media::WideText(dll_path).c_str());
  if (!module_)
    throw PluginError("cannot load plugin '" + dll_path + "' (Windows error " + std::to_string(GetLastError()) + ")");
  auto version = Export<int32_t(TEV_CDECL*)()>(module_, "Korvanta_Plugin_Version");
  auto pr = Export<const PluginDescriptor*(TEV_CDECL*)()>(module_, "Korvanta_Plugin_PR");
  if (!version || !pr) {
    FreeLibrary(module_);
    throw PluginError("'" + dll_path + "' is not a plugin: Korvanta_Plugin_Version or Korvanta_Plugin_PR is missing");
  }
  const int32_t found = version();
  if (found != kInterfaceVersion) {
    FreeLibrary(module_);
    throw PluginError("'" + dll_path + "' speaks plugin interface version " + std::to_string(found) + ", not " +
                      std::to_string(kInterfaceVersion));
  }
  descriptor_ = pr();
  if (!descriptor_ || !descriptor_->Init || !descriptor_->SetFormat || !descriptor_->ProcessFrame ||
      !descriptor_->FreeBuffers || !descriptor_->ShowDialog || !descriptor_->Shutdown) {
    FreeLibrary(module_);
    throw PluginError("'" + dll_path + "' has an incomplete plugin descriptor");
  }
}

PluginHost::~PluginHost() {
  if (initialised_ && !shut_down_) Shutdown();
  FreeLibrary(module_);
}

std::string PluginHost::DisplayName() const {
  return descriptor_->Name ? Cp1251ToUtf8(descriptor_->Name) : std::string();
}

void PluginHost::Init() {
  const PluginInitInfo info{0, HostChannelKnown};
  descriptor_->Init(&info);
  initialised_ = true;
}

void PluginHost::SetFormat(int32_t width, int32_t height, bool rgb24) {
  if (formatted_) FreeBuffers();  // a change of format is FreeBuffers, then SetFormat
  const FrameFormat format{width, height, rgb24 ? 3 : 2, rgb24 ? FrameKindRgb24 : 0, 0};
  descriptor_->SetFormat(&format);
  formatted_ = true;
}

int32_t PluginHost::ProcessFrame(uint8_t* pixels, const HostChannel& channel) {
  FrameInfo frame{};
  frame.Pixels = pixels;
  frame.CopyBytes = HostCopyBytes;
  frame.Channel = channel.info();
  return descriptor_->ProcessFrame(&frame);
}

void PluginHost::FreeBuffers() {
  if (!formatted_) return;
  descriptor_->FreeBuffers();
  formatted_ = false;
}

void PluginHost::ShowDialog(HWND owner) {
  const DialogHostInfo info{owner};
  descriptor_->ShowDialog(&info);
}

void PluginHost::Shutdown() {
  if (shut_down_) return;
  FreeBuffers();
  descriptor_->Shutdown();
  shut_down_ = true;
}

int PluginHost::ChannelKnownCalls() { return g_channel_known_calls; }

}  // namespace tev::host

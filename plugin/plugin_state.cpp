#include "plugin/plugin_state.h"

#include <windows.h>

#include <vector>

#include "plugin/module_context.h"
#include "settings/settings_platform_win32.h"

namespace tev {
namespace {

// Posted, never sent: the frame thread must not wait for the dialog's thread.
void PostRefreshAll(void* context) {
  HWND window = static_cast<SettingsDialog*>(context)->Window();
  if (window) PostMessageW(window, WM_REFRESH_CONTROLS, RefreshAll, 0);
}

}  // namespace

PluginState::PluginState() { pipeline.SetRefreshNotifier(PostRefreshAll, &dialog); }

PluginState& PluginState::Get() {
  // Constructed when the module loads; reads no file.
  static PluginState state;
  return state;
}

std::string PluginState::ModuleBaseName() {
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    DWORD length = GetModuleFileNameW(ModuleInstance(), path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return "ZRL_TEVPlugin";
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  std::wstring name(path.begin(), path.end());
  const size_t slash = name.find_last_of(L"\\/");
  if (slash != std::wstring::npos) name.erase(0, slash + 1);
  const size_t dot = name.find_last_of(L'.');
  if (dot != std::wstring::npos) name.erase(dot);
  // The settings file name is 8-bit text; the module's name is ASCII in practice.
  int bytes = WideCharToMultiByte(CP_ACP, 0, name.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string result(bytes > 0 ? bytes - 1 : 0, '\0');
  if (bytes > 1) WideCharToMultiByte(CP_ACP, 0, name.c_str(), -1, &result[0], bytes, nullptr, nullptr);
  return result.empty() ? "ZRL_TEVPlugin" : result;
}

void PluginState::Init(const PluginInitInfo* info) {
  store.SetPlatform(Win32SettingsPlatform());
  store.LoadSettings(ModuleBaseName(), info ? info->ChannelKnown : nullptr);
}

void PluginState::Shutdown() {
  // The dialog's destroy handling hands its position to the store first.
  dialog.CloseOnShutdown();
  store.SaveSettings();
}

namespace {
// Forces construction at load time, as the host expects of module-lifetime objects.
const PluginState& loaded_state = PluginState::Get();
}  // namespace

}  // namespace tev

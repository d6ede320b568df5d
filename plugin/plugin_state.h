// The objects that live as long as the module is loaded.
#pragma once

#include <string>

#include "abi/host_abi.h"
#include "processing/pipeline.h"
#include "settings/settings_store.h"
#include "ui/settings_dialog.h"

namespace tev {

struct PluginState {
  static PluginState& Get();

  void Init(const PluginInitInfo* info);
  void Shutdown();

  // The plugin file's name without folder and extension ("ZRL_TEVPlugin").
  static std::string ModuleBaseName();

  SettingsStore store;
  Pipeline pipeline{store};
  SettingsDialog dialog{store, pipeline};

 private:
  PluginState();
};

}  // namespace tev

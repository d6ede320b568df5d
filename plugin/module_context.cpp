#include "plugin/module_context.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace tev {
namespace {
thread_local HINSTANCE current_resource_instance = nullptr;
}

HINSTANCE ModuleInstance() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

HINSTANCE ResourceInstance() {
  return current_resource_instance ? current_resource_instance : ModuleInstance();
}

ModuleContextGuard::ModuleContextGuard() : previous_(current_resource_instance) {
  current_resource_instance = ModuleInstance();
}

ModuleContextGuard::~ModuleContextGuard() { current_resource_instance = previous_; }

}  // namespace tev

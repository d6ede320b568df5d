// The module context that every entry point makes current: while it is open,
// dialog templates and bitmaps are looked up in this DLL, not in the host.
#pragma once

#include <windows.h>

namespace tev {

// This DLL's own instance handle.
HINSTANCE ModuleInstance();
// Where resources are found on this thread right now.
HINSTANCE ResourceInstance();

// Makes the module's instance the resource instance for its scope and restores
// the caller's on every way out, exceptions included.
class ModuleContextGuard {
 public:
  ModuleContextGuard();
  ~ModuleContextGuard();
  ModuleContextGuard(const ModuleContextGuard&) = delete;
  ModuleContextGuard& operator=(const ModuleContextGuard&) = delete;

 private:
  HINSTANCE previous_;
};

}  // namespace tev

// The installation's registry value that moves the plugin's settings into the
// user's folder, set for one test.
#pragma once

#include <windows.h>

namespace tev::testing {

// Sets HKLM\SOFTWARE\Korvanta\StoreInUsersFolder for one test and removes
// exactly what it added.
class ScopedStoreInUsersFolder {
 public:
  explicit ScopedStoreInUsersFolder(DWORD value) {
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Korvanta", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                        &disposition) != ERROR_SUCCESS) {
      key_ = nullptr;
      return;
    }
    created_key_ = disposition == REG_CREATED_NEW_KEY;
    DWORD size = sizeof previous_;
    had_value_ = RegQueryValueExA(key_, kValue, nullptr, nullptr, reinterpret_cast<BYTE*>(&previous_), &size) ==
                 ERROR_SUCCESS;
    ok_ = RegSetValueExA(key_, kValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
          ERROR_SUCCESS;
  }
  ~ScopedStoreInUsersFolder() {
    if (!key_) return;
    if (had_value_) {
      RegSetValueExA(key_, kValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&previous_), sizeof previous_);
    } else {
      RegDeleteValueA(key_, kValue);
    }
    RegCloseKey(key_);
    if (created_key_) RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Korvanta");
  }
  bool ok() const { return ok_; }

 private:
  static constexpr const char* kValue = "StoreInUsersFolder";
  HKEY key_ = nullptr;
  bool created_key_ = false;
  bool had_value_ = false;
  DWORD previous_ = 0;
  bool ok_ = false;
};

}  // namespace tev::testing

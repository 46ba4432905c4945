#include "sync_settings.h"

namespace setup {

bool SetRegistryDword(const wchar_t* keyPath, const wchar_t* valueName, DWORD value, HKEY root) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (::RegCreateKeyExW(root, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                        &key, &disposition) != ERROR_SUCCESS) {
    return false;
  }
  ::RegSetValueExW(key, valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                   sizeof value);
  ::RegCloseKey(key);
  return true;
}

void WriteSyncSettings() {
  SetRegistryDword(kFiltersKey, kEnableConversion, 0, HKEY_CURRENT_USER);
  SetRegistryDword(kServicesKey, kGuestOnly, 1, HKEY_LOCAL_MACHINE);
}

}  // namespace setup

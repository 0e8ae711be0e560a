#pragma once

// The port memory in the registry: HKEY_CURRENT_USER\SOFTWARE\HV_QRN-M731x,
// numbers as REG_DWORD and texts as REG_SZ, always in the 64-bit view so that
// a 32-bit and a 64-bit build of the tool share one table.

#include "platform/port_store.h"

#include <string>
#include <windows.h>

namespace tessell::platform::windows {

inline constexpr wchar_t kPortStoreKey[] = L"SOFTWARE\\HV_QRN-M731x";

class RegistryPortStore final : public PortStore {
public:
    // `root` and `subKey`: where the values live (tests use a key of their own).
    RegistryPortStore(HKEY root, std::wstring subKey);

    std::string location() const override;
    bool read(StoredValues& values, std::string& problem) override;
    // Registry values are written one by one. The count is zeroed first and
    // written last, so that an interruption leaves either the complete new
    // table or one that reads as empty (the ports are taught again), never
    // one whose count runs over slots of another table.
    bool writeAll(const StoredValues& values, std::string& problem) override;

private:
    HKEY root_;
    std::wstring subKey_;
};

} // namespace tessell::platform::windows

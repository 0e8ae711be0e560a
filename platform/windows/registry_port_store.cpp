#include "platform/windows/registry_port_store.h"

#include "platform/windows/windows_text.h"

#include <cstring>
#include <vector>

namespace tessell::platform::windows {

namespace {

// The count of valid slots: see writeAll.
constexpr wchar_t kCountName[] = L"SavedCount";
// Names and texts longer than this are not the tool's.
constexpr DWORD kValueLimit = 64 * 1024;

class Key {
public:
    Key() = default;
    ~Key() {
        if (key_)
            ::RegCloseKey(key_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY* out() { return &key_; }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

std::string registryError(const char* what, LSTATUS status) {
    return std::string(what) + ": " + errorText(static_cast<DWORD>(status));
}

LSTATUS setNumber(HKEY key, const wchar_t* name, std::uint32_t number) {
    const DWORD value = number;
    return ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                            sizeof value);
}

} // namespace

RegistryPortStore::RegistryPortStore(HKEY root, std::wstring subKey)
    : root_(root), subKey_(std::move(subKey)) {}

std::string RegistryPortStore::location() const {
    std::string rootName = root_ == HKEY_CURRENT_USER ? "HKEY_CURRENT_USER" : "(registry)";
    return rootName + "\\" + utf8Text(subKey_);
}

bool RegistryPortStore::read(StoredValues& values, std::string& problem) {
    values.clear();
    Key key;
    const LSTATUS opened =
        ::RegOpenKeyExW(root_, subKey_.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.out());
    if (opened == ERROR_FILE_NOT_FOUND)
        return true; // nothing taught yet
    if (opened != ERROR_SUCCESS) {
        problem = registryError("cannot be opened", opened);
        return false;
    }
    std::vector<wchar_t> name(16384 + 1);
    std::vector<BYTE> data(kValueLimit);
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataLength = static_cast<DWORD>(data.size());
        DWORD type = 0;
        const LSTATUS status = ::RegEnumValueW(key.get(), index, name.data(), &nameLength, nullptr,
                                               &type, data.data(), &dataLength);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status == ERROR_MORE_DATA)
            continue; // far larger than anything the tool writes: not ours
        if (status != ERROR_SUCCESS) {
            values.clear();
            problem = registryError("cannot be read", status);
            return false;
        }
        const std::string valueName = utf8Text(std::wstring_view(name.data(), nameLength));
        if (type == REG_DWORD && dataLength == sizeof(DWORD)) {
            DWORD number = 0;
            std::memcpy(&number, data.data(), sizeof number);
            values[valueName] = static_cast<std::uint32_t>(number);
        } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
            // The stored length may or may not count a terminating NUL; the
            // text ends at the first one either way.
            std::wstring_view text(reinterpret_cast<const wchar_t*>(data.data()),
                                   dataLength / sizeof(wchar_t));
            text = text.substr(0, text.find(L'\0'));
            values[valueName] = utf8Text(text);
        }
        // Other types are no value of the tool's and are left out.
    }
    return true;
}

bool RegistryPortStore::writeAll(const StoredValues& values, std::string& problem) {
    Key key;
    const LSTATUS created = ::RegCreateKeyExW(
        root_, subKey_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
        KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, key.out(), nullptr);
    if (created != ERROR_SUCCESS) {
        problem = registryError("cannot be created", created);
        return false;
    }
    StoredValues old;
    std::string unreadable;
    read(old, unreadable);

    if (old.count("SavedCount")) {
        if (const LSTATUS status = setNumber(key.get(), kCountName, 0); status != ERROR_SUCCESS) {
            problem = registryError("cannot be written", status);
            return false;
        }
    }
    const auto count = values.find("SavedCount");
    for (const auto& [name, value] : values) {
        if (count != values.end() && &name == &count->first)
            continue;
        const std::wstring wideName = wideText(name);
        if (wideName.empty() && !name.empty()) {
            problem = "the value name \"" + name + "\" cannot be stored";
            return false;
        }
        LSTATUS status;
        if (const auto* number = std::get_if<std::uint32_t>(&value)) {
            status = setNumber(key.get(), wideName.c_str(), *number);
        } else {
            const std::wstring text = wideText(std::get<std::string>(value));
            status = ::RegSetValueExW(key.get(), wideName.c_str(), 0, REG_SZ,
                                      reinterpret_cast<const BYTE*>(text.c_str()),
                                      static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
        }
        if (status != ERROR_SUCCESS) {
            problem = registryError("cannot be written", status);
            return false;
        }
    }
    // Values the new table does not name go: the store is replaced whole.
    for (const auto& entry : old) {
        if (!values.count(entry.first))
            ::RegDeleteValueW(key.get(), wideText(entry.first).c_str());
    }
    if (count != values.end()) {
        LSTATUS status;
        if (const auto* number = std::get_if<std::uint32_t>(&count->second)) {
            status = setNumber(key.get(), kCountName, *number);
        } else {
            const std::wstring text = wideText(std::get<std::string>(count->second));
            status = ::RegSetValueExW(key.get(), kCountName, 0, REG_SZ,
                                      reinterpret_cast<const BYTE*>(text.c_str()),
                                      static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
        }
        if (status != ERROR_SUCCESS) {
            problem = registryError("cannot be written", status);
            return false;
        }
    }
    ::RegFlushKey(key.get());
    return true;
}

} // namespace tessell::platform::windows

namespace tessell::platform {

std::unique_ptr<PortStore> makeUserPortStore() {
    return std::make_unique<windows::RegistryPortStore>(HKEY_CURRENT_USER, windows::kPortStoreKey);
}

} // namespace tessell::platform

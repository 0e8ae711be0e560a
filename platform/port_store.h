#pragma once

// The per-user store the multi-camera tool keeps its taught hub ports in: a
// few named values that outlive the process. Windows keeps them in the
// registry under the current user; on Linux they are a small INI file in the
// user's configuration folder. The store is read whole and written whole, so
// that what is stored is always one complete table.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

namespace tessell::platform {

// A stored value: a 32-bit number (the registry's DWORD) or a text. A store
// that keeps only text (the INI file) hands every value back as text.
using StoredValue = std::variant<std::uint32_t, std::string>;

// Value names compare without regard to ASCII letter case, as the registry's do.
struct ValueNameLess {
    using is_transparent = void;
    bool operator()(std::string_view left, std::string_view right) const;
};
using StoredValues = std::map<std::string, StoredValue, ValueNameLess>;

class PortStore {
public:
    virtual ~PortStore() = default;

    // Where the values live, for messages ("/home/op/.config/tessell/...").
    virtual std::string location() const = 0;

    // Every value of the store into `values`. A store that does not exist yet
    // reads as no values. False, with `values` empty and `problem` saying
    // why, when it exists but cannot be read or is damaged.
    virtual bool read(StoredValues& values, std::string& problem) = 0;

    // Replaces the whole store with `values`, all or nothing: a failure or a
    // power cut leaves the old values. False with `problem` saying why.
    virtual bool writeAll(const StoredValues& values, std::string& problem) = 0;
};

// The store of the user running the process.
std::unique_ptr<PortStore> makeUserPortStore();

} // namespace tessell::platform

#pragma once

// The port memory on Linux: "port-memory.ini" in $XDG_CONFIG_HOME/tessell
// (else ~/.config/tessell), one section [PortMemory] of "name=value" lines
// with the value names a Windows build keeps in the registry:
//
//   [PortMemory]
//   01-HubName=1-2
//   01-RealNum=3
//   SavedCount=1
//
// Numbers are written in decimal; every value reads back as text. Lines
// starting with ';' or '#' are comments; blanks around names and values are
// ignored. A file that breaks these rules (a line without '=', another
// section, a name given twice, a NUL byte, more than 64 KiB) is damaged and
// reads as no values. Writing goes through a temporary file next to the
// store, flushed to the disk and renamed over the old file, so that a power
// cut leaves the old table or the new one, never a part of one.

#include "platform/port_store.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace tessell::platform {

inline constexpr std::string_view kPortStoreSection = "PortMemory";
inline constexpr std::size_t kPortStoreMaxBytes = 64 * 1024;

// Where the user's store lives: $XDG_CONFIG_HOME/tessell/port-memory.ini when
// that variable holds an absolute path, else $HOME/.config/tessell/...; empty
// when neither gives a folder.
std::filesystem::path userPortStoreFile();

// The file's text for `values`; false with `problem` when a name or value
// cannot be written as a line that reads back the same.
bool portStoreText(const StoredValues& values, std::string& text, std::string& problem);
// The values of a file's text; false with `problem` when it is damaged.
bool parsePortStoreText(std::string_view text, StoredValues& values, std::string& problem);

class IniPortStore final : public PortStore {
public:
    // `file` empty: there is no folder to keep the store in; it reads as
    // empty and cannot be written.
    explicit IniPortStore(std::filesystem::path file);

    std::string location() const override;
    bool read(StoredValues& values, std::string& problem) override;
    bool writeAll(const StoredValues& values, std::string& problem) override;

private:
    std::filesystem::path file_;
};

} // namespace tessell::platform

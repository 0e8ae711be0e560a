#pragma once

// Folders the tool finds its files in.

#include <filesystem>
#include <string>

namespace tessell {

// The settings an installed program starts a station folder with, below the
// installation prefix (/usr/share/tessell/setting.ini beside /usr/bin).
inline constexpr const char* kStarterSettingsPath = "share/tessell/setting.ini";

struct ProgramFolderChoice {
    std::filesystem::path folder;
    // Said once on standard error: the station folder was made just now.
    std::string note;
};

// The program folder of an executable in `executableFolder`, the first of:
// - $TESSELL_HOME when set;
// - the executable's folder when it holds a settings file, or when this user
//   may write in it and it is not an installed program's folder (one with
//   the starter settings at ../kStarterSettingsPath): the portable layout;
// - the station folder platform::userDataFolder(), made when missing; while
//   it holds no settings file the starter settings are copied into it;
// - the executable's folder where there is no station folder (Windows).
ProgramFolderChoice chooseProgramFolder(const std::filesystem::path& executableFolder);

// `programFolder`: where the settings files, "pid.ini", the "bin" image folder
// and the result files live: chooseProgramFolder of the running executable.
std::filesystem::path programFolder();

// The user's temporary folder: $TMPDIR when set and not empty, else /tmp.
std::filesystem::path temporaryFolder();

// Where per-session files of the running tool live (its single-instance
// lock): $XDG_RUNTIME_DIR when set and not empty, else the temporary folder.
std::filesystem::path runtimeFolder();

// The file the trace is appended to: $TESSELL_TRACE, empty when unset or empty.
std::filesystem::path traceFile();

} // namespace tessell

#pragma once

// Folders the tool finds its files in.

#include <filesystem>

namespace tessell {

// `programFolder`: where the settings files, "pid.ini", the "bin" image folder
// and the result files live. The executable's folder, or $TESSELL_HOME when
// set (a station can keep its configuration apart from the installed binary).
std::filesystem::path programFolder();

// The user's temporary folder: $TMPDIR when set and not empty, else /tmp.
std::filesystem::path temporaryFolder();

// Where per-session files of the running tool live (its single-instance
// lock): $XDG_RUNTIME_DIR when set and not empty, else the temporary folder.
std::filesystem::path runtimeFolder();

// The file the trace is appended to: $TESSELL_TRACE, empty when unset or empty.
std::filesystem::path traceFile();

} // namespace tessell

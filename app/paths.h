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

} // namespace tessell

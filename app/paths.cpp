#include "app/paths.h"

#include "common/path_text.h"
#include "platform/system.h"
#include "station/settings.h"

#include <cstdio>
#include <cstdlib>
#include <random>
#include <system_error>

namespace tessell {

namespace {

std::filesystem::path environmentPath(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? std::filesystem::path(value) : std::filesystem::path();
}

bool holdsSettingsFile(const std::filesystem::path& folder) {
    return ChooseSettingsFile(folder).settingsIndex.has_value();
}

// Copies the starter settings in as "setting.ini" unless a settings file
// appears there meanwhile: a copy under a name of its own, then a link that
// never replaces a file, so that no copy of the tool reads it half written.
bool copyStarterSettings(const std::filesystem::path& starter,
                         const std::filesystem::path& folder) {
    const std::filesystem::path target = folder / std::string(settingsFileNames[0]);
    const std::filesystem::path copy =
        folder / (".setting.ini." + std::to_string(std::random_device{}()) + ".new");
    std::error_code error;
    if (!std::filesystem::copy_file(starter, copy, error))
        return false;
    std::filesystem::create_hard_link(copy, target, error);
    if (error && error != std::errc::file_exists) // a file system without links
        std::filesystem::copy_file(copy, target, error);
    std::error_code ignored;
    std::filesystem::remove(copy, ignored);
    return !error;
}

} // namespace

ProgramFolderChoice chooseProgramFolder(const std::filesystem::path& executableFolder) {
    if (auto home = environmentPath("TESSELL_HOME"); !home.empty())
        return {home, {}};
    if (executableFolder.empty() || holdsSettingsFile(executableFolder))
        return {executableFolder, {}};
    const std::filesystem::path station = platform::userDataFolder();
    if (station.empty())
        return {executableFolder, {}};
    // An installed program's folder (/usr/bin) is no place for a station's
    // files, also for root, who may write there.
    const std::filesystem::path starter = executableFolder.parent_path() / kStarterSettingsPath;
    std::error_code error;
    const bool installed = std::filesystem::is_regular_file(starter, error);
    if (!installed && platform::mayCreateFilesIn(executableFolder))
        return {executableFolder, {}};

    // A folder that cannot be made is named by the first write that fails.
    const bool made = std::filesystem::create_directories(station, error);
    if (error)
        return {station, {}};
    const bool copied =
        installed && !holdsSettingsFile(station) && copyStarterSettings(starter, station);
    std::string note;
    if (made) {
        note = "tessell: made the station folder \"" + pathText(station) +
               "\" for the settings and the result files";
        if (copied)
            note += "; its \"setting.ini\" starts as a copy of \"" + pathText(starter) + "\"";
    }
    return {station, note};
}

std::filesystem::path programFolder() {
    const ProgramFolderChoice choice =
        chooseProgramFolder(platform::executablePath().parent_path());
    // Only the call that made the folder has a note.
    if (!choice.note.empty())
        std::fprintf(stderr, "%s\n", choice.note.c_str());
    return choice.folder;
}

std::filesystem::path temporaryFolder() {
    if (auto tmp = environmentPath("TMPDIR"); !tmp.empty())
        return tmp;
    return platform::systemTemporaryFolder();
}

std::filesystem::path runtimeFolder() {
    if (auto runtime = environmentPath("XDG_RUNTIME_DIR"); !runtime.empty())
        return runtime;
    return temporaryFolder();
}

std::filesystem::path traceFile() {
    return environmentPath("TESSELL_TRACE");
}

} // namespace tessell

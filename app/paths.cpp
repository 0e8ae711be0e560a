#include "app/paths.h"

#include "platform/system.h"

#include <cstdlib>

namespace tessell {

namespace {

std::filesystem::path environmentPath(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? std::filesystem::path(value) : std::filesystem::path();
}

} // namespace

std::filesystem::path programFolder() {
    if (auto home = environmentPath("TESSELL_HOME"); !home.empty())
        return home;
    return platform::executablePath().parent_path();
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

#include "app/trace_output.h"

#include "common/file_open.h"
#include "common/path_text.h"
#include "common/trace.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <ostream>
#include <system_error>
#include <vector>

namespace tessell {

bool asksForTrace(std::span<const std::string> arguments) {
    return std::find(arguments.begin(), arguments.end(), kTraceOption) != arguments.end();
}

void startTrace(bool toStandardError, const std::filesystem::path& file, std::ostream& err) {
    std::vector<std::shared_ptr<std::FILE>> streams;
    if (toStandardError)
        streams.emplace_back(stderr, [](std::FILE*) {});
    if (!file.empty()) {
        // Appended to, so that the runs of a shift end up one after the other.
        if (std::FILE* opened = openFile(file, "a"))
            streams.emplace_back(opened, [](std::FILE* stream) { std::fclose(stream); });
        else
            err << "tessell: TESSELL_TRACE: \"" << pathText(file) << "\" cannot be opened ("
                << std::generic_category().message(errno) << "); no trace is written to it\n";
    }
    trace::toStreams(std::move(streams));
}

} // namespace tessell

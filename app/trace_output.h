#pragma once

// Where the process's trace goes: standard error when the command line
// carries -v, and the file $TESSELL_TRACE names.

#include <filesystem>
#include <iosfwd>
#include <span>
#include <string>
#include <string_view>

namespace tessell {

// The option that sends the trace to standard error. It takes no value and is
// never the value of another option, wherever it stands on the line.
inline constexpr std::string_view kTraceOption = "-v";

// Whether the arguments (program name excluded) carry the trace option.
bool asksForTrace(std::span<const std::string> arguments);

// Installs the trace's streams: standard error when `toStandardError`, and
// `file` (appended to; none when empty). A file that cannot be opened is
// named on `err` and left out: the diagnostics of a run never stop it.
void startTrace(bool toStandardError, const std::filesystem::path& file, std::ostream& err);

} // namespace tessell

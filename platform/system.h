#pragma once

// Process-level services of the operating system that the core needs.

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace tessell::platform {

// Full path of the running executable; empty when the system cannot tell.
std::filesystem::path executablePath();

// The user's own folder for the tool's files, for when the executable's
// folder cannot hold them (an installed program): "$XDG_DATA_HOME/tessell",
// else "$HOME/.local/share/tessell"; a relative XDG_DATA_HOME counts as
// unset. Empty when no home folder is known, and on Windows, where the
// executable's folder is the program folder as it always was.
std::filesystem::path userDataFolder();

// Whether this process may create files in `folder`.
bool mayCreateFilesIn(const std::filesystem::path& folder);

// The longest path the system opens, in bytes without the terminating NUL.
std::size_t maximumPathBytes();

// Lets writes to a pipe or socket whose reader has gone fail (EPIPE) instead
// of ending the process: a script that stops reading the tool's output must
// not kill a download halfway or keep its result files from being written.
void ignoreBrokenPipes();

// Standard output and error take the tool's bytes as they are: lines end in
// "\n" on every platform (where the C library would otherwise write "\r\n"),
// so that scripts and tests read the same text everywhere.
void binaryStandardStreams();

// The system's temporary folder ("/tmp"; GetTempPathW on Windows), for when
// the environment names none.
std::filesystem::path systemTemporaryFolder();

// The command line as UTF-8 text, program name first. Where the system hands
// main() its arguments in a legacy code page, they are taken from the
// system's own copy of the command line instead.
std::vector<std::string> commandLineArguments(int argc, char** argv);

// The computer's name ("" when the system will not tell).
std::string hostName();

// This process's id, and whether a process of that id runs on this computer.
int currentProcessId();
bool processRunning(int processId);
// When the process of that id started, as a text that tells it from a later
// process given the same id; empty when the system will not tell.
std::string processStartMark(int processId);

} // namespace tessell::platform

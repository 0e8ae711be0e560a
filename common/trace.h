#pragma once

// The trace channel: step-by-step diagnostics of the device and download code
// for the engineer at the bench, never for the operator's log. It is silent
// until something installs a sink (the command line's -v sends it to standard
// error, TESSELL_TRACE to a file). A thread can set a context that prefixes
// its lines, so that the lines of parallel burn workers say which camera they
// are about: a worker sets cameraTag(hub, port) and its lines read
// "[1-2:3] text".

#include "common/text_format.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tessell::trace {

// Receives each finished line, without a line end. Called with the trace
// lock held, so lines of different threads never interleave; a sink must not
// write to the trace itself.
using Sink = std::function<void(std::string_view line)>;

// Installs `sink` (an empty one silences the trace) and returns the previous one.
Sink setSink(Sink sink);

// Sends the trace to every one of `streams` (an empty list silences it).
// Each line is flushed at once, so that a process that dies leaves its last
// lines behind. A stream that cannot be written (a closed pipe, a full disk)
// loses the line; the others still get it.
void toStreams(std::vector<std::shared_ptr<std::FILE>> streams);

// Whether a sink is installed; lets callers skip building expensive lines.
bool enabled();

// One line, prefixed with the calling thread's context when it has one.
void write(std::string_view text);
TESSELL_PRINTF(1, 2) void writef(const char* format, ...);

// The context that names one camera: "hub:port", e.g. "1-2:3".
std::string cameraTag(std::string_view hub, unsigned port);

// Sets the calling thread's context for the lifetime of the guard; guards
// nest. Its lines are prefixed "[context] ".
class ScopedContext {
public:
    explicit ScopedContext(std::string context);
    ~ScopedContext();
    ScopedContext(const ScopedContext&) = delete;
    ScopedContext& operator=(const ScopedContext&) = delete;

private:
    std::string previous_;
};

// The calling thread's current context ("" when none).
const std::string& context();

// Collects every trace line while it lives (for tests), then puts the
// previous sink back.
class Capture {
public:
    Capture();
    ~Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    std::vector<std::string> lines() const;
    // Whether some line contains `text`.
    bool contains(std::string_view text) const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    Sink previous_;
};

} // namespace tessell::trace

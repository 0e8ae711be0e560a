#include "common/trace.h"

#include "common/text_format.h"

#include <atomic>
#include <cstdarg>

namespace tessell::trace {

namespace {

std::mutex& sinkMutex() {
    static std::mutex instance;
    return instance;
}

Sink& installedSink() {
    static Sink instance;
    return instance;
}

std::atomic<bool> sinkInstalled{false};

thread_local std::string threadContext;

} // namespace

Sink setSink(Sink sink) {
    std::lock_guard lock(sinkMutex());
    Sink previous = std::move(installedSink());
    installedSink() = std::move(sink);
    sinkInstalled.store(static_cast<bool>(installedSink()), std::memory_order_release);
    return previous;
}

void toStreams(std::vector<std::shared_ptr<std::FILE>> streams) {
    if (streams.empty()) {
        setSink({});
        return;
    }
    setSink([streams = std::move(streams)](std::string_view line) {
        // One write per line, so that lines of processes sharing a stream or
        // appending to one file do not cut into each other.
        std::string text;
        text.reserve(line.size() + 1);
        text.append(line).push_back('\n');
        for (const auto& stream : streams) {
            std::fwrite(text.data(), 1, text.size(), stream.get());
            std::fflush(stream.get());
        }
    });
}

bool enabled() {
    return sinkInstalled.load(std::memory_order_acquire);
}

void write(std::string_view text) {
    if (!enabled())
        return;
    std::string line;
    if (!threadContext.empty()) {
        line.reserve(threadContext.size() + 3 + text.size());
        line.append("[").append(threadContext).append("] ");
    }
    line.append(text);
    std::lock_guard lock(sinkMutex());
    if (installedSink())
        installedSink()(line);
}

void writef(const char* format, ...) {
    if (!enabled())
        return;
    std::va_list args;
    va_start(args, format);
    const std::string line = formatTextV(format, args);
    va_end(args);
    write(line);
}

std::string cameraTag(std::string_view hub, unsigned port) {
    std::string tag(hub);
    tag.append(":").append(std::to_string(port));
    return tag;
}

ScopedContext::ScopedContext(std::string context) : previous_(std::move(threadContext)) {
    threadContext = std::move(context);
}

ScopedContext::~ScopedContext() {
    threadContext = std::move(previous_);
}

const std::string& context() {
    return threadContext;
}

Capture::Capture() {
    previous_ = setSink([this](std::string_view line) {
        std::lock_guard lock(mutex_);
        lines_.emplace_back(line);
    });
}

Capture::~Capture() {
    setSink(std::move(previous_));
}

std::vector<std::string> Capture::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

bool Capture::contains(std::string_view text) const {
    std::lock_guard lock(mutex_);
    for (const auto& line : lines_)
        if (line.find(text) != std::string::npos)
            return true;
    return false;
}

void Capture::clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
}

} // namespace tessell::trace

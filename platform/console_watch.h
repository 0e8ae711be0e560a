#pragma once

// The person at the console ending a command that runs until told to stop:
// Ctrl-C (or a request to terminate the process) or the end of standard
// input (Ctrl-D, a closed pipe).

#include <functional>
#include <memory>

namespace tessell::platform {

enum class ConsoleEnd { Interrupted, InputEnded };

class ConsoleWatch {
public:
    virtual ~ConsoleWatch() = default;
};

// Watches until the returned handle is destroyed. `ended` is called on a
// thread of the platform's, at most once for each kind of end (an interrupt
// that follows the end of the input is reported too); it must only hand the
// news on.
// While the watch lives Ctrl-C does not end the process, and what is typed
// on standard input is read and dropped. One watch at a time.
std::unique_ptr<ConsoleWatch> watchConsole(std::function<void(ConsoleEnd)> ended);

} // namespace tessell::platform

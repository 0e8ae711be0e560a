#pragma once

// The computer's local time. Time stamps in the files left for the production
// line are local time; the conversion needs the system's time-zone rules, and
// the standard library's own std::localtime shares one buffer between threads.

#include <chrono>
#include <ctime>

namespace tessell::platform {

// Broken-down local time of `instant`. When the system cannot convert it (a
// time outside the range it knows), every field is zero except tm_mday = 1.
std::tm localTime(std::chrono::system_clock::time_point instant);

} // namespace tessell::platform

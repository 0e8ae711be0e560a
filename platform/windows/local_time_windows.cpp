#include "platform/local_time.h"

#include <time.h>

namespace tessell::platform {

std::tm localTime(std::chrono::system_clock::time_point instant) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(instant);
    std::tm fields{};
    // localtime_s fills `fields` only, so threads may stamp lines at once.
    if (localtime_s(&fields, &seconds) != 0) {
        fields = std::tm{};
        fields.tm_mday = 1;
    }
    return fields;
}

} // namespace tessell::platform

#include "platform/local_time.h"

#include <time.h>

namespace tessell::platform {

std::tm localTime(std::chrono::system_clock::time_point instant) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(instant);
    std::tm fields{};
    // localtime_r keeps its result in `fields`, so the download worker and the
    // dialog can stamp lines at the same time.
    if (!localtime_r(&seconds, &fields)) {
        fields = std::tm{};
        fields.tm_mday = 1;
    }
    return fields;
}

} // namespace tessell::platform

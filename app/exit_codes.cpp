#include "app/exit_codes.h"

namespace tessell {

int processStatus(int exitCode) {
    return static_cast<int>(static_cast<unsigned>(exitCode) & 0xFFu);
}

bool endsProcessAtOnce(int exitCode) {
    return exitCode == kExitRefused || exitCode == kExitWrongCamera || exitCode == kExitNoImage;
}

} // namespace tessell

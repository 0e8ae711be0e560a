#pragma once

// The state of the multi-camera tool: teaching its hub ports, waiting for
// cameras on taught ports, burning, or done.

namespace tessell {

enum class MultiBurnState {
    Learning = 40, // no taught ports, or the operator is teaching them
    Standby = 41,
    Burning = 42,
    Finished = 43,
};

} // namespace tessell

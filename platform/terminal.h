#pragma once

// Whether the process's standard streams reach a person: a progress bar is
// drawn only on a terminal, never into a file a script collects.

namespace tessell::platform {

enum class StandardStream { Output, Error };

bool isTerminal(StandardStream stream);

} // namespace tessell::platform

#pragma once

// The statuses the device code tests, from the HRESULTs the capture stack
// answers. Both are HRESULT-shaped already; this only folds the several ways
// Windows says "the camera left", "no such thing" and "busy, ask again" onto
// the one value of each that the device code knows.

#include "platform/status.h"

#include <windows.h>

namespace tessell::platform::windows {

Status statusFromHresult(HRESULT result);

} // namespace tessell::platform::windows

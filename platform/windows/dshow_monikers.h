#pragma once

// The DirectShow video-input category as a walk over its device monikers,
// shared by the device lists and the preview.

#include "platform/status.h"

#include <cstddef>
#include <dshow.h>
#include <functional>
#include <optional>
#include <string>
#include <windows.h>

namespace tessell::platform::windows {

// The most devices one list walks: a bound on a category that never ends.
constexpr std::size_t kMaxListedDevices = 256;

// UTF-16 text from Windows as UTF-8; empty for null.
std::string fromWide(const wchar_t* text);

// One text property of a device ("DevicePath", "FriendlyName"); none when it
// cannot be read.
std::optional<std::string> readProperty(IPropertyBag& bag, const wchar_t* name);

// Calls `visit` with each moniker of the video-input category in order, its
// position and its property bag (null when that cannot be had), until it
// returns false. kNothingDone when the category cannot be listed or is
// empty. The caller has COM initialised.
using MonikerVisit = std::function<bool(std::size_t, IMoniker&, IPropertyBag*)>;
Status forEachVideoInput(const MonikerVisit& visit);

} // namespace tessell::platform::windows

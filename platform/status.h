#pragma once

// Status values of every device request. They keep the values the device and
// download code test (HRESULT-style: negative is a failure), whatever the
// operating system below reports; each backend maps its own errors onto them.

#include <cstdint>

namespace tessell {

using Status = std::int32_t;

namespace status {

constexpr Status kOk = 0;
// Nothing was done or found (an unbound channel, no matching camera).
constexpr Status kNothingDone = 1;
// The request was refused (family outside 'e'..'m', invalid flash code, a
// chip family that does not allow the operation).
constexpr Status kRefused = 160;

constexpr Status fromCode(std::uint32_t code) {
    return static_cast<Status>(code);
}

constexpr Status kNotReady = fromCode(0x80070015);        // ERROR_NOT_READY
constexpr Status kSetNotFound = fromCode(0x80070492);     // ERROR_SET_NOT_FOUND
constexpr Status kNotFound = fromCode(0x80070490);        // ERROR_NOT_FOUND
constexpr Status kMoreData = fromCode(0x800700EA);        // ERROR_MORE_DATA
constexpr Status kDeviceGone = fromCode(0x8007001F);      // ERROR_GEN_FAILURE: device left
constexpr Status kPointer = fromCode(0x80004003);         // E_POINTER
constexpr Status kFail = fromCode(0x80004005);            // E_FAIL: any other failure
constexpr Status kInvalidArgument = fromCode(0x80070057); // E_INVALIDARG
constexpr Status kTimeout = fromCode(0x800705B4);         // ERROR_TIMEOUT: a bounded wait ran out

constexpr bool failed(Status s) {
    return s < 0;
}

// The status as the trace prints it ("0x%08X"): the bits of the 32-bit value.
constexpr unsigned hexCode(Status s) {
    return static_cast<std::uint32_t>(s);
}

} // namespace status
} // namespace tessell

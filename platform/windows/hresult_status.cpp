#include "platform/windows/hresult_status.h"

#include <initializer_list>

namespace tessell::platform::windows {

namespace {

// ERROR_NO_SUCH_DEVICE, missing from older headers.
constexpr DWORD kNoSuchDevice = 433;

bool isWin32(HRESULT result, DWORD code) {
    return result == HRESULT_FROM_WIN32(code);
}

} // namespace

Status statusFromHresult(HRESULT result) {
    if (result == S_OK)
        return status::kOk;
    if (SUCCEEDED(result))
        return result == S_FALSE ? status::kNothingDone : status::kOk;

    // The camera left the bus (or its driver stopped) while a request was on
    // its way; ERROR_GEN_FAILURE is the value the download code waits for.
    for (DWORD gone :
         std::initializer_list<DWORD>{ERROR_GEN_FAILURE, ERROR_DEVICE_NOT_CONNECTED,
                                      ERROR_DEVICE_REMOVED, kNoSuchDevice, ERROR_DEV_NOT_EXIST})
        if (isWin32(result, gone))
            return status::kDeviceGone;
    if (isWin32(result, ERROR_FILE_NOT_FOUND) || isWin32(result, ERROR_PATH_NOT_FOUND))
        return status::kNotFound;
    // The firmware has not taken the previous request yet.
    if (isWin32(result, ERROR_BUSY) || isWin32(result, ERROR_DEVICE_NOT_AVAILABLE))
        return status::kNotReady;
    if (isWin32(result, ERROR_SEM_TIMEOUT) || isWin32(result, WAIT_TIMEOUT))
        return status::kTimeout;
    // A buffer shorter than the control: the same answer as a zero-length read.
    if (isWin32(result, ERROR_INSUFFICIENT_BUFFER))
        return status::kMoreData;
    // The named statuses (not ready, set not found, not found, more data,
    // E_POINTER, E_INVALIDARG, ...) are these HRESULTs already; any other
    // failure stays as the driver said it, negative, so that a trace shows it.
    return static_cast<Status>(result);
}

} // namespace tessell::platform::windows

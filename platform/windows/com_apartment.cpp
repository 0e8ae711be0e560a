#include "platform/windows/com_apartment.h"

#include "common/trace.h"

#include <mfapi.h>
#include <optional>

namespace tessell::platform::windows {

namespace {

using MtaIncrement = HRESULT(WINAPI*)(void** cookie);
using MtaDecrement = HRESULT(WINAPI*)(void* cookie);

// Looked up at run time so that the program still starts on systems
// without them.
template <typename F> F ole32Function(const char* name) {
    HMODULE ole32 = GetModuleHandleW(L"ole32.dll");
    if (!ole32)
        return nullptr;
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(ole32, name)));
}

template <typename F> F systemFunction(HMODULE module, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace

const MfFunctions* mediaFoundation() {
    static const std::optional<MfFunctions> functions = []() -> std::optional<MfFunctions> {
        // Kept loaded for the life of the process.
        HMODULE platform = LoadLibraryExW(L"mfplat.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        HMODULE sources = LoadLibraryExW(L"mf.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (!platform || !sources) {
            trace::write("Media Foundation is not installed: no sensor-camera list.");
            return std::nullopt;
        }
        MfFunctions found{};
        found.startup = systemFunction<decltype(found.startup)>(platform, "MFStartup");
        found.shutdown = systemFunction<decltype(found.shutdown)>(platform, "MFShutdown");
        found.createAttributes =
            systemFunction<decltype(found.createAttributes)>(platform, "MFCreateAttributes");
        found.enumDeviceSources =
            systemFunction<decltype(found.enumDeviceSources)>(sources, "MFEnumDeviceSources");
        if (!found.startup || !found.shutdown || !found.createAttributes ||
            !found.enumDeviceSources)
            return std::nullopt;
        return found;
    }();
    return functions ? &*functions : nullptr;
}

ComThread::ComThread() {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(hr)) { // S_OK, or S_FALSE when the thread already was in it
        ready_ = true;
        uninitialize_ = true;
    } else if (hr == RPC_E_CHANGED_MODE) {
        ready_ = true; // a single-threaded apartment thread, left as it is
    } else {
        trace::writef("CoInitializeEx: 0x%08lX", static_cast<unsigned long>(hr));
    }
}

ComThread::~ComThread() {
    if (uninitialize_)
        CoUninitialize();
}

MtaUsage::MtaUsage() {
    static const auto increment = ole32Function<MtaIncrement>("CoIncrementMTAUsage");
    if (increment && FAILED(increment(&cookie_)))
        cookie_ = nullptr;
}

MtaUsage::~MtaUsage() {
    static const auto decrement = ole32Function<MtaDecrement>("CoDecrementMTAUsage");
    if (cookie_ && decrement)
        decrement(cookie_);
}

MfSession::MfSession() {
    const MfFunctions* mf = mediaFoundation();
    if (!mf)
        return;
    const HRESULT hr = mf->startup(MF_VERSION, MFSTARTUP_LITE);
    started_ = SUCCEEDED(hr);
    if (!started_)
        trace::writef("MFStartup: 0x%08lX", static_cast<unsigned long>(hr));
}

MfSession::~MfSession() {
    if (started_)
        mediaFoundation()->shutdown();
}

} // namespace tessell::platform::windows

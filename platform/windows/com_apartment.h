#pragma once

// COM for the threads that call the camera backend.
//
// The device code calls in from the dialog thread, the download worker and
// the burn threads. Every backend call that creates or enumerates COM
// objects enters the multithreaded apartment for its own duration
// (CoInitializeEx, balanced by CoUninitialize when it succeeded). The capture
// objects made there live in the multithreaded apartment and may be used from
// any thread in it; a thread that never initialised COM is in it implicitly
// as long as the apartment exists, which an MtaUsage keeps so while any
// backend object holds one, whatever the threads do in between. A thread that
// is already single-threaded (a window thread that set COM up its own way)
// keeps its apartment and is not uninitialised here.

#include <mfidl.h>
#include <mfobjects.h>
#include <windows.h>

namespace tessell::platform::windows {

class ComThread {
public:
    ComThread();
    ~ComThread();
    ComThread(const ComThread&) = delete;
    ComThread& operator=(const ComThread&) = delete;

    // Whether COM can be used on this thread now (either apartment).
    bool ready() const { return ready_; }

private:
    bool ready_ = false;
    bool uninitialize_ = false;
};

// Keeps the multithreaded apartment alive while it lives. Does nothing on a
// system without CoIncrementMTAUsage (before Windows 8).
class MtaUsage {
public:
    MtaUsage();
    ~MtaUsage();
    MtaUsage(const MtaUsage&) = delete;
    MtaUsage& operator=(const MtaUsage&) = delete;

private:
    void* cookie_ = nullptr;
};

// Media Foundation's entry points, looked up at run time so that the program
// starts, and lists its DirectShow cameras, on a system without Media
// Foundation (an N edition without its media pack). Null there.
struct MfFunctions {
    HRESULT(WINAPI* startup)(ULONG version, DWORD flags);
    HRESULT(WINAPI* shutdown)();
    HRESULT(WINAPI* createAttributes)(IMFAttributes** attributes, UINT32 size);
    HRESULT(WINAPI* enumDeviceSources)
    (IMFAttributes* attributes, IMFActivate*** objects, UINT32* count);
};
const MfFunctions* mediaFoundation();

// Media Foundation started for the lifetime of the object (MFStartup and a
// balancing MFShutdown); not started without Media Foundation.
class MfSession {
public:
    MfSession();
    ~MfSession();
    MfSession(const MfSession&) = delete;
    MfSession& operator=(const MfSession&) = delete;

    bool started() const { return started_; }

private:
    bool started_ = false;
};

} // namespace tessell::platform::windows

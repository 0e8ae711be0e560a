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

// Media Foundation started for the lifetime of the object (MFStartup and a
// balancing MFShutdown).
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

#pragma once

// One camera's download on a thread of its own: the job (camera, USB port,
// its own copy of the image), the fields its progress and outcome are read
// from, and the observer its texts go to. The single-camera tool runs one
// session at a time; several run side by side when cameras burn together.

#include "download/download_worker.h"

#include <thread>

namespace tessell {

class BurnSession {
public:
    BurnSession(DownloadJob job, BurnObserver& observer);
    // Waits for the worker: it is bounded, and a flash left half-written is
    // worse than a late return.
    ~BurnSession();
    BurnSession(const BurnSession&) = delete;
    BurnSession& operator=(const BurnSession&) = delete;

    // Starts the download. Busy is set before the thread exists, so that
    // nobody sees a started session as idle.
    void start();
    // The worker has reported its outcome (its thread may still be returning).
    bool finished() const { return shared_.done != 0; }
    bool passed() const { return shared_.result == 1; }
    int progress() const { return shared_.status.progress; }
    std::uint8_t stage() const { return shared_.status.stage; }
    // Waits for the worker's thread to end.
    void join();
    // The camera a station burn left open, once the worker has ended.
    std::unique_ptr<CameraLink> takeCamera() {
        join();
        return std::move(job_.link);
    }
    const DownloadStatus& status() const { return shared_.status; }

    const DownloadJob& job() const { return job_; }
    const platform::UsbAddress& address() const { return job_.address; }

private:
    DownloadJob job_;
    DownloadShared shared_;
    BurnObserver& observer_;
    std::thread thread_;
};

} // namespace tessell

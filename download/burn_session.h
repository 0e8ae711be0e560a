#pragma once

// One camera's download on a thread of its own: the job (camera, USB port,
// its own copy of the image), the fields its progress and outcome are read
// from, and the observer its texts go to. The single-camera tool runs one
// session at a time; several run side by side when cameras burn together.
//
// Every tool's download passes through here, so here each one is recorded:
// the intent before the first byte goes to the camera, the outcome right
// after the worker's last word. A tool shows the outcome only after join()
// or recorded(), so a pass it reports is on record; the window's completion
// pause hides the outcome's write.

#include "download/burn_record.h"
#include "download/download_worker.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace tessell {

// What a session records of its burn: where to, and what only the tool
// knows. Without a sink nothing is recorded.
struct BurnRecording {
    BurnRecordSink* sink = nullptr;
    // Station, tool, tool version, row and slot, image name; what the tool
    // read of the camera at selection (chip id, serial) where it has it.
    BurnRecord fields;
    // The tool's words for the outcome (exit code or row status, the text
    // the operator is shown), on the session's thread.
    std::function<void(const Result& outcome, BurnRecord& record)> describeOutcome;
};

class BurnSession {
public:
    BurnSession(DownloadJob job, BurnObserver& observer, BurnRecording recording = {});
    // Waits for the worker: it is bounded, and a flash left half-written is
    // worse than a late return.
    ~BurnSession();
    BurnSession(const BurnSession&) = delete;
    BurnSession& operator=(const BurnSession&) = delete;

    // Starts the download. Busy is set before the thread exists, so that
    // nobody sees a started session as idle.
    void start();
    // The worker has reported its outcome (its record may still be on its
    // way: join() waits for it).
    bool finished() const { return shared_.done != 0; }
    // Finished, and its outcome recorded (or given up on after the bound).
    bool recorded() const { return ended_ != 0; }
    bool passed() const { return shared_.result == 1; }
    // What the download came to, with a failure's reason; once finished.
    const Result& outcome() const { return shared_.outcome; }
    int progress() const { return shared_.status.progress; }
    std::uint8_t stage() const { return shared_.status.stage; }
    // Waits for the worker's thread to end, its outcome recorded.
    void join();
    // The camera a station burn left open, once the worker has ended.
    std::unique_ptr<CameraLink> takeCamera() {
        join();
        return std::move(job_.link);
    }
    const DownloadStatus& status() const { return shared_.status; }

    const DownloadJob& job() const { return job_; }
    const platform::UsbAddress& address() const { return job_.address; }

    // The record as the session wrote it (complete once finished).
    const BurnRecord& record() const { return record_; }

private:
    class TextKeeper;
    void run();
    void recordIntent();
    void recordOutcome(const std::string& workerTexts);

    DownloadJob job_;
    DownloadShared shared_;
    BurnObserver& observer_;
    BurnRecording recording_;
    BurnRecord record_;
    std::chrono::steady_clock::time_point startedAt_;
    std::atomic<int> ended_{0};
    std::thread thread_;
};

} // namespace tessell

#include "download/burn_session.h"

#include "common/sha256.h"
#include "device/flash_parts.h"
#include "device/ic_type.h"
#include "device/usb_identity.h"

#include <mutex>

namespace tessell {

namespace {

// The error text kept in a record: the operator's words, not a whole log.
constexpr std::size_t kRecordErrorLimit = 1000;

std::string plainLine(std::string_view text) {
    std::string line;
    for (const char c : text) {
        if (c == '\r' || c == '\n' || c == '\t') {
            if (!line.empty() && line.back() != ' ')
                line += ' ';
        } else {
            line += c;
        }
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    const auto first = line.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : line.substr(first);
}

} // namespace

// Passes the worker's texts on, keeping those the operator reads: a
// download that does not pass is recorded with what it said.
class BurnSession::TextKeeper final : public BurnObserver {
public:
    explicit TextKeeper(BurnObserver& next) : next_(next) {}
    void appendLog(std::string_view text) override {
        keep(text);
        next_.appendLog(text);
    }
    void burnLog(std::string_view message) override { next_.burnLog(message); }
    void showMessage(std::string_view text) override {
        keep(text);
        next_.showMessage(text);
    }
    void leavePreviewForProgress() override { next_.leavePreviewForProgress(); }
    void showIdleStatus() override { next_.showIdleStatus(); }
    std::string texts() const {
        const std::lock_guard lock(mutex_);
        return texts_;
    }

private:
    void keep(std::string_view text) {
        const std::string line = plainLine(text);
        const std::lock_guard lock(mutex_);
        if (line.empty() || texts_.size() >= kRecordErrorLimit)
            return;
        texts_ += (texts_.empty() ? "" : "; ") + line;
    }

    BurnObserver& next_;
    mutable std::mutex mutex_;
    std::string texts_;
};

BurnSession::BurnSession(DownloadJob job, BurnObserver& observer, BurnRecording recording)
    : job_(std::move(job)), observer_(observer), recording_(std::move(recording)) {}

BurnSession::~BurnSession() {
    join();
}

void BurnSession::start() {
    if (thread_.joinable())
        return;
    shared_.result = 0;
    shared_.outcome = Result();
    shared_.done = 0;
    shared_.busy = 1;
    ended_ = 0;
    thread_ = std::thread([this] { run(); });
}

void BurnSession::run() {
    if (recording_.sink)
        recordIntent();
    TextKeeper texts(observer_);
    download_worker(job_, shared_, recording_.sink ? static_cast<BurnObserver&>(texts) : observer_);
    if (recording_.sink)
        recordOutcome(texts.texts());
    ended_ = 1;
}

void BurnSession::recordIntent() {
    record_ = recording_.fields;
    record_.id = newRecordId();
    job_.recordId = record_.id;
    record_.started = recordTime(std::chrono::system_clock::now());
    record_.hub = job_.address.hub;
    record_.port = job_.address.port;
    record_.chipFamily = std::string(chip::icTypeName(job_.camera));
    record_.flashCode = job_.flashCode;
    if (const auto* part = flash::findPartName(job_.flashCode))
        record_.flashName = std::string(part->name);
    if (job_.link && job_.link->device()) {
        if (!record_.chipId)
            if (const auto id = job_.link->device()->chipId())
                record_.chipId = *id;
        if (job_.usb) {
            if (const auto identity = GetUsbIdentity(*job_.usb, *job_.link); identity.ok()) {
                record_.vidBefore = identity->vid;
                record_.pidBefore = identity->pid;
                record_.bcdBefore = identity->bcdDevice;
                record_.serialBefore = identity->serialNumber;
            }
        }
    }
    if (!record_.vidBefore && job_.vid) {
        record_.vidBefore = job_.vid;
        record_.pidBefore = job_.pid;
    }
    // The image as the tool loaded it, before a serial number goes in.
    const auto content = job_.image.content();
    record_.imageSize = content.size();
    record_.imageSha256 = sha256Hex(content);
    startedAt_ = std::chrono::steady_clock::now();
    recording_.sink->recordIntent(record_);
}

void BurnSession::recordOutcome(const std::string& workerTexts) {
    const bool passed = shared_.result == 1;
    record_.ended = recordTime(std::chrono::system_clock::now());
    record_.durationMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - startedAt_)
                             .count();
    record_.result = passed ? record_result::kPass : record_result::kFail;
    if (job_.serial)
        record_.serialBurned = job_.serial->serial;
    if (passed) {
        // What the written image makes the camera present from its next start.
        const auto content = job_.image.content();
        const image::ImageIdentity written = image::readIdentity(content);
        if (written.vid)
            record_.vidAfter = written.vid;
        if (written.pid)
            record_.pidAfter = written.pid;
        if (written.bcdDevice)
            record_.bcdAfter = written.bcdDevice;
        if (const auto block = image::cameraStringBlockOffset(content, job_.camera))
            if (const auto serial =
                    image::decodeStringBlock(content, *block + image::kSerialBlockDistance))
                record_.serialAfter = *serial;
    }
    if (recording_.describeOutcome)
        recording_.describeOutcome(shared_.outcome, record_);
    if (!passed && !workerTexts.empty())
        record_.error = record_.error.empty() ? workerTexts : workerTexts + "; " + record_.error;
    if (record_.error.size() > kRecordErrorLimit)
        record_.error.resize(kRecordErrorLimit);
    recording_.sink->recordOutcome(record_);
}

void BurnSession::join() {
    if (thread_.joinable())
        thread_.join();
}

} // namespace tessell

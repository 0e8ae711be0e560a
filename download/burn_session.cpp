#include "download/burn_session.h"

namespace tessell {

BurnSession::BurnSession(DownloadJob job, BurnObserver& observer)
    : job_(std::move(job)), observer_(observer) {}

BurnSession::~BurnSession() {
    join();
}

void BurnSession::start() {
    if (thread_.joinable())
        return;
    shared_.result = 0;
    shared_.done = 0;
    shared_.busy = 1;
    thread_ = std::thread([this] { download_worker(job_, shared_, observer_); });
}

void BurnSession::join() {
    if (thread_.joinable())
        thread_.join();
}

} // namespace tessell

#include "records/history_writer.h"

#include <vector>

namespace tessell {

struct HistoryWriter::Item {
    BurnRecord record;
    bool outcome = false;
    bool done = false;
};

HistoryWriter::HistoryWriter(std::unique_ptr<HistoryDb> db, Problems problems,
                             std::chrono::milliseconds bound)
    : db_(std::move(db)), path_(db_->path()), problems_(std::move(problems)), bound_(bound),
      thread_([this] { run(); }) {}

HistoryWriter::~HistoryWriter() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void HistoryWriter::recordIntent(const BurnRecord& record) {
    submit(record, false);
}

void HistoryWriter::recordOutcome(const BurnRecord& record) {
    submit(record, true);
}

void HistoryWriter::submit(const BurnRecord& record, bool outcome) {
    auto item = std::make_shared<Item>();
    item->record = record;
    item->outcome = outcome;
    std::unique_lock lock(mutex_);
    queue_.push_back(item);
    wake_.notify_one();
    // Real time, see kRecordWaitBound.
    if (!written_.wait_for(lock, bound_, [&] { return item->done; })) {
        lock.unlock();
        report("history: the record of " + record.hub + ":" + std::to_string(record.port) +
               " is not yet written to " + path_.string() + " after " +
               std::to_string(bound_.count()) + " ms; the burn goes on without waiting");
    }
}

void HistoryWriter::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        if (queue_.empty())
            return; // stopping, and nothing left to write
        // Everything queued goes in one transaction: sixteen cameras that
        // start or end together cost one sync of the disk, not sixteen.
        std::vector<std::shared_ptr<Item>> batch(queue_.begin(), queue_.end());
        queue_.clear();
        lock.unlock();
        std::vector<HistoryDb::Write> writes;
        for (const auto& item : batch)
            writes.push_back({&item->record, item->outcome});
        std::vector<std::string> problems;
        db_->write(writes, problems);
        for (std::size_t index = 0; index < batch.size(); ++index)
            if (!problems[index].empty()) {
                const BurnRecord& record = batch[index]->record;
                report("history: the " + std::string(batch[index]->outcome ? "outcome" : "intent") +
                       " of " + record.hub + ":" + std::to_string(record.port) + " (record " +
                       record.id + ") could not be written to " + path_.string() + ": " +
                       problems[index]);
            }
        lock.lock();
        for (const auto& item : batch)
            item->done = true;
        written_.notify_all();
    }
}

void HistoryWriter::report(const std::string& line) {
    const std::lock_guard lock(reportMutex_);
    if (problems_)
        problems_(line);
}

} // namespace tessell

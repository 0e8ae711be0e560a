#pragma once

// The one writer of a station's history: every burn session of the process
// (up to 16 at once) hands its records to one thread, which writes whatever
// has queued up in one transaction. A session waits for its record at most
// `bound`; a record that cannot be written, or is late, is named through
// `problems` and the burn goes on with its own result.

#include "download/burn_record.h"
#include "records/history_db.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace tessell {

// How long a burn waits for its record before it goes on without it. Disk
// time, not tool time: the simulator's time scale does not make a disk
// faster, so this bound is real time.
inline constexpr std::chrono::milliseconds kRecordWaitBound{3000};

class HistoryWriter final : public BurnRecordSink {
public:
    // Lines for the operator (standard error, a window's log); called from
    // any thread, one line at a time.
    using Problems = std::function<void(std::string_view line)>;

    HistoryWriter(std::unique_ptr<HistoryDb> db, Problems problems,
                  std::chrono::milliseconds bound = kRecordWaitBound);
    // Writes what is still queued, then closes the file.
    ~HistoryWriter() override;
    HistoryWriter(const HistoryWriter&) = delete;
    HistoryWriter& operator=(const HistoryWriter&) = delete;

    void recordIntent(const BurnRecord& record) override;
    void recordOutcome(const BurnRecord& record) override;

    const std::filesystem::path& path() const { return path_; }

private:
    struct Item;
    void submit(const BurnRecord& record, bool outcome);
    void run();
    void report(const std::string& line);

    std::unique_ptr<HistoryDb> db_;
    std::filesystem::path path_;
    Problems problems_;
    std::chrono::milliseconds bound_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable written_;
    std::deque<std::shared_ptr<Item>> queue_;
    bool stopping_ = false;
    std::mutex reportMutex_;
    std::thread thread_;
};

} // namespace tessell

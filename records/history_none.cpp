// The history of a build without SQLite (the MinGW tree): every open says so,
// and the tools burn without recording.

#include "records/history_db.h"

namespace tessell {

struct HistoryDb::Handle {};

HistoryDb::HistoryDb(std::filesystem::path path, std::unique_ptr<Handle> handle)
    : path_(std::move(path)), handle_(std::move(handle)) {}

HistoryDb::~HistoryDb() = default;

HistoryDb::Opened HistoryDb::open(const std::filesystem::path&, Mode) {
    return {nullptr, "no history on this build (it was built without SQLite)"};
}

bool HistoryDb::write(const std::vector<Write>& writes, std::vector<std::string>& problems) {
    problems.assign(writes.size(), "no history on this build");
    return false;
}

int HistoryDb::markAborted(const std::string&, const std::string&, const ProcessRunning&,
                           std::string& problem) {
    problem = "no history on this build";
    return 0;
}

bool HistoryDb::select(const HistoryQuery&, const ProcessRunning&,
                       const std::function<bool(const BurnRecord&)>&, std::string& problem) {
    problem = "no history on this build";
    return false;
}

std::vector<BurnRecord> HistoryDb::createdAfter(std::int64_t, int, std::string& problem) {
    problem = "no history on this build";
    return {};
}

std::optional<HistoryDb::Counts> HistoryDb::counts(const std::string&, const std::string&) {
    return std::nullopt;
}

bool historyAvailable() {
    return false;
}

} // namespace tessell

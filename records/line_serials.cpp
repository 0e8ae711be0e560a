#include "records/line_serials.h"

#include "common/trace.h"
#include "platform/system.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <random>
#include <set>

namespace tessell {

namespace {

constexpr const char* kTakeSql =
    "SELECT tessell.take_serial($1, $2, $3, $4, $5, $6, $7, $8, $9, $10)";
constexpr const char* kSettleSql = "SELECT tessell.settle_serial($1, $2)";

std::string counterCharacters(std::string_view pattern, std::string_view serial) {
    std::string counter;
    for (std::size_t i = 0; i < pattern.size() && i < serial.size(); ++i)
        if (pattern[i] == '*')
            counter += serial[i];
    return counter;
}

// The allocators alive in this process, by their random id: a reservation
// of this very process is held as long as its allocator lives.
std::mutex liveAllocatorsMutex;
std::set<std::string> liveAllocators;

bool allocatorLives(const std::string& token) {
    const std::lock_guard lock(liveAllocatorsMutex);
    return liveAllocators.count(token) != 0;
}

enum class ReservationHolder { Gone, Running, Elsewhere };

ReservationHolder reservationHolder(const std::optional<std::string>& host,
                                    const std::string& pidText, const std::string& started,
                                    const std::string& token) {
    // A tessell too old to name its process: voided at start, as it was then.
    if (!host)
        return ReservationHolder::Gone;
    if (*host != platform::hostName())
        return ReservationHolder::Elsewhere;
    const int pid = std::atoi(pidText.c_str());
    // The start tells a process from a later one given the same id.
    const std::string runningSince = platform::processStartMark(pid);
    if (!platform::processRunning(pid) ||
        (!runningSince.empty() && !started.empty() && runningSince != started))
        return ReservationHolder::Gone;
    if (pid == platform::currentProcessId())
        return allocatorLives(token) ? ReservationHolder::Running : ReservationHolder::Gone;
    return ReservationHolder::Running;
}

} // namespace

ResolvedReservations resolveReservations(LineConnection& line, const std::string& station) {
    ResolvedReservations resolved;
    const auto open = line.exec("SELECT request_id, owner_host, coalesce(owner_pid, 0)::text, "
                                "owner_started, owner_token FROM tessell.serial_reservations "
                                "WHERE station = $1 AND state = 'reserved'",
                                {station});
    if (!open.ok) {
        resolved.problem = open.error;
        return resolved;
    }
    auto gone = nlohmann::json::array();
    for (std::size_t row = 0; row < open.rows.size(); ++row) {
        switch (reservationHolder(open.rows[row].at(1), open.text(row, 2), open.text(row, 3),
                                  open.text(row, 4))) {
        case ReservationHolder::Gone:
            gone.push_back(open.text(row, 0));
            break;
        case ReservationHolder::Running:
            ++resolved.running;
            break;
        case ReservationHolder::Elsewhere:
            ++resolved.elsewhere;
            break;
        }
    }
    if (!gone.empty()) {
        const auto voided =
            line.exec("SELECT tessell.void_reservations($1, $2)", {station, gone.dump()});
        if (!voided.ok) {
            resolved.problem = voided.error;
            return resolved;
        }
        for (std::size_t row = 0; row < voided.rows.size(); ++row)
            resolved.voided.push_back(voided.text(row, 0));
    }
    resolved.ok = true;
    return resolved;
}

LineSerialSource::LineSerialSource(std::string connection, std::string station,
                                   std::filesystem::path file, std::string fileName)
    : connection_(std::move(connection)), station_(std::move(station)), file_(std::move(file)),
      fileName_(std::move(fileName)), name_("the line database " + describeDatabase(connection_)) {
    std::random_device seed;
    char token[40];
    std::snprintf(token, sizeof token, "%08x%08x%08x", seed(), seed(), seed());
    token_ = token;
    host_ = platform::hostName();
    pid_ = std::to_string(platform::currentProcessId());
    started_ = platform::processStartMark(platform::currentProcessId());
    const std::lock_guard lock(liveAllocatorsMutex);
    liveAllocators.insert(token_);
}

LineSerialSource::~LineSerialSource() {
    const std::lock_guard lock(liveAllocatorsMutex);
    liveAllocators.erase(token_);
}

std::string LineSerialSource::newRequestId() {
    return station_ + "/" + token_ + "-" + std::to_string(++requests_);
}

LineConnection* LineSerialSource::connection(std::string& problem) {
    if (open_ && !open_->broken())
        return open_.get();
    open_ = LineConnection::open(connection_, problem);
    if (!open_)
        return nullptr;
    // What processes of this station that are gone left in flight (one
    // that died, a confirmation the database never heard) cannot be known
    // any more.
    if (!resolvedAtStart_) {
        const ResolvedReservations resolved = resolveReservations(*open_, station_);
        if (!resolved.ok) {
            problem = resolved.problem;
            open_.reset();
            return nullptr;
        }
        resolvedAtStart_ = true;
        if (!resolved.voided.empty())
            trace::writef("line: %zu reservation(s) of station %s left in flight by a process "
                          "that is gone ended void",
                          resolved.voided.size(), station_.c_str());
    }
    while (!unsettled_.empty()) {
        const auto voided = open_->exec(kSettleSql, {unsettled_.back(), std::string("void")});
        if (!voided.ok)
            break;
        unsettled_.pop_back();
    }
    return open_.get();
}

std::optional<SerialNumberText> LineSerialSource::take(const platform::UsbAddress& camera,
                                                       const std::string& recordId,
                                                       SerialNumberOutput& output) {
    // The file gives the pattern, and the first number of a new counter.
    std::optional<SerialNumberText> text = read_serial_file(file_, fileName_, output);
    if (!text)
        return std::nullopt;
    std::lock_guard lock(mutex_);
    const std::string request = newRequestId();
    const std::string port = camera.text();
    std::string problem;
    LineConnection::Result taken;
    // A request repeated over a new connection gets the number the first
    // one may already have reserved, never a second.
    for (int attempt = 0; attempt < 2; ++attempt) {
        LineConnection* database = connection(problem);
        if (!database)
            break;
        taken = database->exec(
            kTakeSql, {request, text->pattern, text->serial, station_, port,
                       recordId.empty() ? std::nullopt : std::optional<std::string>(recordId),
                       host_, pid_, started_, token_});
        if (taken.ok || !database->broken()) {
            problem = taken.error;
            break;
        }
        problem = taken.error;
        open_.reset();
    }
    if (!taken.ok) {
        const bool reached = open_ && !open_->broken();
        output.appendLog("\r\n" + name_ +
                         (reached ? " gives no serial number: " : " cannot be reached: ") +
                         problem + ". Nothing is written to the camera.\r\n");
        return std::nullopt;
    }
    const std::string serial = taken.text(0, 0);
    if (serial.size() != text->pattern.size()) {
        // Not a number this station can burn; it is never handed out again.
        settle(request, "void");
        output.appendLog("\r\n" + name_ + " gave serial number \"" + serial +
                         "\", which does not fit the pattern " + text->pattern + "\r\n");
        return std::nullopt;
    }
    trace::writef("line: serial number %s reserved for %s (request %s)", serial.c_str(),
                  port.c_str(), request.c_str());
    text->serial = serial;
    text->counter = counterCharacters(text->pattern, serial);
    text->request = request;
    return text;
}

bool LineSerialSource::settle(const std::string& request, const char* state,
                              std::string* settledAs) {
    std::string problem;
    for (int attempt = 0; attempt < 2; ++attempt) {
        LineConnection* database = connection(problem);
        if (!database)
            break;
        const auto answer = database->exec(kSettleSql, {request, std::string(state)});
        if (answer.ok) {
            if (settledAs)
                *settledAs = answer.text(0, 0);
            return true;
        }
        problem = answer.error;
        if (!database->broken())
            break;
        open_.reset();
    }
    trace::writef("line: request %s not ended as %s: %s", request.c_str(), state, problem.c_str());
    unsettled_.push_back(request);
    return false;
}

bool LineSerialSource::confirm(const SerialNumberText& text, SerialNumberOutput& output) {
    std::lock_guard lock(mutex_);
    std::string state;
    if (!settle(text.request, "burned", &state)) {
        // Still reserved in the database, and void at the next contact: the
        // number is never handed out again, so the camera keeps its pass.
        output.appendLog("\r\nSerial number " + text.serial + " could not be confirmed in " +
                         name_ + ": it ends void and is never handed out again.\r\n");
        return true;
    }
    if (state == "burned" || state == "void")
        return true;
    // Released (or never reserved): another camera may get it.
    output.appendLog("\r\n" + name_ + " no longer holds serial number " + text.serial +
                     " for this camera (" + (state.empty() ? "unknown" : state) + ").\r\n");
    return false;
}

void LineSerialSource::release(const SerialNumberText& text) {
    std::lock_guard lock(mutex_);
    settle(text.request, "released");
}

void LineSerialSource::voidNumber(const SerialNumberText& text) {
    std::lock_guard lock(mutex_);
    settle(text.request, "void");
}

} // namespace tessell

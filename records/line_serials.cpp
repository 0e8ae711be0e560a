#include "records/line_serials.h"

#include "common/trace.h"

#include <cstdio>
#include <random>

namespace tessell {

namespace {

constexpr const char* kTakeSql = "SELECT tessell.take_serial($1, $2, $3, $4, $5, $6)";
constexpr const char* kSettleSql = "SELECT tessell.settle_serial($1, $2)";
constexpr const char* kResolveSql = "SELECT tessell.resolve_station($1)";

std::string counterCharacters(std::string_view pattern, std::string_view serial) {
    std::string counter;
    for (std::size_t i = 0; i < pattern.size() && i < serial.size(); ++i)
        if (pattern[i] == '*')
            counter += serial[i];
    return counter;
}

} // namespace

LineSerialSource::LineSerialSource(std::string connection, std::string station,
                                   std::filesystem::path file, std::string fileName)
    : connection_(std::move(connection)), station_(std::move(station)), file_(std::move(file)),
      fileName_(std::move(fileName)), name_("the line database " + describeDatabase(connection_)) {
    std::random_device seed;
    requestSalt_ = (std::uint64_t{seed()} << 32) ^ seed();
}

std::string LineSerialSource::newRequestId() {
    char text[80];
    std::snprintf(text, sizeof text, "%016llx-%llu", static_cast<unsigned long long>(requestSalt_),
                  static_cast<unsigned long long>(++requests_));
    return station_ + "/" + text;
}

LineConnection* LineSerialSource::connection(std::string& problem) {
    if (open_ && !open_->broken())
        return open_.get();
    open_ = LineConnection::open(connection_, problem);
    if (!open_)
        return nullptr;
    // Whatever this station left in flight before (a process that died, a
    // confirmation the database never heard) cannot be known any more.
    if (!resolvedAtStart_) {
        const auto voided = open_->exec(kResolveSql, {station_});
        if (!voided.ok) {
            problem = voided.error;
            open_.reset();
            return nullptr;
        }
        resolvedAtStart_ = true;
        if (voided.text(0, 0) != "0")
            trace::writef("line: %s reservation(s) of station %s left in flight ended void",
                          voided.text(0, 0).c_str(), station_.c_str());
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
            kTakeSql, {request, text->pattern, text->serial, station_, port, std::nullopt});
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

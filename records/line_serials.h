#pragma once

// Serial numbers from the line database. The station's serial-number file
// still gives the pattern, and the first number when the line has no counter
// for that pattern yet; the database hands out every number after that, to
// every station of the line, each number once.
//
// A number is reserved in the database (station, port, time) before anything
// is written to the camera, under a request id of this process: a request
// repeated after a broken connection gets the number it already holds, never
// a second one. When the database cannot be reached no number is given and
// the camera fails before it is written; the station never falls back to its
// file. A reservation this process could not settle (the database went away
// between the write and the confirmation) ends void at the next contact.
//
// Each reservation names the process that holds it: its computer, process
// id and start, and a random id of the allocator. Several processes may burn
// under one station name (the multi-camera window beside `tessell flash`);
// when one of them starts, only the reservations of processes that no longer
// run end void.

#include "download/serial_number.h"
#include "records/line_database.h"

#include <cstdint>
#include <mutex>

namespace tessell {

// Ends void the reservations of `station` in flight whose process is gone:
// one of this computer that no longer runs, or one from a tessell too old to
// name its process. A reservation held by a running process, or taken on
// another computer (whose processes this one cannot see), stays in flight.
struct ResolvedReservations {
    bool ok = false;
    std::string problem;
    std::vector<std::string> voided; // the numbers that ended void
    int running = 0;                 // left: their process still runs here
    int elsewhere = 0;               // left: taken on another computer
};
ResolvedReservations resolveReservations(LineConnection& line, const std::string& station);

class LineSerialSource final : public SerialNumberSource {
public:
    // `connection` is the libpq connection string, `station` this station's
    // name on the line, `file` and `fileName` the serial-number file.
    LineSerialSource(std::string connection, std::string station, std::filesystem::path file,
                     std::string fileName);
    ~LineSerialSource() override;
    LineSerialSource(const LineSerialSource&) = delete;
    LineSerialSource& operator=(const LineSerialSource&) = delete;

    std::optional<SerialNumberText> take(const platform::UsbAddress& camera,
                                         const std::string& recordId,
                                         SerialNumberOutput& output) override;
    bool confirm(const SerialNumberText& text, SerialNumberOutput& output) override;
    void release(const SerialNumberText& text) override;
    void voidNumber(const SerialNumberText& text) override;
    // "the line database host/dbname".
    const std::string& name() const override { return name_; }

private:
    // The open connection, opened now if needed; null with `problem`.
    LineConnection* connection(std::string& problem);
    // Ends `request` as `state`; false when the database could not be told.
    bool settle(const std::string& request, const char* state, std::string* settledAs = nullptr);
    std::string newRequestId();

    std::string connection_;
    std::string station_;
    std::filesystem::path file_;
    std::string fileName_;
    std::string name_;
    std::mutex mutex_;
    std::unique_ptr<LineConnection> open_;
    bool resolvedAtStart_ = false;
    // Reservations whose end the database was not told.
    std::vector<std::string> unsettled_;
    // Who holds this allocator's reservations: this computer, this process
    // (its id and start) and this allocator (a random id).
    std::string host_;
    std::string pid_;
    std::string started_;
    std::string token_;
    std::uint64_t requests_ = 0;
};

} // namespace tessell

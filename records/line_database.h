#pragma once

// The line database: one PostgreSQL database that every station of a
// production line shares for its serial numbers. A connection string in
// libpq's forms ("host=... dbname=...", "postgresql://...", "service=...")
// names it; passwords belong in libpq's password or service files, and any
// password written into the string itself is masked wherever the string is
// shown.
//
// Every call is bounded: the connection has a connect time-out, TCP
// keep-alives and a user time-out (a server that vanished from the network
// ends a call as a failure within seconds), and the server ends any
// statement or lock wait that runs longer than the station may wait.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct pg_conn;

namespace tessell {

// `text` with the value of any password in it replaced by "***": the
// password= key of the key/value form, the password part of a URI's user
// information and a password= query parameter of a URI.
std::string maskConnectionPassword(std::string_view text);

// The server and database `text` names, for messages: "host:port/dbname"
// (the parts it names), never a password.
std::string describeDatabase(std::string_view text);

// Whether this build can talk to a line database at all (the Windows build
// has no PostgreSQL client).
bool lineDatabaseAvailable();

// How long a station waits for the database, in real seconds: the database
// is not one of the simulated devices, so the tool's time scale does not
// apply.
inline constexpr int kLineConnectSeconds = 5;
inline constexpr int kLineStatementMilliseconds = 10000;

class LineConnection {
public:
    using Row = std::vector<std::optional<std::string>>;
    struct Result {
        bool ok = false;
        std::string error;    // the server's or the client's message
        std::string sqlState; // five characters from the server, "" otherwise
        std::vector<Row> rows;
        std::string text(std::size_t row, std::size_t column) const;
    };

    // A connection, or null with the reason in `problem` (without password).
    static std::unique_ptr<LineConnection> open(const std::string& connection,
                                                std::string& problem);
    ~LineConnection();
    LineConnection(const LineConnection&) = delete;
    LineConnection& operator=(const LineConnection&) = delete;

    // One statement (or several without parameters), its parameters as
    // text; null parameters are SQL NULL.
    Result exec(const std::string& sql, const std::vector<std::optional<std::string>>& params = {});
    // Whether the connection has broken (the server went away).
    bool broken() const;

private:
    explicit LineConnection(pg_conn* connection) : connection_(connection) {}
    pg_conn* connection_;
};

} // namespace tessell

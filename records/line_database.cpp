#include "records/line_database.h"

#include "common/trace.h"

#include <algorithm>
#include <cctype>
#include <map>

#if TESSELL_HAVE_LIBPQ
#include <libpq-fe.h>
#endif

namespace tessell {

namespace {

constexpr std::string_view kMask = "***";

bool hasPrefix(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool isUri(std::string_view text) {
    return hasPrefix(text, "postgresql://") || hasPrefix(text, "postgres://");
}

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// The key/value form: "key = value" pairs, values plain or in single quotes
// with backslash escapes. Each pair's key and the span of its value.
struct Pair {
    std::string key;
    std::size_t valueStart = 0;
    std::size_t valueEnd = 0;
    std::string value;
};

std::vector<Pair> keyValuePairs(std::string_view text) {
    std::vector<Pair> pairs;
    std::size_t at = 0;
    const auto skipSpace = [&] {
        while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])))
            ++at;
    };
    while (true) {
        skipSpace();
        if (at >= text.size())
            break;
        Pair pair;
        while (at < text.size() && text[at] != '=' &&
               !std::isspace(static_cast<unsigned char>(text[at])))
            pair.key += text[at++];
        skipSpace();
        if (at < text.size() && text[at] == '=')
            ++at;
        skipSpace();
        pair.valueStart = at;
        if (at < text.size() && text[at] == '\'') {
            ++at;
            while (at < text.size() && text[at] != '\'') {
                if (text[at] == '\\' && at + 1 < text.size())
                    ++at;
                pair.value += text[at++];
            }
            if (at < text.size())
                ++at; // the closing quote
        } else {
            while (at < text.size() && !std::isspace(static_cast<unsigned char>(text[at]))) {
                if (text[at] == '\\' && at + 1 < text.size())
                    ++at;
                pair.value += text[at++];
            }
        }
        pair.valueEnd = at;
        pair.key = lowered(pair.key);
        pairs.push_back(std::move(pair));
    }
    return pairs;
}

std::string maskUri(std::string_view text) {
    std::string out(text);
    const std::size_t authority = text.find("://") + 3;
    std::size_t authorityEnd = text.find_first_of("/?", authority);
    if (authorityEnd == std::string_view::npos)
        authorityEnd = text.size();
    const std::size_t at = text.rfind('@', authorityEnd);
    std::size_t shift = 0;
    if (at != std::string_view::npos && at >= authority) {
        const std::size_t colon = text.find(':', authority);
        if (colon != std::string_view::npos && colon < at) {
            out.replace(colon + 1, at - colon - 1, kMask);
            shift = kMask.size() - (at - colon - 1);
        }
    }
    // password=... among the query parameters.
    const std::size_t query = out.find('?', authorityEnd + shift);
    if (query == std::string::npos)
        return out;
    std::size_t start = query + 1;
    while (start < out.size()) {
        std::size_t end = out.find('&', start);
        if (end == std::string::npos)
            end = out.size();
        const std::string_view parameter = std::string_view(out).substr(start, end - start);
        if (lowered(parameter.substr(0, 9)) == "password=") {
            out.replace(start + 9, end - start - 9, kMask);
            end = start + 9 + kMask.size();
        }
        start = end + 1;
    }
    return out;
}

// Percent-decoding for the parts of a URI shown in messages.
std::string uriDecoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() &&
            std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// host, port, dbname and service as the text names them.
std::map<std::string, std::string> namedParts(std::string_view text) {
    std::map<std::string, std::string> parts;
    if (!isUri(text)) {
        for (const Pair& pair : keyValuePairs(text))
            if (pair.key == "host" || pair.key == "hostaddr" || pair.key == "port" ||
                pair.key == "dbname" || pair.key == "service")
                parts[pair.key] = pair.value;
        if (parts.count("host") == 0 && parts.count("hostaddr") != 0)
            parts["host"] = parts["hostaddr"];
        return parts;
    }
    const std::size_t authority = text.find("://") + 3;
    std::size_t authorityEnd = text.find_first_of("/?", authority);
    if (authorityEnd == std::string_view::npos)
        authorityEnd = text.size();
    std::string_view hostPart = text.substr(authority, authorityEnd - authority);
    if (const std::size_t at = hostPart.rfind('@'); at != std::string_view::npos)
        hostPart.remove_prefix(at + 1);
    // The port after the last colon outside brackets.
    const std::size_t bracket = hostPart.rfind(']');
    const std::size_t colon = hostPart.rfind(':');
    if (colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket)) {
        parts["port"] = uriDecoded(hostPart.substr(colon + 1));
        hostPart = hostPart.substr(0, colon);
    }
    if (!hostPart.empty())
        parts["host"] = uriDecoded(hostPart);
    if (authorityEnd < text.size() && text[authorityEnd] == '/') {
        std::string_view name = text.substr(authorityEnd + 1);
        name = name.substr(0, name.find('?'));
        if (!name.empty())
            parts["dbname"] = uriDecoded(name);
    }
    if (const std::size_t query = text.find('?', authority); query != std::string_view::npos) {
        std::string_view rest = text.substr(query + 1);
        while (!rest.empty()) {
            const std::size_t end = rest.find('&');
            const std::string_view parameter = rest.substr(0, end);
            const std::size_t equals = parameter.find('=');
            if (equals != std::string_view::npos) {
                const std::string key = lowered(parameter.substr(0, equals));
                if (key == "host" || key == "port" || key == "dbname" || key == "service")
                    parts[key] = uriDecoded(parameter.substr(equals + 1));
            }
            if (end == std::string_view::npos)
                break;
            rest.remove_prefix(end + 1);
        }
    }
    return parts;
}

} // namespace

std::string maskConnectionPassword(std::string_view text) {
    if (isUri(text))
        return maskUri(text);
    std::string out(text);
    const std::vector<Pair> pairs = keyValuePairs(text);
    // From the end, so that earlier spans stay where they were.
    for (auto pair = pairs.rbegin(); pair != pairs.rend(); ++pair)
        if (pair->key == "password")
            out.replace(pair->valueStart, pair->valueEnd - pair->valueStart, kMask);
    return out;
}

std::string describeDatabase(std::string_view text) {
    auto parts = namedParts(text);
    std::string shown;
    if (!parts["service"].empty() && parts["host"].empty() && parts["dbname"].empty())
        return "service " + parts["service"];
    shown = parts["host"].empty() ? std::string("localhost") : parts["host"];
    if (!parts["port"].empty())
        shown += ":" + parts["port"];
    shown += "/" + (parts["dbname"].empty() ? std::string("(default database)") : parts["dbname"]);
    return shown;
}

std::string LineConnection::Result::text(std::size_t row, std::size_t column) const {
    if (row >= rows.size() || column >= rows[row].size() || !rows[row][column])
        return {};
    return *rows[row][column];
}

#if TESSELL_HAVE_LIBPQ

bool lineDatabaseAvailable() {
    return true;
}

std::unique_ptr<LineConnection> LineConnection::open(const std::string& connection,
                                                     std::string& problem) {
    char* parseError = nullptr;
    PQconninfoOption* options = PQconninfoParse(connection.c_str(), &parseError);
    if (!options) {
        // libpq's message quotes no value of the string.
        problem = parseError ? std::string(parseError) : "the connection string cannot be read";
        while (!problem.empty() && problem.back() == '\n')
            problem.pop_back();
        PQfreemem(parseError);
        return nullptr;
    }
    std::vector<std::string> keys;
    std::vector<std::string> values;
    std::string serverOptions;
    bool hasConnectTimeout = false;
    for (PQconninfoOption* option = options; option->keyword; ++option) {
        if (!option->val)
            continue;
        const std::string key = option->keyword;
        if (key == "options") {
            serverOptions = option->val;
            continue;
        }
        hasConnectTimeout = hasConnectTimeout || key == "connect_timeout";
        keys.push_back(key);
        values.emplace_back(option->val);
    }
    PQconninfoFree(options);
    // The bounds of every call: a dead server ends a call as a failure.
    const auto add = [&](const char* key, std::string value) {
        if (std::find(keys.begin(), keys.end(), key) != keys.end())
            return;
        keys.emplace_back(key);
        values.push_back(std::move(value));
    };
    if (!hasConnectTimeout)
        add("connect_timeout", std::to_string(kLineConnectSeconds));
    add("keepalives", "1");
    add("keepalives_idle", "5");
    add("keepalives_interval", "2");
    add("keepalives_count", "3");
    add("tcp_user_timeout", std::to_string(kLineStatementMilliseconds));
    add("application_name", "tessell");
    keys.emplace_back("options");
    values.push_back(
        serverOptions + " -c statement_timeout=" + std::to_string(kLineStatementMilliseconds) +
        " -c lock_timeout=" + std::to_string(kLineStatementMilliseconds / 2) +
        " -c idle_in_transaction_session_timeout=" + std::to_string(kLineStatementMilliseconds));
    std::vector<const char*> keyPointers;
    std::vector<const char*> valuePointers;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        keyPointers.push_back(keys[i].c_str());
        valuePointers.push_back(values[i].c_str());
    }
    keyPointers.push_back(nullptr);
    valuePointers.push_back(nullptr);
    PGconn* connection_ = PQconnectdbParams(keyPointers.data(), valuePointers.data(), 0);
    if (!connection_) {
        problem = "out of memory";
        return nullptr;
    }
    if (PQstatus(connection_) != CONNECTION_OK) {
        problem = PQerrorMessage(connection_);
        while (!problem.empty() && (problem.back() == '\n' || problem.back() == ' '))
            problem.pop_back();
        PQfinish(connection_);
        return nullptr;
    }
    // The server's notices ("already exists, skipping") go to the trace.
    PQsetNoticeProcessor(
        connection_, [](void*, const char* message) { trace::writef("line: %s", message); },
        nullptr);
    return std::unique_ptr<LineConnection>(new LineConnection(connection_));
}

LineConnection::~LineConnection() {
    PQfinish(connection_);
}

bool LineConnection::broken() const {
    return PQstatus(connection_) != CONNECTION_OK;
}

LineConnection::Result LineConnection::exec(const std::string& sql,
                                            const std::vector<std::optional<std::string>>& params) {
    Result result;
    std::vector<const char*> values;
    for (const auto& param : params)
        values.push_back(param ? param->c_str() : nullptr);
    PGresult* answer = params.empty()
                           ? PQexec(connection_, sql.c_str())
                           : PQexecParams(connection_, sql.c_str(), static_cast<int>(params.size()),
                                          nullptr, values.data(), nullptr, nullptr, 0);
    const ExecStatusType status = answer ? PQresultStatus(answer) : PGRES_FATAL_ERROR;
    result.ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
    if (!result.ok) {
        const char* message =
            answer ? PQresultErrorField(answer, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
        result.error = message ? message : PQerrorMessage(connection_);
        while (!result.error.empty() && (result.error.back() == '\n' || result.error.back() == ' '))
            result.error.pop_back();
        if (const char* state = answer ? PQresultErrorField(answer, PG_DIAG_SQLSTATE) : nullptr)
            result.sqlState = state;
    } else if (status == PGRES_TUPLES_OK) {
        const int rows = PQntuples(answer);
        const int columns = PQnfields(answer);
        result.rows.reserve(static_cast<std::size_t>(rows));
        for (int row = 0; row < rows; ++row) {
            Row values_(static_cast<std::size_t>(columns));
            for (int column = 0; column < columns; ++column)
                if (!PQgetisnull(answer, row, column))
                    values_[static_cast<std::size_t>(column)] = PQgetvalue(answer, row, column);
            result.rows.push_back(std::move(values_));
        }
    }
    PQclear(answer);
    return result;
}

#else

bool lineDatabaseAvailable() {
    return false;
}

std::unique_ptr<LineConnection> LineConnection::open(const std::string&, std::string& problem) {
    problem = "this build of tessell has no PostgreSQL client: line mode is not available";
    return nullptr;
}

LineConnection::~LineConnection() = default;

bool LineConnection::broken() const {
    return true;
}

LineConnection::Result LineConnection::exec(const std::string&,
                                            const std::vector<std::optional<std::string>>&) {
    Result result;
    result.error = "line mode is not available in this build";
    return result;
}

#endif

} // namespace tessell

#pragma once

// A local socket where other processes of the same user ask the running tool
// short questions: one request line in, one answer line out, then the
// connection closes. Each connection is read on its own, within its own time
// limit, so a client that says nothing holds up no other; the answers come
// one at a time, in the order the request lines arrive, like window messages.

#include "common/clock.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tessell::platform {

// The longest request line accepted (without its line end).
inline constexpr std::size_t kQueryLineLimit = 256;

// The questions the tool answers. The values are also the offsets from
// WM_APP of the window messages that ask them on Windows (0x8001..0x8003).
enum class ToolQuestion { AcCheck = 1, CameraOpen = 2, ImageBuffer = 3 };

// The question a request line asks: "ac", "camera", "image", or the message
// number "0x8001".."0x8003"; letter case and surrounding blanks ignored.
// None for an unknown request.
std::optional<ToolQuestion> parseToolQuestion(std::string_view request);

class QueryServer {
public:
    // Maps one request line (line end removed) to its answer line (without
    // a line end). Runs on the server's own thread; it may block, e.g. until
    // another thread has the answer.
    using Handler = std::function<std::string(const std::string& request)>;

    // Stops serving and removes the socket file.
    virtual ~QueryServer() = default;
    virtual const std::filesystem::path& path() const = 0;
};

// Serves `socketPath` (a stale socket file left there by a dead process is
// replaced). Null, with `error` saying why, when it cannot.
std::unique_ptr<QueryServer> serveQueries(const std::filesystem::path& socketPath,
                                          QueryServer::Handler handler, std::string& error);

// Asks one question; none, with `error` saying why, when nobody answers a
// whole line within `timeout` of tool time.
std::optional<std::string> askQuery(const std::filesystem::path& socketPath,
                                    const std::string& request, Clock::Duration timeout,
                                    std::string& error);

} // namespace tessell::platform

#pragma once

// Questions other processes ask the running single-camera tool, over a local
// socket in the runtime folder (runtimeFolder() / "tessell-query.sock").
//
// Protocol: connect, send one request line, read one answer line; the tool
// then closes the connection. Requests (letter case ignored, surrounding
// blanks and a CR before the LF allowed):
//
//   ac      (or 0x8001)  runs the AC-power check and answers its result:
//                        "1" AC present or the check is off, "0" refused in
//                        window mode (after the operator closed the warning),
//                        "-1" refused in command-line mode
//   camera  (or 0x8002)  "1" while a camera is open, else "0"
//   image   (or 0x8003)  "1" once an image buffer exists, else "0"
//
// Anything else is answered "ERR unknown request". The answers come from the
// dialog's thread, so a question waits while the tool shows a message box
// (the AC warning itself, for one); "ERR tool ending" answers a question the
// tool can no longer answer because it is closing.

#include "common/dialog_loop.h"
#include "platform/query_socket.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tessell {

class CTessellDlg;

inline constexpr std::string_view kQuerySocketName = "tessell-query.sock";

using platform::parseToolQuestion;
using platform::ToolQuestion;

// The answer line to `question`, from the dialog's state. Dialog's thread only.
std::string answerToolQuestion(ToolQuestion question, CTessellDlg& dialog);

// Serves the questions for one dialog while it lives: each question is
// answered by `answer` on the dialog's thread.
class QueryService {
public:
    // Opens the platform's server with the service's handler (normally
    // platform::serveQueries on the socket path); null, with the error
    // filled, when it cannot.
    using OpenServer = std::function<std::unique_ptr<platform::QueryServer>(
        platform::QueryServer::Handler handler, std::string& error)>;

    using Answer = std::function<std::string(ToolQuestion question)>;

    QueryService(Answer answer, DialogThread& thread, const OpenServer& open);
    ~QueryService();
    QueryService(const QueryService&) = delete;
    QueryService& operator=(const QueryService&) = delete;

    bool serving() const { return server_ != nullptr; }
    // Why the socket could not be served, empty when it is.
    const std::string& error() const { return error_; }

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    std::unique_ptr<platform::QueryServer> server_;
    std::string error_;
};

} // namespace tessell

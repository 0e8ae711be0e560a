// Placeholder until the window-message form of the tool's questions is
// here: other processes cannot ask this build anything yet.

#include "platform/query_socket.h"

namespace tessell::platform {

std::unique_ptr<QueryServer> serveQueries(const std::filesystem::path&, QueryServer::Handler,
                                          std::string& error) {
    error = "questions from other processes are not supported in this build yet";
    return nullptr;
}

std::optional<std::string> askQuery(const std::filesystem::path&, const std::string&,
                                    Clock::Duration, std::string& error) {
    error = "questions to the running tool are not supported in this build yet";
    return std::nullopt;
}

} // namespace tessell::platform

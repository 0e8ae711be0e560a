#include "app/command_line.h"

namespace tessell {

void CCommandLineInfoEx::ParseParam(std::string_view token, bool isOption, bool /*isLast*/) {
    if (isOption) {
        options_.insert_or_assign(std::string(token), std::string(kNoValue));
        pendingName_ = token;
        return;
    }
    // A value with no option waiting for it (a stray path, say) is dropped.
    if (pendingName_.empty())
        return;
    options_.insert_or_assign(pendingName_, std::string(token));
    pendingName_.clear();
}

bool CCommandLineInfoEx::GetOption(std::string_view name, std::string& value) const {
    const auto found = options_.find(name);
    if (found == options_.end())
        return false;
    value = found->second;
    return true;
}

bool CCommandLineInfoEx::GetOption(std::string_view name) const {
    return options_.find(name) != options_.end();
}

bool isOptionToken(std::string_view token) {
    return !token.empty() && token.front() == '-';
}

void parseCommandLine(CCommandLineInfoEx& info, std::span<const std::string> arguments) {
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const std::string_view token = arguments[index];
        const bool option = isOptionToken(token);
        info.ParseParam(option ? token.substr(1) : token, option, index + 1 == arguments.size());
    }
}

} // namespace tessell

#pragma once

// The tool's command line: "-name value" pairs kept by name, exactly as typed.

#include <map>
#include <span>
#include <string>
#include <string_view>

namespace tessell {

// Options of the command line by name. A token that starts with the option
// prefix names an option; the next token that is not an option becomes its
// value, otherwise the option keeps "TRUE". Names are case-sensitive and
// options the tool does not know are kept (and ignored by the tool), so a
// factory script with extra switches still runs.
class CCommandLineInfoEx {
public:
    static constexpr std::string_view kNoValue = "TRUE";

    // Called once per token, program name excluded. `token` is the option's
    // name without its prefix when `isOption` is set. `isLast` is the last
    // token of the line (nothing depends on it).
    void ParseParam(std::string_view token, bool isOption, bool isLast);

    // True when `name` was given; copies its value.
    bool GetOption(std::string_view name, std::string& value) const;
    bool GetOption(std::string_view name) const;

    const std::map<std::string, std::string, std::less<>>& options() const { return options_; }

private:
    std::map<std::string, std::string, std::less<>> options_;
    std::string pendingName_;
};

// Whether a token is an option. Only "-" starts one here: an absolute path
// starts with "/", so the "/name" form of option would swallow image paths.
bool isOptionToken(std::string_view token);

// Splits the tokens (program name already removed) into ParseParam calls.
void parseCommandLine(CCommandLineInfoEx& info, std::span<const std::string> arguments);

} // namespace tessell

#pragma once

// `tessell history`: the station's burn records, newest first, as a table,
// JSON Lines or CSV, or counted per day (`--summary`).

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessell {

constexpr int kHistoryFound = 0;
constexpr int kHistoryNone = 1;
constexpr int kHistoryError = 2; // a bad option, or a history that cannot be read

extern const char* const kHistoryUsageText;

// A TIME of the command line as record time text (UTC): a date, or a date
// and time ("2026-12-09", "2026-12-09T14:30", "2026-12-09 14:30:05.250Z").
// Parts left out are the first instant (`end` false) or the last (`end`
// true) they can be, so that --until with a date takes in the whole day.
std::optional<std::string> historyTime(std::string_view text, bool end);

int runHistoryCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace tessell

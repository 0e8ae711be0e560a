#pragma once

// The line of stations, from any station's command line:
//
//   tessell line init             creates or upgrades the line database's
//                                 schema and the station role
//   tessell line status [--json]  every station of the line, the counters
//   tessell serials [--json]      counters, reservations in flight, void numbers
//   tessell serials --resolve     this station's reservations in flight end void
//
// The database is the one `[LINE] Database=` (or TESSELL_DATABASE) names.
// Exit 0 done, 1 when the database cannot be reached or refuses, 2 on usage
// errors or without line mode.

#include <iosfwd>
#include <string>
#include <vector>

namespace tessell {

constexpr int kLineDone = 0;
constexpr int kLineDatabaseFailed = 1;
constexpr int kLineUsage = 2;

int runLineCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runSerialsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace tessell

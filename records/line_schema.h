#pragma once

// The line database's tables and the station role. `tessell line init`
// creates them, or upgrades an older version, in one transaction: run twice,
// or by two stations at once, it leaves one schema.
//
// Stations work under the role "tessell_station" (grant it to each
// station's login). The role reads every table but changes none: it reserves
// and settles serial numbers only through functions that run with the
// owner's rights and check each change, so a station cannot hand a number
// out twice, move a counter back or rewrite what another station did.

#include "records/line_database.h"

#include <string>

namespace tessell {

inline constexpr int kLineSchemaVersion = 3;
inline constexpr const char* kStationRole = "tessell_station";

struct LineInitResult {
    bool ok = false;
    int fromVersion = 0; // 0: a database without the schema
    int toVersion = 0;
    std::string problem;
};

// Creates or upgrades the schema; an unknown newer version is left untouched.
LineInitResult initLineSchema(LineConnection& connection);

// The schema version the database holds; 0 without the schema, none when it
// cannot be read.
std::optional<int> lineSchemaVersion(LineConnection& connection, std::string& problem);

} // namespace tessell

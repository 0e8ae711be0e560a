#pragma once

// The PostgreSQL server of the line tests. TESSELL_TEST_DATABASE names it
// (tools/test.sh starts a private one with tools/pg-test-server.sh). Without
// it a line test skips on a developer's machine and fails in CI, so that CI
// never passes without them.

#include "records/line_database.h"
#include "records/line_schema.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <random>

namespace tessell::testing {

inline std::string lineTestServer() {
    const char* server = std::getenv("TESSELL_TEST_DATABASE");
    return server ? server : "";
}

// Skips (or, in CI, fails) the test without a server.
#define TESSELL_NEEDS_LINE_SERVER()                                                                \
    do {                                                                                           \
        if (!::tessell::lineDatabaseAvailable())                                                   \
            GTEST_SKIP() << "this build has no PostgreSQL client";                                 \
        if (::tessell::testing::lineTestServer().empty()) {                                        \
            if (std::getenv("CI"))                                                                 \
                FAIL() << "CI runs the line tests: set TESSELL_TEST_DATABASE (tools/test.sh)";     \
            GTEST_SKIP() << "no TESSELL_TEST_DATABASE: start tools/pg-test-server.sh";             \
        }                                                                                          \
    } while (0)

// A database of its own for one test on the test server, with the line
// schema in it; dropped at the end.
class ScratchLine {
public:
    ScratchLine() {
        std::random_device seed;
        name_ = "tessell_t" + std::to_string(seed()) + std::to_string(seed() % 1000);
        std::string problem;
        auto admin = LineConnection::open(lineTestServer(), problem);
        if (!admin) {
            ADD_FAILURE() << problem;
            return;
        }
        const auto created = admin->exec("CREATE DATABASE " + name_);
        EXPECT_TRUE(created.ok) << created.error;
        connection_ = lineTestServer() + " dbname=" + name_;
        auto line = LineConnection::open(connection_, problem);
        if (!line) {
            ADD_FAILURE() << problem;
            return;
        }
        const LineInitResult init = initLineSchema(*line);
        EXPECT_TRUE(init.ok) << init.problem;
    }
    ~ScratchLine() {
        std::string problem;
        if (auto admin = LineConnection::open(lineTestServer(), problem))
            admin->exec("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
    }
    ScratchLine(const ScratchLine&) = delete;
    ScratchLine& operator=(const ScratchLine&) = delete;

    const std::string& connection() const { return connection_; }
    const std::string& name() const { return name_; }
    std::unique_ptr<LineConnection> open() const {
        std::string problem;
        auto line = LineConnection::open(connection_, problem);
        EXPECT_TRUE(line) << problem;
        return line;
    }

private:
    std::string name_;
    std::string connection_;
};

} // namespace tessell::testing

#include "common/trace.h"

#include <gtest/gtest.h>
#include <thread>

namespace tessell {
namespace {

TEST(Trace, SilentUntilASinkAndLinesCarryTheThreadsContext) {
    EXPECT_FALSE(trace::enabled());
    trace::write("nobody hears this");

    std::vector<std::string> lines;
    {
        trace::Capture capture;
        EXPECT_TRUE(trace::enabled());
        trace::write("plain");
        {
            trace::ScopedContext camera(trace::cameraTag("1-2", 3));
            trace::writef("put_Property %s fail.", "XU_DFU_ACCESS_CONTROL");
            {
                trace::ScopedContext inner("inner");
                trace::write("nested");
            }
            std::thread other([] { trace::write("other thread"); });
            other.join();
            trace::write("restored");
        }
        trace::writef("%s", std::string(600, 'x').c_str());
        lines = capture.lines();
    }
    EXPECT_FALSE(trace::enabled()) << "the capture puts the silent sink back";
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "plain");
    EXPECT_EQ(lines[1], "[1-2:3] put_Property XU_DFU_ACCESS_CONTROL fail.");
    EXPECT_EQ(lines[2], "[inner] nested");
    EXPECT_EQ(lines[3], "other thread");
    EXPECT_EQ(lines[4], "[1-2:3] restored");
    EXPECT_EQ(lines[5], std::string(600, 'x'));
}

} // namespace
} // namespace tessell

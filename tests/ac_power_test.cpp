#include "app/ac_power.h"
#include "app/command_line.h"
#include "app/startup_flags.h"
#include "common/clock.h"
#include "platform/power.h"

#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace tessell {
namespace {

using platform::kAcOffline;
using platform::kAcOnline;
using platform::kAcUnknown;

// Reads the statuses in turn; the last one repeats.
class FakePower final : public platform::PowerStatus {
public:
    explicit FakePower(std::vector<int> statuses) : statuses_(std::move(statuses)) {}
    int acLineStatus() override {
        const auto index = std::min<std::size_t>(reads++, statuses_.size() - 1);
        return statuses_[index];
    }
    std::size_t reads = 0;

private:
    std::vector<int> statuses_;
};

// Records every box; `shows` says whether the box could be shown.
class FakeBox final : public ErrorBox {
public:
    explicit FakeBox(bool shows, std::vector<std::string>* events = nullptr)
        : shows_(shows), events_(events) {}
    bool showError(std::string_view text, std::string_view caption) override {
        ++calls;
        lastText = text;
        lastCaption = caption;
        if (events_)
            events_->push_back("box");
        return shows_;
    }
    int calls = 0;
    std::string lastText;
    std::string lastCaption;

private:
    bool shows_;
    std::vector<std::string>* events_;
};

StartupFlags powerFlagsFor(const std::vector<std::string>& arguments) {
    CCommandLineInfoEx info;
    parseCommandLine(info, arguments);
    return applyStartupOptions(info);
}

const std::string kBoxText = "This process requires power to avoid an accidental power-off during "
                             "an update.\nConnect the AC adapter to the system.";

TEST(AcPowerAtStartup, OnlyMissingPowerWithTheCheckOnStopsACommandLineRun) {
    struct Case {
        const char* what;
        int checkac;
        int status;
        std::vector<std::string> arguments;
        std::optional<int> expectedEnd;
        bool line;
        bool box;
    };
    const Case cases[] = {
        {"check off", 0, kAcOffline, {"-s"}, std::nullopt, false, false},
        {"check value 2 is off", 2, kAcOffline, {"-s"}, std::nullopt, false, false},
        {"on mains", 1, kAcOnline, {"-s", "-w"}, std::nullopt, false, false},
        {"unknown passes", 1, kAcUnknown, {"-s", "-w"}, std::nullopt, false, false},
        {"window mode on battery carries on", 1, kAcOffline, {}, std::nullopt, true, false},
        {"w alone is window mode: no box", 1, kAcOffline, {"-w"}, std::nullopt, true, false},
        {"s on battery ends with -1", 1, kAcOffline, {"-s"}, -1, true, false},
        {"silent on battery ends with -1", 1, kAcOffline, {"-silent"}, -1, true, false},
        {"s and w: the box, then -1", 1, kAcOffline, {"-s", "/img/a.bin", "-w"}, -1, true, true},
    };
    for (const auto& c : cases) {
        FakePower power({c.status});
        std::vector<std::string> events;
        FakeBox box(true, &events);
        std::ostringstream out;
        const auto end =
            checkAcPowerAtStartup(c.checkac, powerFlagsFor(c.arguments), power, box, out);
        EXPECT_EQ(end, c.expectedEnd) << c.what;
        EXPECT_EQ(out.str(), c.line ? "Please plugin AC power before update FW\n" : "") << c.what;
        EXPECT_EQ(box.calls, c.box ? 1 : 0) << c.what;
        if (c.checkac != 1) {
            EXPECT_EQ(power.reads, 0u) << c.what;
        }
        if (c.box) {
            EXPECT_EQ(box.lastText, kBoxText);
            EXPECT_EQ(box.lastCaption, "Error");
        }
    }

    // The box comes before the line, so the operator sees why the run ends.
    FakePower offline({kAcOffline});
    std::vector<std::string> events;
    FakeBox box(true, &events);
    struct RecordingBuffer : std::stringbuf {
        std::vector<std::string>* events;
        int sync() override {
            events->push_back("line:" + str());
            return 0;
        }
    } buffer;
    buffer.events = &events;
    std::ostream out(&buffer);
    checkAcPowerAtStartup(1, powerFlagsFor({"-s", "-w"}), offline, box, out);
    EXPECT_EQ(events,
              (std::vector<std::string>{"box", "line:Please plugin AC power before update FW\n"}));
}

TEST(AcPowerQuery, AnswersOneZeroOrMinusOneAsTheModeSays) {
    ManualClock manual;
    ClockOverride useManual(manual);
    struct Case {
        const char* what;
        int checkac;
        std::vector<int> statuses;
        std::vector<std::string> arguments;
        int expected;
        int boxes;
    };
    const Case cases[] = {
        {"check off", 0, {kAcOffline}, {}, 1, 0},
        {"on mains", 1, {kAcOnline}, {"-s"}, 1, 0},
        {"unknown", 1, {kAcUnknown}, {}, 1, 0},
        {"window mode: refused after the box", 1, {kAcOffline}, {}, 0, 1},
        {"command line without w: refused at once", 1, {kAcOffline}, {"-s"}, -1, 0},
        {"command line with w: refused after the box", 1, {kAcOffline}, {"-s", "-w"}, -1, 1},
    };
    for (const auto& c : cases) {
        FakePower power(c.statuses);
        FakeBox box(true);
        EXPECT_EQ(answerAcPowerQuery(c.checkac, powerFlagsFor(c.arguments), power, box), c.expected)
            << c.what;
        EXPECT_EQ(box.calls, c.boxes) << c.what;
        if (c.boxes) {
            EXPECT_EQ(box.lastText, kBoxText) << c.what;
        }
    }
    EXPECT_EQ(manual.slept(), Clock::Duration::zero()) << "no case above may wait";
}

TEST(AcPowerQuery, WhileTheBoxCannotShowItPollsEverySecondWithinABound) {
    {
        // Power comes back on the third read: present, after two waits.
        ManualClock manual;
        ClockOverride useManual(manual);
        FakePower power({kAcOffline, kAcOffline, kAcOnline});
        FakeBox box(false);
        EXPECT_EQ(answerAcPowerQuery(1, {}, power, box), 1);
        EXPECT_EQ(box.calls, 2);
        EXPECT_EQ(manual.slept(), std::chrono::seconds(2));
    }
    for (const auto& arguments : {std::vector<std::string>{}, {"-s", "-w"}}) {
        // Never back and no box: refused once the bound has passed, not never.
        ManualClock manual;
        ClockOverride useManual(manual);
        FakePower power({kAcOffline});
        FakeBox box(false);
        const int expected = arguments.empty() ? 0 : -1;
        EXPECT_EQ(answerAcPowerQuery(1, powerFlagsFor(arguments), power, box), expected);
        EXPECT_EQ(manual.slept(), kAcQueryWaitLimit);
        EXPECT_EQ(kAcQueryWaitLimit, std::chrono::seconds(30));
        EXPECT_EQ(box.calls, 31);
    }
}

} // namespace
} // namespace tessell

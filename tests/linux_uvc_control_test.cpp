#include "common/trace.h"
#include "platform/linux/uvc_capture_device.h"
#include "tests/support/extension_unit_guids.h"
#include "tests/support/fake_v4l2.h"

#include <gtest/gtest.h>

namespace tessell::platform {
namespace {

using testing::FakeNode;
using testing::FakeNodeScript;
using testing::XuQuery;

ExtensionUnit unit(std::uint8_t id, const Guid& guid, std::vector<std::uint8_t> controls) {
    ExtensionUnit made;
    made.unitId = id;
    made.guid = guid;
    made.controls = std::move(controls);
    return made;
}

struct UvcRig {
    std::shared_ptr<FakeNodeScript> script = std::make_shared<FakeNodeScript>();
    // Node 0: another maker's unit 3; node 1: ours, unit 4, selectors 1..26
    // but 25.
    UvcCaptureDevice device{std::make_unique<FakeNode>(script),
                            "video0",
                            {unit(3, testing::kFallbackGuid, {0xFF}),
                             unit(4, testing::kPrimaryGuid, {0xFF, 0xFF, 0xFF, 0x02})}};

    Status request(PropertyOp op, std::uint32_t selector, std::span<std::uint8_t> data,
                   std::uint32_t& returned, std::uint32_t node = 1,
                   const Guid& set = testing::kPrimaryGuid) {
        return device.control()->request(set, selector, op, node, data, returned);
    }
};

TEST(LinuxUvcControl, ErrnoMapsOntoTheDeviceStatuses) {
    struct Row {
        int error;
        Status present;
        Status absent;
    };
    const Row rows[] = {
        {ENODEV, status::kDeviceGone, status::kDeviceGone},
        {ESHUTDOWN, status::kDeviceGone, status::kDeviceGone},
        {EPROTO, status::kFail, status::kDeviceGone},
        {ETIME, status::kFail, status::kDeviceGone},
        {EIO, status::kFail, status::kDeviceGone},
        {EPIPE, status::kFail, status::kDeviceGone},
        {ETIMEDOUT, status::kTimeout, status::kDeviceGone},
        {EBUSY, status::kNotReady, status::kDeviceGone},
        {EAGAIN, status::kNotReady, status::kDeviceGone},
        {EACCES, status::kNotReady, status::kDeviceGone},
        {EILSEQ, status::kNotReady, status::kDeviceGone},
        {EREMOTE, status::kNotReady, status::kDeviceGone},
        {ENOENT, status::kSetNotFound, status::kSetNotFound},
        {ENOBUFS, status::kMoreData, status::kMoreData},
        {ERANGE, status::kFail, status::kFail},
        {EINVAL, status::kFail, status::kFail},
        {EBADRQC, status::kFail, status::kFail},
        {ENOTTY, status::kFail, status::kFail},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(statusForXuError(row.error, [] { return true; }), row.present)
            << "errno " << row.error;
        EXPECT_EQ(statusForXuError(row.error, [] { return false; }), row.absent)
            << "errno " << row.error;
    }
}

TEST(LinuxUvcControl, RequestsGoToTheUnitCarryingThePropertySet) {
    UvcRig rig;
    rig.script->answer = [](XuQuery& query, std::span<std::uint8_t> data) {
        if (query.query == kUvcGetCur)
            data[0] = 0x5A;
        return 0;
    };
    std::uint8_t value = 0;
    std::uint32_t returned = 0;
    EXPECT_EQ(rig.request(PropertyOp::Get, 11, std::span(&value, 1), returned), status::kOk);
    EXPECT_EQ(value, 0x5A);
    EXPECT_EQ(returned, 1u);
    ASSERT_EQ(rig.script->queries.size(), 1u);
    EXPECT_EQ(rig.script->queries[0].unit, 4);
    EXPECT_EQ(rig.script->queries[0].selector, 11);
    EXPECT_EQ(rig.script->queries[0].query, kUvcGetCur);

    std::uint8_t address[2] = {0xFF, 0x20};
    EXPECT_EQ(rig.request(PropertyOp::Set, 2, address, returned), status::kOk);
    ASSERT_EQ(rig.script->queries.size(), 2u);
    EXPECT_EQ(rig.script->queries[1].query, kUvcSetCur);
    EXPECT_EQ(rig.script->queries[1].data, (std::vector<std::uint8_t>{0xFF, 0x20}));

    // The set at a node whose unit does not carry it, a node past the end,
    // a selector the unit does not announce: answered without a transfer.
    rig.script->queries.clear();
    EXPECT_EQ(rig.request(PropertyOp::Get, 11, std::span(&value, 1), returned, 0),
              status::kSetNotFound);
    EXPECT_EQ(rig.request(PropertyOp::Get, 11, std::span(&value, 1), returned, 2),
              status::kSetNotFound);
    EXPECT_EQ(
        rig.request(PropertyOp::Get, 11, std::span(&value, 1), returned, 1, testing::kFallbackGuid),
        status::kSetNotFound);
    EXPECT_EQ(rig.request(PropertyOp::Get, 25, std::span(&value, 1), returned), status::kNotFound);
    EXPECT_EQ(rig.request(PropertyOp::Get, 27, std::span(&value, 1), returned), status::kNotFound);
    EXPECT_EQ(rig.request(PropertyOp::Get, 0, std::span(&value, 1), returned), status::kNotFound);
    EXPECT_EQ(rig.request(PropertyOp::Get, 0x103, std::span(&value, 1), returned),
              status::kNotFound); // would alias selector 3 in the 8-bit field
    EXPECT_EQ(rig.request(PropertyOp::Get, 3, {}, returned), status::kInvalidArgument);
    EXPECT_TRUE(rig.script->queries.empty());

    // The fallback unit at node 0 answers the fallback set.
    EXPECT_EQ(
        rig.request(PropertyOp::Get, 1, std::span(&value, 1), returned, 0, testing::kFallbackGuid),
        status::kOk);
    ASSERT_EQ(rig.script->queries.size(), 1u);
    EXPECT_EQ(rig.script->queries[0].unit, 3);
}

TEST(LinuxUvcControl, SizeAnswersMoreDataWithTheControlLength) {
    UvcRig rig;
    rig.script->answer = [](XuQuery& query, std::span<std::uint8_t> data) {
        EXPECT_EQ(query.query, kUvcGetLen);
        EXPECT_EQ(data.size(), 2u);
        data[0] = 0x00; // 4096, low byte first
        data[1] = 0x10;
        return 0;
    };
    std::uint32_t returned = 0;
    EXPECT_EQ(rig.request(PropertyOp::Size, 10, {}, returned), status::kMoreData);
    EXPECT_EQ(returned, 4096u);

    // A failing GET_LEN is its own failure, not a size.
    rig.script->results = {-EPIPE};
    returned = 7;
    EXPECT_EQ(rig.request(PropertyOp::Size, 10, {}, returned), status::kFail);
    EXPECT_EQ(returned, 7u);
}

TEST(LinuxUvcControl, ShortReadsInterruptionsAndLengthMismatches) {
    UvcRig rig;
    std::uint8_t block[4] = {1, 2, 3, 4};
    std::uint32_t returned = 0;

    // Interrupted twice, then done: one request for the caller.
    rig.script->results = {-EINTR, -EINTR, 0};
    EXPECT_EQ(rig.request(PropertyOp::Set, 14, block, returned), status::kOk);
    EXPECT_EQ(rig.script->queries.size(), 3u);

    // Interrupted for ever: the retries end.
    rig.script->queries.clear();
    rig.script->answer = [](XuQuery&, std::span<std::uint8_t>) { return -EINTR; };
    EXPECT_TRUE(status::failed(rig.request(PropertyOp::Set, 14, block, returned)));
    EXPECT_GT(rig.script->queries.size(), 3u);
    EXPECT_LT(rig.script->queries.size(), 1000u);

    // A positive return is a short read: a failure, never data.
    {
        trace::Capture trace;
        rig.script->answer = nullptr;
        rig.script->results = {2};
        EXPECT_EQ(rig.request(PropertyOp::Get, 15, block, returned), status::kFail);
        EXPECT_TRUE(trace.contains("short read of 2 of 4 bytes")) << trace.lines().size();
        // ... and "device gone" once the node is unregistered.
        rig.script->results = {2};
        rig.script->capsError = ENODEV;
        EXPECT_EQ(rig.request(PropertyOp::Get, 15, block, returned), status::kDeviceGone);
        rig.script->capsError = 0;
    }

    // The trace keeps the errno the driver gave.
    {
        trace::Capture trace;
        rig.script->results = {-EPIPE};
        EXPECT_EQ(rig.request(PropertyOp::Set, 14, block, returned), status::kFail);
        EXPECT_TRUE(trace.contains("video0 unit 4 selector 14 SET_CUR (4 bytes): errno 32"))
            << (trace.lines().empty() ? "" : trace.lines()[0]);
        EXPECT_TRUE(trace.contains("-> 0x80004005"));
    }

    // A one-byte read of a longer control is served from a whole read.
    rig.script->queries.clear();
    rig.script->results.clear();
    rig.script->answer = [](XuQuery& query, std::span<std::uint8_t> data) {
        if (query.query == kUvcGetLen) {
            data[0] = 3;
            data[1] = 0;
            return 0;
        }
        if (data.size() != 3)
            return -ENOBUFS;
        data[0] = 0xC3;
        data[1] = 0xAA;
        data[2] = 0xAA;
        return 0;
    };
    std::uint8_t checksum = 0;
    EXPECT_EQ(rig.request(PropertyOp::Get, 11, std::span(&checksum, 1), returned), status::kOk);
    EXPECT_EQ(checksum, 0xC3);
    EXPECT_EQ(returned, 1u);
    ASSERT_EQ(rig.script->queries.size(), 3u);
    EXPECT_EQ(rig.script->queries[2].data.size(), 3u);

    // A read longer than the control: more data, with the control's length.
    std::uint8_t four[4] = {9, 9, 9, 9};
    EXPECT_EQ(rig.request(PropertyOp::Get, 11, four, returned), status::kMoreData);
    EXPECT_EQ(returned, 3u);
    EXPECT_EQ(four[0], 9);
}

TEST(LinuxUvcControl, TopologyHasOneExtensionUnitNodePerUnit) {
    UvcRig rig;
    std::uint32_t count = 0;
    ASSERT_EQ(rig.device.topology()->nodeCount(count), status::kOk);
    EXPECT_EQ(count, 2u);
    Guid type;
    EXPECT_EQ(rig.device.topology()->nodeType(1, type), status::kOk);
    EXPECT_EQ(type, kNodeTypeDevSpecific);
    EXPECT_EQ(rig.device.topology()->nodeType(2, type), status::kInvalidArgument);
    EXPECT_EQ(rig.device.vendor(), nullptr);
}

TEST(LinuxUvcControl, StreamHolderFromReleasingTheBuffers) {
    UvcRig rig;
    rig.script->releaseResults = {0, EBUSY, EINTR, EBUSY, EINVAL};
    EXPECT_EQ(rig.device.streamHolder(), StreamHolder::Nobody);
    EXPECT_EQ(rig.device.streamHolder(), StreamHolder::OtherProcess);
    EXPECT_EQ(rig.device.streamHolder(), StreamHolder::OtherProcess); // after an interruption
    EXPECT_EQ(rig.device.streamHolder(), StreamHolder::Unknown);
    EXPECT_EQ(rig.script->releaseCalls, 5);
}

} // namespace
} // namespace tessell::platform

#pragma once

// A scripted V4L2 capture node for the preview's frame source: the formats
// and sizes it offers, what the driver makes of a format, and the pictures
// it fills buffers with, each one a scripted DQBUF answer. Waiting for a
// buffer advances a manual clock when one is given, as the time a real poll
// would take.

#include "common/clock.h"
#include "platform/linux/v4l2_stream.h"

#include <algorithm>
#include <cerrno>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tessell::testing {

// One answer of DQBUF: an error, or a picture copied into the lowest queued
// buffer (or the buffer named), with the byte count the driver claims.
struct Delivery {
    int error = 0;
    std::vector<std::uint8_t> bytes;
    std::optional<std::uint32_t> bytesUsed; // default: bytes.size()
    std::optional<std::uint32_t> index;
    bool damaged = false;

    static Delivery picture(std::vector<std::uint8_t> bytes) {
        Delivery delivery;
        delivery.bytes = std::move(bytes);
        return delivery;
    }
    static Delivery failure(int error) {
        Delivery delivery;
        delivery.error = error;
        return delivery;
    }
};

struct FakeStreamScript {
    std::vector<std::uint32_t> formats{platform::kPixelFormatYuyv};
    std::vector<platform::FrameSizeRange> sizes;
    int setFormatError = 0;
    // The driver's changes to the format asked for (default: as asked).
    std::function<void(platform::StreamFormat&)> driverFormat;
    int mapError = 0;
    std::uint32_t granted = 4;
    std::size_t bufferLength = 0; // default: the format's image size
    int streamOnError = 0;
    int streamOffError = 0;
    std::deque<Delivery> deliveries;
    ManualClock* clock = nullptr;

    // What the source did.
    std::vector<platform::StreamFormat> askedFormats;
    std::uint32_t askedBuffers = 0;
    std::vector<std::vector<std::uint8_t>> buffers;
    std::set<std::uint32_t> queued;
    bool streaming = false;
    int dequeues = 0;
    int releases = 0;
    std::chrono::milliseconds waited{0};
};

class FakeStreamNode final : public platform::V4l2StreamNode {
public:
    explicit FakeStreamNode(std::shared_ptr<FakeStreamScript> script)
        : script_(std::move(script)) {}

    int pixelFormats(std::vector<std::uint32_t>& formats) override {
        formats = script_->formats;
        return 0;
    }
    int frameSizes(std::uint32_t, std::vector<platform::FrameSizeRange>& sizes) override {
        sizes = script_->sizes;
        return 0;
    }
    int setFormat(platform::StreamFormat& format) override {
        script_->askedFormats.push_back(format);
        if (script_->setFormatError != 0)
            return script_->setFormatError;
        format.bytesPerLine = format.width * 2;
        format.imageSize = format.bytesPerLine * format.height;
        if (script_->driverFormat)
            script_->driverFormat(format);
        imageSize_ = format.imageSize;
        return 0;
    }
    int mapBuffers(std::uint32_t count) override {
        script_->askedBuffers = count;
        if (script_->mapError != 0)
            return script_->mapError;
        const std::size_t length = script_->bufferLength ? script_->bufferLength : imageSize_;
        script_->buffers.assign(std::min(count, script_->granted),
                                std::vector<std::uint8_t>(length, 0));
        return 0;
    }
    std::size_t bufferCount() const override { return script_->buffers.size(); }
    std::span<const std::uint8_t> buffer(std::size_t index) const override {
        return script_->buffers.at(index);
    }
    int releaseBuffers() override {
        ++script_->releases;
        if (script_->streaming)
            return EBUSY; // as videobuf2 refuses while the stream runs
        script_->buffers.clear();
        script_->queued.clear();
        return 0;
    }
    int queueBuffer(std::uint32_t index) override {
        if (index >= script_->buffers.size() || !script_->queued.insert(index).second)
            return EINVAL;
        return 0;
    }
    int dequeueBuffer(platform::FilledBuffer& filled) override {
        ++script_->dequeues;
        if (!script_->streaming)
            return EINVAL;
        if (script_->deliveries.empty())
            return EAGAIN;
        Delivery delivery = script_->deliveries.front();
        if (delivery.error != 0) {
            script_->deliveries.pop_front();
            return delivery.error;
        }
        std::uint32_t index = 0;
        if (delivery.index) {
            index = *delivery.index;
        } else {
            if (script_->queued.empty())
                return EAGAIN; // every buffer is with the reader
            index = *script_->queued.begin();
            auto& target = script_->buffers[index];
            std::fill(target.begin(), target.end(), 0);
            std::copy_n(delivery.bytes.begin(), std::min(delivery.bytes.size(), target.size()),
                        target.begin());
            script_->queued.erase(index);
        }
        script_->deliveries.pop_front();
        filled.index = index;
        filled.bytesUsed =
            delivery.bytesUsed.value_or(static_cast<std::uint32_t>(delivery.bytes.size()));
        filled.damaged = delivery.damaged;
        return 0;
    }
    int waitForBuffer(std::chrono::milliseconds realTime) override {
        script_->waited += realTime;
        if (script_->clock)
            script_->clock->advance(realTime);
        return 0;
    }
    int streamOn() override {
        if (script_->streamOnError != 0)
            return script_->streamOnError;
        script_->streaming = true;
        return 0;
    }
    int streamOff() override {
        script_->streaming = false;
        return script_->streamOffError;
    }

private:
    std::shared_ptr<FakeStreamScript> script_;
    std::uint32_t imageSize_ = 0;
};

// Nodes by file name ("video0"); a name with an open error is refused with it.
class FakeStreamOpener final : public platform::V4l2StreamOpener {
public:
    std::map<std::string, std::shared_ptr<FakeStreamScript>> nodes;
    std::map<std::string, int> openErrors;
    std::vector<std::string> opened;

    std::unique_ptr<platform::V4l2StreamNode> open(const std::filesystem::path& node,
                                                   int& error) override {
        const std::string name = node.filename().string();
        opened.push_back(name);
        if (const auto refused = openErrors.find(name); refused != openErrors.end()) {
            error = refused->second;
            return nullptr;
        }
        auto& script = nodes[name];
        if (!script)
            script = std::make_shared<FakeStreamScript>();
        error = 0;
        return std::make_unique<FakeStreamNode>(script);
    }
};

} // namespace tessell::testing

#pragma once

// Scripted V4L2 nodes for the Linux services: capabilities per node, an
// open that can be refused, and Extension-Unit queries answered by a
// function the test supplies (or a queue of raw ioctl results). Every query
// is recorded.

#include "platform/linux/v4l2_node.h"

#include <cerrno>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tessell::testing {

struct XuQuery {
    std::uint8_t unit = 0;
    std::uint8_t selector = 0;
    std::uint8_t query = 0;
    std::vector<std::uint8_t> data; // as sent
};

struct FakeNodeScript {
    int capsError = 0;
    platform::NodeCapabilities caps{"uvcvideo", "Camera", platform::kCapVideoCapture};
    // Raw results of the next queries (0, a byte count, or minus an errno);
    // when empty, `answer` decides.
    std::deque<int> results;
    std::function<int(XuQuery&, std::span<std::uint8_t>)> answer;
    std::deque<int> releaseResults; // errno of VIDIOC_REQBUFS, 0 when empty
    std::vector<XuQuery> queries;
    int releaseCalls = 0;
};

class FakeNode final : public platform::V4l2Node {
public:
    explicit FakeNode(std::shared_ptr<FakeNodeScript> script) : script_(std::move(script)) {}

    int queryCapabilities(platform::NodeCapabilities& caps) override {
        if (script_->capsError == 0)
            caps = script_->caps;
        return script_->capsError;
    }

    int extensionQuery(std::uint8_t unit, std::uint8_t selector, std::uint8_t query,
                       std::span<std::uint8_t> data) override {
        script_->queries.push_back({unit, selector, query, {data.begin(), data.end()}});
        if (!script_->results.empty()) {
            const int result = script_->results.front();
            script_->results.pop_front();
            return result;
        }
        return script_->answer ? script_->answer(script_->queries.back(), data) : 0;
    }

    int releaseBuffers() override {
        ++script_->releaseCalls;
        if (script_->releaseResults.empty())
            return 0;
        const int result = script_->releaseResults.front();
        script_->releaseResults.pop_front();
        return result;
    }

private:
    std::shared_ptr<FakeNodeScript> script_;
};

// Nodes by file name ("video0"); a node with an open error is refused with it.
class FakeOpener final : public platform::V4l2Opener {
public:
    std::map<std::string, std::shared_ptr<FakeNodeScript>> nodes;
    std::map<std::string, int> openErrors;

    std::shared_ptr<FakeNodeScript> add(const std::string& name) {
        auto script = std::make_shared<FakeNodeScript>();
        nodes[name] = script;
        return script;
    }

    std::unique_ptr<platform::V4l2Node> open(const std::filesystem::path& node,
                                             int& error) override {
        const std::string name = node.filename().string();
        if (const auto refused = openErrors.find(name); refused != openErrors.end()) {
            error = refused->second;
            return nullptr;
        }
        const auto found = nodes.find(name);
        if (found == nodes.end()) {
            error = ENOENT;
            return nullptr;
        }
        error = 0;
        return std::make_unique<FakeNode>(found->second);
    }
};

} // namespace tessell::testing

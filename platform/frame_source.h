#pragma once

// Where the preview's pictures come from: the video-input devices in their
// enumeration order, and for one of them a stream of frames. A simulated
// station paints a test picture; a backend with real capture adds its own.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tessell::preview {

// One picture, 0xAARRGGBB per pixel, rows top to bottom.
struct Frame {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;

    void resize(int newWidth, int newHeight, std::uint32_t fill);
    bool contains(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
    std::uint32_t at(int x, int y) const {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(x)];
    }
    // Writes outside the picture are dropped, so that painting code can clip
    // by simply drawing.
    void set(int x, int y, std::uint32_t colour) {
        if (contains(x, y))
            pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                   static_cast<std::size_t>(x)] = colour;
    }
    void fillRect(int x, int y, int w, int h, std::uint32_t colour);
};

// What a look for a picture found.
enum class FrameRead {
    Picture, // a new picture is in the frame
    NotYet,  // the stream is alive, but nothing new has come yet
    Ended,   // no picture: stopped, gone, or silent too long (see problem())
};

// One opened device's stream.
class FrameSource {
public:
    virtual ~FrameSource() = default;
    virtual bool start() = 0;
    virtual bool stop() = 0;
    // The next picture, waiting a bounded time for it; false when the device
    // has none (stopped, or gone).
    virtual bool read(Frame& frame) = 0;
    // A new picture if one is ready, without waiting: the window's timer
    // asks this, so that a camera sending fewer pictures than the window
    // paints never holds up the window's thread. A source whose read() does
    // not wait need not override it.
    virtual FrameRead poll(Frame& frame) {
        return read(frame) ? FrameRead::Picture : FrameRead::Ended;
    }
    // Why the last start or read failed, for the operator; empty when it did not.
    virtual std::string problem() const { return {}; }
};

class FrameSources {
public:
    virtual ~FrameSources() = default;
    // Whether this backend can show pictures at all.
    virtual bool supported() const = 0;
    // The video-input devices in enumeration order: each one's friendly name,
    // none where the name could not be read (such a device is not offered).
    virtual std::vector<std::optional<std::string>> enumerate() = 0;
    // Opens the device at `position` of the last enumeration; null when it is
    // gone or cannot be opened.
    virtual std::unique_ptr<FrameSource> open(std::size_t position) = 0;
    // Why devices were left out of the last enumeration (a node the user may
    // not open, with the fix) or why the last open failed; one line each.
    virtual std::vector<std::string> problems() const { return {}; }
};

// A backend with no capture: nothing to show.
class NoFrameSources final : public FrameSources {
public:
    bool supported() const override { return false; }
    std::vector<std::optional<std::string>> enumerate() override { return {}; }
    std::unique_ptr<FrameSource> open(std::size_t) override { return nullptr; }
};

} // namespace tessell::preview

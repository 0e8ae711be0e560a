#include "platform/windows/dshow_frame_source.h"

#include "common/trace.h"
#include "platform/windows/dshow_monikers.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <dvdmedia.h>
#include <qedit.h>

namespace tessell::platform::windows {

namespace {

using preview::Frame;
using preview::FrameRead;

// The grabber and the null renderer of DirectShow's editing services,
// which MinGW's headers name without declaring.
constexpr GUID kClsidSampleGrabber = {
    0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
constexpr GUID kClsidNullRenderer = {
    0xC1F400A4, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

// Larger pictures than any webcam sends are refused rather than allocated.
constexpr int kMaxPictureSide = 8192;

std::string hresultText(const char* step, HRESULT hr) {
    char text[96];
    std::snprintf(text, sizeof text, "%s failed (0x%08lX)", step, static_cast<unsigned long>(hr));
    return text;
}

std::string seconds(Clock::Duration duration) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s",
                  std::chrono::duration_cast<std::chrono::duration<double>>(duration).count());
    return text;
}

// The grabber calls this on its streaming thread with each picture.
class GrabberCallback final : public ISampleGrabberCB {
public:
    explicit GrabberCallback(std::shared_ptr<PictureMailbox> mailbox)
        : mailbox_(std::move(mailbox)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        if (iid != IID_IUnknown && iid != IID_ISampleGrabberCB) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<ISampleGrabberCB*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BufferCB(double, BYTE* buffer, LONG length) override {
        if (!buffer || length <= 0)
            return S_OK;
        std::lock_guard lock(mailbox_->mutex);
        const std::span data(buffer, static_cast<std::size_t>(length));
        if (copyRgb32Picture(data, mailbox_->layout, mailbox_->picture)) {
            mailbox_->fresh = true;
            mailbox_->arrived.notify_all();
        }
        return S_OK;
    }

private:
    std::atomic<ULONG> refs_{1};
    std::shared_ptr<PictureMailbox> mailbox_;
};

// The picture format the grabber was connected with.
std::optional<PictureLayout> connectedLayout(ISampleGrabber& grabber) {
    AM_MEDIA_TYPE type{};
    if (FAILED(grabber.GetConnectedMediaType(&type)))
        return std::nullopt;
    std::optional<PictureLayout> layout;
    const BITMAPINFOHEADER* header = nullptr;
    if (type.formattype == FORMAT_VideoInfo && type.pbFormat &&
        type.cbFormat >= sizeof(VIDEOINFOHEADER))
        header = &reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
    else if (type.formattype == FORMAT_VideoInfo2 && type.pbFormat &&
             type.cbFormat >= sizeof(VIDEOINFOHEADER2))
        header = &reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat)->bmiHeader;
    if (header && type.subtype == MEDIASUBTYPE_RGB32) {
        const LONG height = header->biHeight;
        const LONG side = height < 0 ? -height : height;
        if (header->biWidth > 0 && header->biWidth <= kMaxPictureSide && side > 0 &&
            side <= kMaxPictureSide)
            layout = PictureLayout{static_cast<int>(header->biWidth), static_cast<int>(side),
                                   height > 0};
    }
    CoTaskMemFree(type.pbFormat);
    if (type.pUnk)
        type.pUnk->Release();
    return layout;
}

} // namespace

bool copyRgb32Picture(std::span<const std::uint8_t> data, const PictureLayout& layout,
                      Frame& frame) {
    if (layout.width <= 0 || layout.height <= 0 || layout.width > kMaxPictureSide ||
        layout.height > kMaxPictureSide)
        return false;
    const auto rowBytes = static_cast<std::size_t>(layout.width) * 4;
    if (data.size() < rowBytes * static_cast<std::size_t>(layout.height))
        return false;
    frame.width = layout.width;
    frame.height = layout.height;
    frame.pixels.resize(static_cast<std::size_t>(layout.width) *
                        static_cast<std::size_t>(layout.height));
    for (int y = 0; y < layout.height; ++y) {
        const int sourceRow = layout.bottomUp ? layout.height - 1 - y : y;
        const std::uint8_t* row = data.data() + rowBytes * static_cast<std::size_t>(sourceRow);
        std::uint32_t* out = frame.pixels.data() + static_cast<std::size_t>(y) * layout.width;
        for (int x = 0; x < layout.width; ++x, row += 4)
            out[x] =
                0xFF000000u | std::uint32_t{row[2]} << 16 | std::uint32_t{row[1]} << 8 | row[0];
    }
    return true;
}

std::unique_ptr<DirectShowFrameSource> DirectShowFrameSource::build(ComPtr<IBaseFilter> capture,
                                                                    std::string& problem) {
    const ComThread com;
    std::unique_ptr<DirectShowFrameSource> source(new DirectShowFrameSource());
    auto& graph = source->graph_;
    ComPtr<ICaptureGraphBuilder2> builder;
    ComPtr<IBaseFilter> grabberFilter;
    ComPtr<IBaseFilter> renderer;
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IGraphBuilder, graph.putVoid());
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                              IID_ICaptureGraphBuilder2, builder.putVoid());
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(kClsidSampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              grabberFilter.putVoid());
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(kClsidNullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              renderer.putVoid());
    if (FAILED(hr)) {
        problem = hresultText("creating the preview graph", hr);
        return nullptr;
    }
    auto grabber = grabberFilter.query<ISampleGrabber>(IID_ISampleGrabber, &hr);
    if (!grabber) {
        problem = hresultText("the sample grabber", hr);
        return nullptr;
    }
    AM_MEDIA_TYPE wanted{};
    wanted.majortype = MEDIATYPE_Video;
    wanted.subtype = MEDIASUBTYPE_RGB32;
    grabber->SetMediaType(&wanted);
    builder->SetFiltergraph(graph.get());
    graph->AddFilter(capture.get(), L"Capture");
    graph->AddFilter(grabberFilter.get(), L"Grabber");
    graph->AddFilter(renderer.get(), L"Renderer");
    hr = builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, capture.get(),
                               grabberFilter.get(), renderer.get());
    if (FAILED(hr))
        hr = builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, capture.get(),
                                   grabberFilter.get(), renderer.get());
    const auto layout = SUCCEEDED(hr) ? connectedLayout(*grabber.get()) : std::nullopt;
    if (!layout) {
        problem = FAILED(hr) ? hresultText("connecting the camera's picture", hr)
                             : "the camera's picture cannot be had as 32-bit RGB";
        return nullptr;
    }
    source->mailbox_ = std::make_shared<PictureMailbox>();
    source->mailbox_->layout = *layout;
    auto callback = ComPtr<ISampleGrabberCB>::adopt(new GrabberCallback(source->mailbox_));
    grabber->SetBufferSamples(FALSE);
    grabber->SetOneShot(FALSE);
    hr = grabber->SetCallback(callback.get(), 1); // 1: BufferCB, the bytes of each picture
    source->control_ = graph.query<IMediaControl>(IID_IMediaControl);
    if (FAILED(hr) || !source->control_) {
        problem = hresultText("the sample grabber's callback", hr);
        grabber->SetCallback(nullptr, 1);
        return nullptr;
    }
    source->grabber_ = grabber.query<IUnknown>(IID_IUnknown);
    source->callback_ = callback.query<IUnknown>(IID_IUnknown);
    return source;
}

DirectShowFrameSource::~DirectShowFrameSource() {
    const ComThread com;
    if (control_)
        control_->Stop();
    // The grabber holds the callback; break the ring before letting go.
    if (auto grabber = grabber_.query<ISampleGrabber>(IID_ISampleGrabber))
        grabber->SetCallback(nullptr, 1);
    callback_.reset();
    grabber_.reset();
    control_.reset();
    graph_.reset(); // the graph lets go of its filters
}

bool DirectShowFrameSource::fail(std::string problem) {
    problem_ = std::move(problem);
    trace::writef("preview: %s", problem_.c_str());
    return false;
}

bool DirectShowFrameSource::start() {
    const ComThread com;
    problem_.clear();
    const HRESULT hr = control_->Run();
    if (FAILED(hr))
        return fail(hresultText("starting the camera's picture", hr));
    running_ = true;
    pictured_ = false;
    silentSince_ = clock().now();
    return true;
}

bool DirectShowFrameSource::stop() {
    const ComThread com;
    running_ = false;
    const HRESULT hr = control_->Stop();
    return SUCCEEDED(hr) || fail(hresultText("stopping the camera's picture", hr));
}

FrameRead DirectShowFrameSource::next(Frame& frame, bool wait) {
    if (!running_) {
        fail("the stream is not running");
        return FrameRead::Ended;
    }
    const Clock::Duration limit = pictured_ ? kPictureGapLimit : kFirstPictureLimit;
    std::unique_lock lock(mailbox_->mutex);
    if (wait && !mailbox_->fresh) {
        const Clock::Duration left = limit - (clock().now() - silentSince_);
        if (left > Clock::Duration::zero())
            clock().waitFor(mailbox_->arrived, lock, left, [this] { return mailbox_->fresh; });
    }
    if (mailbox_->fresh) {
        frame = mailbox_->picture;
        mailbox_->fresh = false;
        pictured_ = true;
        silentSince_ = clock().now();
        return FrameRead::Picture;
    }
    if (clock().now() - silentSince_ < limit)
        return FrameRead::NotYet;
    lock.unlock();
    fail("the camera sent no picture for " + seconds(limit));
    return FrameRead::Ended;
}

bool DirectShowFrameSource::read(Frame& frame) {
    return next(frame, true) == FrameRead::Picture;
}

FrameRead DirectShowFrameSource::poll(Frame& frame) {
    return next(frame, false);
}

std::vector<std::optional<std::string>> DirectShowFrameSources::enumerate() {
    const ComThread com;
    std::vector<std::optional<std::string>> names;
    paths_.clear();
    forEachVideoInput([&](std::size_t, IMoniker&, IPropertyBag* bag) {
        names.push_back(bag ? readProperty(*bag, L"FriendlyName") : std::nullopt);
        paths_.push_back(bag ? readProperty(*bag, L"DevicePath") : std::nullopt);
        return true;
    });
    return names;
}

std::unique_ptr<preview::FrameSource> DirectShowFrameSources::open(std::size_t position) {
    const ComThread com;
    problems_.clear();
    if (position >= paths_.size())
        return nullptr;
    std::unique_ptr<preview::FrameSource> opened;
    forEachVideoInput([&](std::size_t at, IMoniker& moniker, IPropertyBag* bag) {
        if (at < position)
            return true;
        // The same device as enumerated, unless the list changed since.
        if (!bag || readProperty(*bag, L"DevicePath") != paths_[position])
            return false;
        ComPtr<IBaseFilter> capture;
        const HRESULT hr =
            moniker.BindToObject(nullptr, nullptr, IID_IBaseFilter, capture.putVoid());
        std::string problem;
        if (FAILED(hr) || !capture)
            problem = hresultText("opening the camera", hr);
        else
            opened = DirectShowFrameSource::build(std::move(capture), problem);
        if (!problem.empty())
            problems_.push_back(std::move(problem));
        return false;
    });
    return opened;
}

std::unique_ptr<preview::FrameSources> makeDirectShowFrameSources() {
    return std::make_unique<DirectShowFrameSources>();
}

} // namespace tessell::platform::windows

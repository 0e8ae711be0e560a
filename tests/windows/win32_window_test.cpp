// The Win32 single-camera window: its template, Escape, the questions of
// other processes, and a download on a simulated station ending in the
// Success picture. Top-level windows need a display (under Wine: xvfb-run).

// Windows only; the Linux test program globs this folder too.
#ifdef _WIN32

#include "app/exit_codes.h"
#include "app/preview_control.h"
#include "app/tessell_dlg.h"
#include "tests/support/dialog_rig.h"
#include "tests/windows/win32_window_support.h"
#include "ui/win32/resource.h"
#include "ui/win32/status_painter.h"
#include "ui/win32/tessell_window.h"
#include "ui/win32/win32_dialog_thread.h"
#include "ui/win32/win32_text.h"

#include <chrono>
#include <commctrl.h>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>
#include <windows.h>

namespace tessell::testing {
namespace {

using nlohmann::json;
using win32::TessellWindow;

std::wstring className(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

// Prompts that only record what the window asks.
win32::Prompts recordingPrompts(std::vector<std::wstring>& asked) {
    win32::Prompts prompts;
    prompts.message = [&asked](HWND, const std::wstring& text, const std::wstring& caption,
                               BoxIcon) { asked.push_back(caption + L": " + text); };
    prompts.question = [&asked](HWND, const std::wstring& text, const std::wstring&) {
        asked.push_back(text);
        return false;
    };
    return prompts;
}

// The status box as painted into a bitmap through its own paint path.
struct Painted {
    int width = 0, height = 0;
    std::vector<COLORREF> pixels;
    COLORREF at(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)]; }
    int count(COLORREF colour) const {
        int found = 0;
        for (const COLORREF pixel : pixels)
            found += pixel == colour;
        return found;
    }
};

Painted paintedStatusBox(HWND box) {
    RECT client{};
    GetClientRect(box, &client);
    Painted painted;
    painted.width = client.right;
    painted.height = client.bottom;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = painted.width;
    info.bmiHeader.biHeight = -painted.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    SendMessageW(box, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory), PRF_CLIENT);
    GdiFlush();
    const auto* words = static_cast<const std::uint32_t*>(bits);
    for (int i = 0; i < painted.width * painted.height; ++i) {
        const std::uint32_t bgr = words[i];
        painted.pixels.push_back(RGB((bgr >> 16) & 0xFF, (bgr >> 8) & 0xFF, bgr & 0xFF));
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return painted;
}

TEST(Win32TessellWindow, TemplateCarriesTheControlsAndEscapeDoesNotClose) {
    SKIP_WITHOUT_DISPLAY();
    std::vector<std::wstring> asked;
    TessellWindow window(recordingPrompts(asked));
    ASSERT_NE(window.handle(), nullptr) << GetLastError();
    EXPECT_EQ(windowText(window.handle()), L"Halvane Serial Flash Write Tool");

    struct Expected {
        int id;
        const wchar_t* kind;
        const wchar_t* text; // none: not compared
        bool visible;
    };
    const std::vector<Expected> table = {
        {1000, L"Edit", L"", true},
        {1001, L"Edit", L"", true},
        {1003, L"Button", L"Download", true},
        {1004, L"Button", L"...", true},
        {1005, L"ListBox", nullptr, true},
        {1006, L"Static", nullptr, true},
        {1007, L"Edit", L"", true},
        {1010, PROGRESS_CLASSW, nullptr, true},
        {1011, L"ComboBox", nullptr, false},
        {1012, L"Button", L"Dump", true},
        {1013, L"Button", L"Erase", true},
        {1014, L"Static", L"ver", true},
        {1015, L"Static", L"ver", true},
        {1016, L"Static", L" __  __  __  __", true},
        {1017, L"Static", L" __  __  __  __", true},
        {1019, L"Button", L"FastDL", false},
        {1020, L"Static", L"____________________", true},
        {1022, L"Static", L"Device SN :", true},
        {1026, L"Button", L"Re-Work", false},
        {1027, L"Button", L"Preview", false},
        {1028, L"Button", L"Button1", false},
        {1029, L"Static", nullptr, false},
        {1030, L"Static", L"Preview:", false},
        {1031, L"Button", L"TEST", false},
        {1032, L"Button", L"Output Log File", false},
        {1033, L"Button", L"LED ON", true},
        {1034, L"Button", L"LED OFF", true},
        {1021, L"Static", nullptr, false},
        {1023, L"Static", nullptr, false},
        {1024, L"Static", nullptr, false},
        {1025, L"Static", nullptr, false},
    };
    // Shown or hidden by the template's own styles (the window itself stays
    // hidden: without a window manager Wine waits seconds on every hide).
    for (const Expected& expected : table) {
        HWND control = window.control(expected.id);
        ASSERT_NE(control, nullptr) << expected.id;
        EXPECT_EQ(_wcsicmp(className(control).c_str(), expected.kind), 0) << expected.id;
        EXPECT_EQ((GetWindowLongPtrW(control, GWL_STYLE) & WS_VISIBLE) != 0, expected.visible)
            << expected.id;
        if (expected.text) {
            EXPECT_EQ(windowText(control), expected.text) << expected.id;
        }
    }
    EXPECT_FALSE(IsWindowEnabled(window.control(IDC_DOWNLOAD))) << "Download starts disabled";
    const LONG_PTR logStyle = GetWindowLongPtrW(window.control(IDC_LOG), GWL_STYLE);
    EXPECT_TRUE((logStyle & ES_MULTILINE) && (logStyle & ES_READONLY) && (logStyle & WS_VSCROLL));
    EXPECT_EQ(SendMessageW(window.control(IDC_PROGRESS), PBM_GETRANGE, FALSE, 0), 100);
    for (const wchar_t* label : {L"Device:", L"Log:", L"Status:", L"Flash type:",
                                 L"Bcd  Cur    >>   New", L"PID:", L"VID:"}) {
        bool found = false;
        for (HWND child = GetWindow(window.handle(), GW_CHILD); child && !found;
             child = GetWindow(child, GW_HWNDNEXT))
            found = windowText(child) == label;
        EXPECT_TRUE(found) << win32::narrow(label);
    }

    // The view's calls land on the controls, UTF-8 and CR LF kept.
    DialogView& view = window;
    view.showLog("Driver Connected(ZLTA_7310)\r\ncaf\xC3\xA9\n");
    EXPECT_EQ(windowText(window.control(IDC_LOG)), L"Driver Connected(ZLTA_7310)\r\ncaf\u00E9\r\n");
    view.setVisible(Control::ReworkToggle, true);
    view.setChecked(Control::ReworkToggle, true);
    EXPECT_TRUE(view.isChecked(Control::ReworkToggle));
    EXPECT_FALSE(view.isChecked(Control::Download)) << "a push button is never checked";
    view.addCamera("0:Bench camera");
    view.addCamera("1:Line camera");
    view.selectCamera(1);
    EXPECT_EQ(view.selectedCamera(), 1);
    view.selectCamera(7);
    EXPECT_EQ(view.selectedCamera(), -1);

    // Escape, on the window or on one of its controls, is swallowed.
    PostMessageW(window.control(IDC_CAMERA_LIST), WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageW(window.handle(), WM_KEYDOWN, VK_ESCAPE, 0);
    SendMessageW(window.handle(), WM_COMMAND, IDCANCEL, 0);
    pump(window.handle());
    EXPECT_FALSE(window.ended());

    // The close box ends the tool, once, with what is stored: nothing finished yet.
    SendMessageW(window.handle(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(window.ended());
    EXPECT_EQ(window.exitCode(), kExitNothingFinished);
    window.endProcess(2);
    EXPECT_EQ(window.exitCode(), kExitNothingFinished);
    EXPECT_TRUE(asked.empty());
}

json benchCamera() {
    return {{"friendly_name", "Bench camera"}, {"chip_id", "0x80"}, {"flash", {{"part", "0x79"}}}};
}

// The controller bound to the window and its thread, on a simulated station.
struct WindowRig {
    explicit WindowRig(const json& devices)
        : sim(devices), window(recordingPrompts(asked)), thread([this](int id) {
              if (dialog)
                  dialog->OnTimer(id);
          }) {}
    ~WindowRig() {
        window.attach(nullptr);
        dialog.reset();
    }
    void start() {
        DialogServices services;
        services.devices = &sim.platform();
        services.usb = &sim.platform();
        services.hotplug = &sim.platform();
        services.power = &power;
        services.programFolder = sim.dir.path();
        services.out = &out;
        dialog = std::make_unique<CTessellDlg>(services, window, thread, StartupFlags{}, preview);
        window.attach(dialog.get());
        ASSERT_TRUE(dialog->OnInitDialog());
        pump(window.handle());
    }
    LRESULT ask(int question) { return SendMessageW(window.handle(), WM_APP + question, 0, 0); }
    std::wstring log() const { return windowText(window.control(IDC_LOG)); }

    SimRig sim;
    std::vector<std::wstring> asked;
    TessellWindow window;
    win32::Win32DialogThread thread;
    UnavailablePreview preview;
    FixedPower power;
    std::ostringstream out;
    std::unique_ptr<CTessellDlg> dialog;
};

TEST(Win32TessellWindow, QuestionsOfOtherProcessesWithoutACamera) {
    SKIP_WITHOUT_DISPLAY();
    WindowRig rig(json::array());
    rig.start();
    EXPECT_EQ(SendMessageW(rig.window.control(IDC_CAMERA_LIST), LB_GETCOUNT, 0, 0), 0);
    EXPECT_EQ(rig.ask(2), 0) << "no camera is open";
    EXPECT_EQ(rig.ask(1), 1) << "AC power present";
    rig.power.line = platform::kAcOffline;
    EXPECT_EQ(rig.ask(1), 1) << "the check is off without checkac";
}

TEST(Win32TessellWindow, DownloadRunsToTheSuccessPicture) {
    SKIP_WITHOUT_DISPLAY();
    WindowRig rig(json::array({benchCamera()}));
    const Bytes image = synthesized(lineImage(ImageFamily::d));
    ASSERT_FALSE(image.empty());
    writeImage(rig.sim.dir, "SF.bin", image);
    rig.start();

    HWND list = rig.window.control(IDC_CAMERA_LIST);
    ASSERT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 1);
    wchar_t entry[64] = {};
    SendMessageW(list, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(entry));
    EXPECT_STREQ(entry, L"0:Bench camera");
    EXPECT_EQ(windowText(rig.window.handle()),
              L"Halvane Serial Flash Write Tool for ALL IC v1.0.3.0c");
    EXPECT_EQ(windowText(rig.window.control(IDC_IMAGE_BCD)), L"0102");
    EXPECT_EQ(rig.ask(2), 1) << "the selected camera is open";
    EXPECT_EQ(rig.ask(3), 1) << "the image is loaded";
    ASSERT_TRUE(IsWindowEnabled(rig.window.control(IDC_DOWNLOAD))) << win32::narrow(rig.log());

    // What the button sends when the operator clicks it.
    SendMessageW(rig.window.handle(), WM_COMMAND, MAKEWPARAM(IDC_DOWNLOAD, BN_CLICKED),
                 reinterpret_cast<LPARAM>(rig.window.control(IDC_DOWNLOAD)));
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (rig.window.statusPicture() != StatusPicture::Success &&
           std::chrono::steady_clock::now() < giveUp) {
        // While the worker runs, its own sleeps move the manual clock.
        if (rig.dialog->downloadRunning() && !rig.dialog->workerDone())
            rig.sim.platform().service();
        else
            rig.sim.pass(std::chrono::milliseconds(10));
        pump(rig.window.handle());
        Sleep(1);
    }
    ASSERT_EQ(rig.window.statusPicture(), StatusPicture::Success) << win32::narrow(rig.log());
    EXPECT_NE(rig.log().find(L"Start Download...Download complete.\r\n"), std::wstring::npos)
        << win32::narrow(rig.log());
    EXPECT_EQ(SendMessageW(rig.window.control(IDC_PROGRESS), PBM_GETPOS, 0, 0), 100);
    EXPECT_TRUE(rig.asked.empty());
    EXPECT_TRUE(flashBeginsWith(rig.sim.platform().camera(0).flashContents(),
                                expectedFlash(image, IcType::h, 0x79)));

    // The box as it paints itself: green, the word in white, nothing else.
    const Painted painted = paintedStatusBox(rig.window.control(IDC_STATUS_BOX));
    ASSERT_GT(painted.width, 40);
    const COLORREF green = win32::statusColours(StatusPicture::Success).background;
    EXPECT_EQ(painted.at(3, 3), green);
    EXPECT_EQ(painted.at(painted.width - 4, painted.height - 4), green);
    const int white = painted.count(RGB(255, 255, 255));
    EXPECT_GT(white, 50) << "the word is drawn";
    EXPECT_GT(painted.count(green), white);

    // A line from another thread reaches the box only through the window's
    // message queue.
    std::thread worker([&] { rig.dialog->appendLog("from the worker\r\n"); });
    worker.join();
    EXPECT_EQ(rig.log().find(L"from the worker"), std::wstring::npos);
    pump(rig.window.handle());
    EXPECT_NE(rig.log().find(L"from the worker\r\n"), std::wstring::npos);
}

} // namespace
} // namespace tessell::testing

#endif // _WIN32

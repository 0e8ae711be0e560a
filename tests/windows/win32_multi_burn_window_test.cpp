// The Win32 multi-burn window and Port Setting: the templates, a scan of
// simulated cameras on remembered ports shown as Ready rows with the Status
// cell painted in its colour, Escape, and Port Setting's list, "Celar" and OK.
// Top-level windows need a display (under Wine: xvfb-run).

// Windows only; the Linux test program globs this folder too.
#ifdef _WIN32

#include "multi/port_memory.h"
#include "tests/support/sim_rig.h"
#include "tests/windows/win32_window_support.h"
#include "ui/win32/multi_burn_window.h"
#include "ui/win32/resource.h"
#include "ui/win32/win32_dialog_thread.h"
#include "ui/win32/win32_text.h"

#include <chrono>
#include <commctrl.h>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>
#include <windows.h>

namespace tessell::testing {
namespace {

using nlohmann::json;
using win32::MultiBurnWindow;

std::wstring cellText(HWND list, int row, int column) {
    wchar_t text[256] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 256;
    SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return text;
}

std::vector<std::wstring> columnTitles(HWND list) {
    std::vector<std::wstring> titles;
    for (int column = 0;; ++column) {
        wchar_t text[64] = {};
        LVCOLUMNW entry{};
        entry.mask = LVCF_TEXT;
        entry.pszText = text;
        entry.cchTextMax = 64;
        if (!SendMessageW(list, LVM_GETCOLUMNW, static_cast<WPARAM>(column),
                          reinterpret_cast<LPARAM>(&entry)))
            return titles;
        titles.emplace_back(text);
    }
}

// The colour the list paints at the middle of a cell, through its own
// paint path (custom draw included).
COLORREF paintedCell(HWND list, int row, int column) {
    RECT cell{};
    cell.top = column;
    cell.left = LVIR_BOUNDS;
    SendMessageW(list, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&cell));
    RECT client{};
    GetClientRect(list, &client);
    HDC screen = GetDC(list);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, client.right, client.bottom);
    HGDIOBJ old = SelectObject(memory, bitmap);
    SendMessageW(list, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory),
                 PRF_CLIENT | PRF_ERASEBKGND);
    // A pixel of the cell's margin, clear of its text.
    const COLORREF colour = GetPixel(memory, cell.right - 3, (cell.top + cell.bottom) / 2);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(list, screen);
    return colour;
}

// Ports kept in memory, as the registry would keep them.
class MemoryPortStore final : public platform::PortStore {
public:
    std::string location() const override { return "memory"; }
    bool read(platform::StoredValues& out, std::string&) override {
        out = values;
        return true;
    }
    bool writeAll(const platform::StoredValues& in, std::string&) override {
        values = in;
        return true;
    }
    platform::StoredValues values;
};

json lineCamera(int port) {
    return {{"friendly_name", "Line camera"},
            {"hub", "sim-hub-1"},
            {"port", port},
            {"chip_id", "0x80"},
            {"flash", {{"part", "0x79"}}}};
}

TEST(Win32MultiBurnWindow, ScanShowsReadyRowsInTheirColour) {
    SKIP_WITHOUT_DISPLAY();
    SimRig sim(json::array({lineCamera(1), lineCamera(2)}));
    sim.dir.write("setting.ini", "[SETTING]\r\nMultipleMode=1\r\nNUM=2\r\n");
    MemoryPortStore store;
    {
        PortMemory memory;
        memory.LearnPort("sim-hub-1", 1, 0);
        memory.LearnPort("sim-hub-1", 2, 1);
        MultiBurnState state = MultiBurnState::Learning;
        ASSERT_TRUE(SavePortMemory(store, memory, state).written);
    }
    std::vector<std::wstring> asked;
    win32::Prompts prompts;
    prompts.message = [&asked](HWND, const std::wstring& text, const std::wstring&, BoxIcon) {
        asked.push_back(text);
    };
    prompts.question = [&asked](HWND, const std::wstring& text, const std::wstring&) {
        asked.push_back(text);
        return false;
    };
    MultiBurnWindow window(prompts);
    ASSERT_NE(window.handle(), nullptr) << GetLastError();
    HWND list = window.control(IDC_SLOT_LIST);
    EXPECT_EQ(columnTitles(list),
              (std::vector<std::wstring>{L"NO.", L"Stat", L"Progress", L"Status", L""}));
    EXPECT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 16);
    EXPECT_EQ(cellText(list, 15, 0), L"16");
    for (const auto& [id, text, visible] : std::vector<std::tuple<int, const wchar_t*, bool>>{
             {IDC_SETTING, L"Setting", true},
             {IDC_BURN, L"Burn-Mutiple", true},
             {IDC_RESCAN, L"Re-Scan", true},
             {IDC_INIT_MULTIPLE, L"Init-Mutiple", false},
             {IDC_UNINIT_MULTIPLE, L"Un-Init-Mutiple", false}}) {
        ASSERT_NE(window.control(id), nullptr) << id;
        EXPECT_EQ(windowText(window.control(id)), text);
        EXPECT_EQ((GetWindowLongPtrW(window.control(id), GWL_STYLE) & WS_VISIBLE) != 0, visible)
            << id;
    }

    Tessell_MultiDlg* dialog = nullptr;
    win32::Win32DialogThread thread([&dialog](int id) {
        if (dialog)
            dialog->OnTimer(id);
    });
    MultiBurnServices services;
    services.devices = &sim.platform();
    services.usb = &sim.platform();
    services.hotplug = &sim.platform();
    services.store = &store;
    services.programFolder = sim.dir.path();
    auto controller = std::make_unique<Tessell_MultiDlg>(services, thread, window);
    dialog = controller.get();
    window.attach(dialog);
    ASSERT_TRUE(controller->OnInitDialog());
    EXPECT_EQ(windowText(window.handle()), L"Halvane Serial Flash Multi-Burning Tool v1.0.3.0c");

    // The scan follows on its timer; the rows show what it found.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (cellText(list, 1, 3) != L"Ready" && std::chrono::steady_clock::now() < giveUp) {
        sim.pass(std::chrono::milliseconds(20));
        pump(window.handle());
        Sleep(1);
    }
    EXPECT_EQ(cellText(list, 0, 3), L"Ready");
    EXPECT_EQ(cellText(list, 1, 3), L"Ready");
    EXPECT_EQ(cellText(list, 2, 1), L"--");
    EXPECT_EQ(windowText(window.control(IDC_CAMERA_COUNT)), L"02/02");
    EXPECT_NE(windowText(window.control(IDC_LOG)).find(L"Scanning..."), std::wstring::npos);
    const RowColour ready = window.row(0).colour;
    EXPECT_EQ(paintedCell(list, 0, 3), RGB(ready.red, ready.green, ready.blue));
    EXPECT_EQ(paintedCell(list, 0, 1), RGB(255, 255, 255));
    EXPECT_EQ(paintedCell(list, 2, 3), RGB(255, 255, 255));
    EXPECT_TRUE(asked.empty());

    // Escape leaves the station open; the close box closes it.
    PostMessageW(list, WM_KEYDOWN, VK_ESCAPE, 0);
    SendMessageW(window.handle(), WM_COMMAND, IDCANCEL, 0);
    pump(window.handle());
    EXPECT_FALSE(window.closed());
    SendMessageW(window.handle(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(window.closed());
    window.attach(nullptr);
    dialog = nullptr;
}

// A host that fills Port Setting as the station does, then presses "Celar" and OK.
class ScriptedHost final : public PortSettingHost {
public:
    void portSettingOpened(PortSettingView& view) override {
        view.showRows({{"01", "sim-hub-1", "3"}, {"02 =>", "", ""}});
        view.showMessage(kRemoveAllCameras);
        window = FindWindowW(nullptr, L"Port Setting");
        if (!window)
            return;
        HWND list = GetDlgItem(window, IDC_PORT_LIST);
        titles = columnTitles(list);
        rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
        hub = cellText(list, 0, 1);
        next = cellText(list, 1, 0);
        message = windowText(GetDlgItem(window, IDC_PORT_MESSAGE));
        clearLabel = windowText(GetDlgItem(window, IDC_PORT_CLEAR));
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_PORT_CLEAR, BN_CLICKED), 0);
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }
    void portSettingCleared() override { ++cleared; }

    HWND window = nullptr;
    std::vector<std::wstring> titles;
    int rows = 0;
    std::wstring hub, next, message, clearLabel;
    int cleared = 0;
};

TEST(Win32PortSetting, ShowsTheSlotsAndClosesWithOk) {
    SKIP_WITHOUT_DISPLAY();
    ScriptedHost host;
    EXPECT_TRUE(win32::runPortSettingDialog(nullptr, host));
    ASSERT_NE(host.window, nullptr);
    EXPECT_EQ(host.titles, (std::vector<std::wstring>{L"NO.", L"Hub Name", L"Port"}));
    EXPECT_EQ(host.rows, 2);
    EXPECT_EQ(host.hub, L"sim-hub-1");
    EXPECT_EQ(host.next, L"02 =>");
    EXPECT_EQ(host.message, L"Please remove all cameras!");
    EXPECT_EQ(host.clearLabel, L"Celar");
    EXPECT_EQ(host.cleared, 1);
}

} // namespace
} // namespace tessell::testing

#endif // _WIN32

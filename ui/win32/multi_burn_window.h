#pragma once

// The multi-burn window (dialog 105) and Port Setting (dialog 104), views of
// `Tessell_MultiDlg` and `IdentifyHub` made from their templates in
// tessell.rc. The windows only show and forward; the station decides.

#include "multi/tessell_multi_dlg.h"
#include "ui/win32/tessell_window.h"

#include <array>
#include <commctrl.h>
#include <functional>
#include <string>
#include <windows.h>

namespace tessell::win32 {

// The standard prompts, the station's question asked with a question icon.
Prompts stationPrompts();

// Port Setting as a modal dialog over `owner`; `host` learns of it once its
// list exists and of every "Celar". True when closed with OK.
bool runPortSettingDialog(HWND owner, PortSettingHost& host);

class MultiBurnWindow final : public MultiBurnView {
public:
    // Creates the window from its template, hidden.
    explicit MultiBurnWindow(Prompts prompts = stationPrompts());
    ~MultiBurnWindow() override;
    MultiBurnWindow(const MultiBurnWindow&) = delete;
    MultiBurnWindow& operator=(const MultiBurnWindow&) = delete;

    HWND handle() const { return window_; }
    HWND control(int id) const { return GetDlgItem(window_, id); }
    void attach(Tessell_MultiDlg* controller) { controller_ = controller; }
    // Replaces the modal Port Setting (tests answer without one).
    void setPortSettingRunner(std::function<bool(HWND, PortSettingHost&)> runner) {
        portSettingRunner_ = std::move(runner);
    }

    // Runs the window's messages until the operator has closed it.
    void runMessageLoop();
    bool closed() const { return closed_; }

    // MultiBurnView
    void setCaption(std::string_view caption) override;
    void showLog(std::string_view text) override;
    void showCameraCount(std::string_view text) override;
    void showRow(int row, const SlotRow& shown) override;
    void setEnabled(MultiControl control, bool enabled) override;
    void showError(std::string_view text, std::string_view caption) override;
    bool askAboutUnknownPort(const platform::UsbAddress& address) override;
    bool runPortSetting(PortSettingHost& host) override;

    const SlotRow& row(int index) const { return rows_.at(static_cast<std::size_t>(index)); }

private:
    static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR onMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void initialise();
    LRESULT customDraw(NMLVCUSTOMDRAW& draw) const;
    void close();

    Prompts prompts_;
    std::function<bool(HWND, PortSettingHost&)> portSettingRunner_;
    HWND window_ = nullptr;
    HFONT listFont_ = nullptr;
    HFONT countFont_ = nullptr;
    Tessell_MultiDlg* controller_ = nullptr;
    std::array<SlotRow, kSlotRowCount> rows_;
    std::wstring shownLog_;
    bool portSettingOpen_ = false;
    bool closed_ = false;
};

} // namespace tessell::win32

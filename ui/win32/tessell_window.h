#pragma once

// The single-camera window (dialog 102), a modeless dialog made from its
// template in tessell.rc and bound to the `CTessellDlg` controller. The
// window only shows and forwards: every decision is the controller's.

#include "app/dialog_view.h"

#include <functional>
#include <optional>
#include <string>
#include <windows.h>

namespace tessell {
class CTessellDlg;
}

namespace tessell::win32 {

// How the window asks the operator; replaceable so that tests answer
// without a modal box.
struct Prompts {
    std::function<void(HWND owner, const std::wstring& text, const std::wstring& caption, BoxIcon)>
        message;
    std::function<bool(HWND owner, const std::wstring& text, const std::wstring& caption)> question;
    std::function<std::optional<std::wstring>(HWND owner, const std::wstring& folder,
                                              const FileFilter& filter)>
        openFile;
    std::function<std::optional<std::wstring>(HWND owner, const std::wstring& proposedName,
                                              const FileFilter& filter)>
        saveFile;
};
// MessageBoxW, GetOpenFileNameW and GetSaveFileNameW.
Prompts standardPrompts();

// Registers the common-control classes the templates use; idempotent.
void initCommonControls();

// The tool's icon (resource 128) as the window's big and small icon.
void setWindowIcons(HWND window);

// Sends one message of the thread's queue on its way, as the dialogs' loops
// do: Escape pressed anywhere in `dialog` is swallowed, the dialog's keyboard
// navigation comes next, everything else is dispatched.
void dispatchMessage(HWND dialog, MSG& message);

class TessellWindow final : public DialogView {
public:
    // Creates the window from its template, hidden.
    explicit TessellWindow(Prompts prompts = standardPrompts());
    ~TessellWindow() override;
    TessellWindow(const TessellWindow&) = delete;
    TessellWindow& operator=(const TessellWindow&) = delete;

    HWND handle() const { return window_; }
    HWND control(int id) const { return GetDlgItem(window_, id); }
    // The controller the controls report to; none while it does not exist.
    void attach(CTessellDlg* controller) { controller_ = controller; }

    // Runs the window's messages until the tool has ended.
    void runMessageLoop();

    // DialogView
    void showLog(std::string_view text) override;
    void scrollLogToEnd() override;
    void showStatus(StatusPicture picture) override;
    void setProgress(int percent) override;
    void setEnabled(Control control, bool enabled) override;
    void setVisible(Control control, bool visible) override;
    void setChecked(Control control, bool checked) override;
    bool isChecked(Control control) const override;
    void setText(Control control, std::string_view text) override;
    void setCaption(std::string_view caption) override;
    void clearCameraList() override;
    void addCamera(std::string_view entry) override;
    void selectCamera(int position) override;
    int selectedCamera() const override;
    void messageBox(std::string_view text, std::string_view caption, BoxIcon icon) override;
    bool askYesNo(std::string_view text, std::string_view caption) override;
    std::optional<std::string> chooseImageFile(const std::string& folder,
                                               const FileFilter& filter) override;
    std::optional<std::string> chooseDumpFile(const std::string& proposedName,
                                              const FileFilter& filter) override;
    void endProcess(int exitCode) override;

    bool ended() const { return ended_; }
    int exitCode() const { return exitCode_; }
    StatusPicture statusPicture() const { return picture_; }

private:
    static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR onMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void initialise();
    bool command(int id, int code);
    void close();
    HWND item(Control control) const { return GetDlgItem(window_, static_cast<int>(control)); }

    Prompts prompts_;
    HWND window_ = nullptr;
    CTessellDlg* controller_ = nullptr;
    StatusPicture picture_ = StatusPicture::Blank;
    std::wstring shownLog_;
    bool ended_ = false;
    int exitCode_ = 0;
};

} // namespace tessell::win32

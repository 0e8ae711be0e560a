#include "ui/win32/tessell_window.h"

#include "app/exit_codes.h"
#include "app/query_service.h"
#include "app/tessell_dlg.h"
#include "ui/win32/resource.h"
#include "ui/win32/status_painter.h"
#include "ui/win32/win32_text.h"

#include <algorithm>
#include <charconv>
#include <commctrl.h>
#include <commdlg.h>
#include <vector>

namespace tessell::win32 {

namespace {

// Posted to itself on activation: the focus moves after the dialog's own
// handling has restored it.
constexpr UINT kAfterActivate = WM_APP + 0x41;

// The progress bar's background, colour value 0x00EEFF (red 0xFF, green 0xEE, blue 0x00).
constexpr COLORREF kProgressBackground = RGB(0xFF, 0xEE, 0x00);

UINT boxIconStyle(BoxIcon icon) {
    switch (icon) {
    case BoxIcon::Error:
        return MB_ICONERROR;
    case BoxIcon::Warning:
        return MB_ICONWARNING;
    case BoxIcon::None:
        break;
    }
    return 0;
}

// "BIN Files" and "*.bin" as the choosers' filter: pairs of NUL-ended
// strings, the list ended by another NUL.
std::wstring filterText(const FileFilter& filter) {
    std::wstring text = wide(filter.description);
    text += L'\0';
    text += wide(filter.pattern);
    text += L'\0';
    text += L'\0';
    return text;
}

// "bin" of "*.bin".
std::wstring defaultExtension(const FileFilter& filter) {
    const std::string& pattern = filter.pattern;
    const auto dot = pattern.rfind('.');
    return dot == std::string::npos ? std::wstring() : wide(pattern.substr(dot + 1));
}

std::optional<std::wstring> chooseFile(HWND owner, const std::wstring& folder,
                                       const std::wstring& proposed, const FileFilter& filter,
                                       bool save) {
    // Room for long paths; the controller limits what it keeps.
    std::vector<wchar_t> file(32768, L'\0');
    std::copy_n(proposed.begin(), std::min(proposed.size(), file.size() - 1), file.begin());
    const std::wstring filters = filterText(filter);
    const std::wstring extension = defaultExtension(filter);
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filters.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    dialog.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
    dialog.Flags = OFN_EXPLORER | OFN_LONGNAMES | OFN_HIDEREADONLY | OFN_NOCHANGEDIR |
                   (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
    const BOOL chosen = save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog);
    if (!chosen)
        return std::nullopt;
    return std::wstring(file.data());
}

// Draws `control` unthemed, so that it keeps the colours it is given. The
// theme library is looked up at run time: it is a system DLL, but not one
// the program imports.
void removeTheme(HWND control) {
    using SetWindowThemeFunction = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
    static const HMODULE themes = LoadLibraryW(L"uxtheme.dll");
    if (!themes)
        return;
    const auto setWindowTheme = reinterpret_cast<SetWindowThemeFunction>(
        reinterpret_cast<void*>(GetProcAddress(themes, "SetWindowTheme")));
    if (setWindowTheme)
        setWindowTheme(control, L"", L"");
}

bool isCheckBox(HWND control) {
    const LONG_PTR type = GetWindowLongPtrW(control, GWL_STYLE) & BS_TYPEMASK;
    return type == BS_CHECKBOX || type == BS_AUTOCHECKBOX;
}

} // namespace

Prompts standardPrompts() {
    Prompts prompts;
    prompts.message = [](HWND owner, const std::wstring& text, const std::wstring& caption,
                         BoxIcon icon) {
        MessageBoxW(owner, text.c_str(), caption.c_str(), MB_OK | boxIconStyle(icon));
    };
    prompts.question = [](HWND owner, const std::wstring& text, const std::wstring& caption) {
        return MessageBoxW(owner, text.c_str(), caption.c_str(), MB_YESNO | MB_ICONWARNING) ==
               IDYES;
    };
    prompts.openFile = [](HWND owner, const std::wstring& folder, const FileFilter& filter) {
        return chooseFile(owner, folder, wide(filter.pattern), filter, false);
    };
    prompts.saveFile = [](HWND owner, const std::wstring& proposed, const FileFilter& filter) {
        return chooseFile(owner, std::wstring(), proposed, filter, true);
    };
    return prompts;
}

void initCommonControls() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = 0xFF; // every class of the classic set
    InitCommonControlsEx(&controls);
}

void setWindowIcons(HWND window) {
    const HINSTANCE module = GetModuleHandleW(nullptr);
    const auto load = [module](int metricX, int metricY) {
        return reinterpret_cast<LPARAM>(LoadImageW(module, MAKEINTRESOURCEW(IDI_TESSELL),
                                                   IMAGE_ICON, GetSystemMetrics(metricX),
                                                   GetSystemMetrics(metricY), LR_SHARED));
    };
    SendMessageW(window, WM_SETICON, ICON_BIG, load(SM_CXICON, SM_CYICON));
    SendMessageW(window, WM_SETICON, ICON_SMALL, load(SM_CXSMICON, SM_CYSMICON));
}

void dispatchMessage(HWND dialog, MSG& message) {
    const bool inDialog =
        dialog && (message.hwnd == dialog || IsChild(dialog, message.hwnd) != FALSE);
    // The operator cannot close the tool with Escape by accident.
    if (inDialog && message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE)
        return;
    if (inDialog && IsDialogMessageW(dialog, &message))
        return;
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

TessellWindow::TessellWindow(Prompts prompts) : prompts_(std::move(prompts)) {
    initCommonControls();
    CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_TESSELL), nullptr,
                       &TessellWindow::dialogProc, reinterpret_cast<LPARAM>(this));
}

TessellWindow::~TessellWindow() {
    if (window_) {
        SetWindowLongPtrW(window_, DWLP_USER, 0);
        DestroyWindow(window_);
    }
}

INT_PTR CALLBACK TessellWindow::dialogProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<TessellWindow*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->window_ = window;
        self->initialise();
        return TRUE;
    }
    auto* self = reinterpret_cast<TessellWindow*>(GetWindowLongPtrW(window, DWLP_USER));
    return self ? self->onMessage(message, wParam, lParam) : FALSE;
}

void TessellWindow::initialise() {
    setWindowIcons(window_);
    HWND progress = item(Control::Progress);
    // A themed bar ignores its background colour.
    removeTheme(progress);
    SendMessageW(progress, PBM_SETRANGE32, 0, 100);
    SendMessageW(progress, PBM_SETPOS, 0, 0);
    SendMessageW(progress, PBM_SETBKCOLOR, 0, static_cast<LPARAM>(kProgressBackground));
    // The log grows past the edit box's default 32 K characters.
    SendMessageW(item(Control::LogBox), EM_SETLIMITTEXT, 0, 0);
}

INT_PTR TessellWindow::onMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        return command(LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
    case WM_DRAWITEM: {
        const auto* draw = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (draw->CtlID == IDC_STATUS_BOX)
            paintStatusPicture(draw->hDC, draw->rcItem, picture_);
        else if (draw->CtlID ==
                 IDC_PREVIEW_PICTURE) // black where the preview takes the log's place
            FillRect(draw->hDC, &draw->rcItem, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        else
            return FALSE;
        return TRUE;
    }
    case WM_CLOSE:
        close();
        return TRUE;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(SendMessageW(window_, WM_GETICON, ICON_BIG, 0));
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE)
            PostMessageW(window_, kAfterActivate, 0, 0);
        return FALSE;
    case kAfterActivate:
        if (controller_ && !ended_) {
            controller_->OnActivate();
            SetFocus(item(Control::FlashTypeName));
        }
        return TRUE;
    case WM_WINDOWPOSCHANGING: {
        // An unattended run keeps the window hidden; message boxes still show.
        auto* position = reinterpret_cast<WINDOWPOS*>(lParam);
        if (controller_) {
            const StartupFlags& flags = controller_->flags();
            if (flags.silentMode || ((position->flags & SWP_SHOWWINDOW) && flags.cmdLineMode)) {
                position->flags &= ~SWP_SHOWWINDOW;
                position->flags |= SWP_HIDEWINDOW;
            }
        }
        return FALSE;
    }
    case WM_APP + 1:
    case WM_APP + 2:
    case WM_APP + 3: {
        // Other processes' questions, answered as the query service answers them.
        int answer = 0;
        if (controller_ && !ended_) {
            const std::string text =
                answerToolQuestion(static_cast<ToolQuestion>(message - WM_APP), *controller_);
            std::from_chars(text.data(), text.data() + text.size(), answer);
        }
        SetWindowLongPtrW(window_, DWLP_MSGRESULT, answer);
        return TRUE;
    }
    default:
        return FALSE;
    }
}

bool TessellWindow::command(int id, int code) {
    // Escape (and the Cancel it becomes) never closes the window; the
    // window's close box does.
    if (id == IDCANCEL || id == IDOK)
        return true;
    if (!controller_ || ended_)
        return false;
    CTessellDlg& dialog = *controller_;
    if (id == IDC_CAMERA_LIST) {
        // Only the operator's choice: LB_SETCURSEL sends no notification.
        if (code == LBN_SELCHANGE)
            dialog.SelectCamera();
        return true;
    }
    if (code != BN_CLICKED)
        return false;
    switch (id) {
    case IDC_DOWNLOAD:
        dialog.OnDownload();
        return true;
    case IDC_BROWSE:
        dialog.OnBrowse();
        return true;
    case IDC_DUMP:
        dialog.OnDump();
        return true;
    case IDC_ERASE:
        dialog.OnErase();
        return true;
    case IDC_LED_ON:
        dialog.OnLedOn();
        return true;
    case IDC_LED_OFF:
        dialog.OnLedOff();
        return true;
    case IDC_REWORK:
        dialog.OnReworkToggle();
        return true;
    case IDC_PREVIEW:
        dialog.OnPreviewToggle();
        return true;
    case IDC_TEST:
        dialog.OnTest();
        return true;
    default:
        return false;
    }
}

void TessellWindow::close() {
    if (!ended_ && controller_)
        controller_->OnDestroy();
    if (!ended_)
        endProcess(controller_ ? controller_->exitCode() : kExitNothingFinished);
}

void TessellWindow::runMessageLoop() {
    MSG message;
    while (!ended_ && GetMessageW(&message, nullptr, 0, 0) > 0)
        dispatchMessage(window_, message);
}

void TessellWindow::showLog(std::string_view text) {
    std::wstring shown = editBoxText(text);
    if (shown == shownLog_)
        return;
    shownLog_ = std::move(shown);
    SetWindowTextW(item(Control::LogBox), shownLog_.c_str());
}

void TessellWindow::scrollLogToEnd() {
    HWND log = item(Control::LogBox);
    const LRESULT lines = SendMessageW(log, EM_GETLINECOUNT, 0, 0);
    SendMessageW(log, EM_LINESCROLL, 0, lines);
}

void TessellWindow::showStatus(StatusPicture picture) {
    picture_ = picture;
    HWND box = GetDlgItem(window_, IDC_STATUS_BOX);
    InvalidateRect(box, nullptr, FALSE);
    UpdateWindow(box);
}

void TessellWindow::setProgress(int percent) {
    SendMessageW(item(Control::Progress), PBM_SETPOS,
                 static_cast<WPARAM>(std::clamp(percent, 0, 100)), 0);
}

void TessellWindow::setEnabled(Control control, bool enabled) {
    if (HWND widget = item(control))
        EnableWindow(widget, enabled ? TRUE : FALSE);
}

void TessellWindow::setVisible(Control control, bool visible) {
    if (HWND widget = item(control))
        ShowWindow(widget, visible ? SW_SHOW : SW_HIDE);
}

void TessellWindow::setChecked(Control control, bool checked) {
    if (HWND widget = item(control); widget && isCheckBox(widget))
        SendMessageW(widget, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool TessellWindow::isChecked(Control control) const {
    HWND widget = item(control);
    return widget && isCheckBox(widget) && SendMessageW(widget, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TessellWindow::setText(Control control, std::string_view text) {
    if (control == Control::LogBox) {
        showLog(text);
        return;
    }
    if (HWND widget = item(control))
        SetWindowTextW(widget, wide(text).c_str());
}

void TessellWindow::setCaption(std::string_view caption) {
    SetWindowTextW(window_, wide(caption).c_str());
}

void TessellWindow::clearCameraList() {
    SendMessageW(item(Control::CameraList), LB_RESETCONTENT, 0, 0);
}

void TessellWindow::addCamera(std::string_view entry) {
    const std::wstring text = wide(entry);
    SendMessageW(item(Control::CameraList), LB_ADDSTRING, 0,
                 reinterpret_cast<LPARAM>(text.c_str()));
}

void TessellWindow::selectCamera(int position) {
    HWND list = item(Control::CameraList);
    const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    SendMessageW(list, LB_SETCURSEL, position >= 0 && position < count ? position : -1, 0);
}

int TessellWindow::selectedCamera() const {
    const LRESULT selected = SendMessageW(item(Control::CameraList), LB_GETCURSEL, 0, 0);
    return selected == LB_ERR ? -1 : static_cast<int>(selected);
}

void TessellWindow::messageBox(std::string_view text, std::string_view caption, BoxIcon icon) {
    if (prompts_.message)
        prompts_.message(window_, wide(text), wide(caption), icon);
}

bool TessellWindow::askYesNo(std::string_view text, std::string_view caption) {
    return prompts_.question && prompts_.question(window_, wide(text), wide(caption));
}

std::optional<std::string> TessellWindow::chooseImageFile(const std::string& folder,
                                                          const FileFilter& filter) {
    if (!prompts_.openFile)
        return std::nullopt;
    const auto chosen = prompts_.openFile(window_, wide(folder), filter);
    if (!chosen || chosen->empty())
        return std::nullopt;
    return narrow(*chosen);
}

std::optional<std::string> TessellWindow::chooseDumpFile(const std::string& proposedName,
                                                         const FileFilter& filter) {
    if (!prompts_.saveFile)
        return std::nullopt;
    const auto chosen = prompts_.saveFile(window_, wide(proposedName), filter);
    if (!chosen || chosen->empty())
        return std::nullopt;
    return narrow(*chosen);
}

void TessellWindow::endProcess(int exitCode) {
    if (ended_)
        return;
    ended_ = true;
    exitCode_ = exitCode;
    if (window_) {
        ShowWindow(window_, SW_HIDE);
        // Wakes the message loop so that it sees the end.
        PostMessageW(window_, WM_NULL, 0, 0);
    }
}

} // namespace tessell::win32

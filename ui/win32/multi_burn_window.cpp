#include "ui/win32/multi_burn_window.h"

#include "ui/win32/resource.h"
#include "ui/win32/win32_text.h"

#include <iterator>

namespace tessell::win32 {

namespace {

constexpr std::string_view kUnknownPortQuestion =
    "I don't know this port!, do you want to check saved port?";
constexpr int kStatusColumn = 3;
constexpr int kSlotColumnWidths[] = {55, 55, 208, 125, 200};
constexpr const wchar_t* kSlotColumnTitles[] = {L"NO.", L"Stat", L"Progress", L"Status", L""};
constexpr int kPortColumnWidths[] = {50, 350, 45};
constexpr const wchar_t* kPortColumnTitles[] = {L"NO.", L"Hub Name", L"Port"};

void addColumns(HWND list, const int* widths, const wchar_t* const* titles, int count) {
    for (int column = 0; column < count; ++column) {
        LVCOLUMNW entry{};
        entry.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        entry.cx = widths[column];
        entry.pszText = const_cast<wchar_t*>(titles[column]);
        entry.iSubItem = column;
        SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column),
                     reinterpret_cast<LPARAM>(&entry));
    }
}

void setCell(HWND list, int row, int column, std::string_view text) {
    std::wstring value = wide(text);
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = value.data();
    SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

void insertRow(HWND list, int row) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<wchar_t*>(L"");
    SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
}

// Tahoma `height` x `width` pixels.
HFONT stationFont(int height, int width, int weight) {
    return CreateFontW(height, width, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, L"Tahoma");
}

// --- Port Setting ------------------------------------------------------------------------

class PortSettingDialog final : public PortSettingView {
public:
    explicit PortSettingDialog(PortSettingHost& host) : host_(host) {}

    static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) {
            auto* self = reinterpret_cast<PortSettingDialog*>(lParam);
            SetWindowLongPtrW(window, DWLP_USER, lParam);
            self->window_ = window;
            HWND list = GetDlgItem(window, IDC_PORT_LIST);
            SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT,
                         LVS_EX_FULLROWSELECT);
            addColumns(list, kPortColumnWidths, kPortColumnTitles,
                       static_cast<int>(std::size(kPortColumnWidths)));
            self->host_.portSettingOpened(*self);
            return TRUE;
        }
        auto* self = reinterpret_cast<PortSettingDialog*>(GetWindowLongPtrW(window, DWLP_USER));
        if (!self || message != WM_COMMAND)
            return FALSE;
        switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:
            EndDialog(window, LOWORD(wParam));
            return TRUE;
        case IDC_PORT_CLEAR:
            if (HIWORD(wParam) == BN_CLICKED)
                self->host_.portSettingCleared();
            return TRUE;
        default:
            return FALSE;
        }
    }

    void showMessage(std::string_view text) override {
        SetDlgItemTextW(window_, IDC_PORT_MESSAGE, wide(text).c_str());
    }

    void showRows(const std::vector<PortSettingRow>& rows) override {
        HWND list = GetDlgItem(window_, IDC_PORT_LIST);
        SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
        for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
            const PortSettingRow& shown = rows[static_cast<std::size_t>(row)];
            insertRow(list, row);
            setCell(list, row, 0, shown.number);
            setCell(list, row, 1, shown.hub);
            setCell(list, row, 2, shown.port);
        }
    }

private:
    PortSettingHost& host_;
    HWND window_ = nullptr;
};

} // namespace

Prompts stationPrompts() {
    Prompts prompts = standardPrompts();
    prompts.question = [](HWND owner, const std::wstring& text, const std::wstring& caption) {
        return MessageBoxW(owner, text.c_str(), caption.c_str(), MB_YESNO | MB_ICONQUESTION) ==
               IDYES;
    };
    return prompts;
}

bool runPortSettingDialog(HWND owner, PortSettingHost& host) {
    PortSettingDialog dialog(host);
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PORT_SETTING), owner,
                           &PortSettingDialog::dialogProc,
                           reinterpret_cast<LPARAM>(&dialog)) == IDOK;
}

// --- the multi-burn window ----------------------------------------------------------------

MultiBurnWindow::MultiBurnWindow(Prompts prompts)
    : prompts_(std::move(prompts)), portSettingRunner_(&runPortSettingDialog) {
    initCommonControls();
    CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MULTI_BURN), nullptr,
                       &MultiBurnWindow::dialogProc, reinterpret_cast<LPARAM>(this));
}

MultiBurnWindow::~MultiBurnWindow() {
    if (window_) {
        SetWindowLongPtrW(window_, DWLP_USER, 0);
        DestroyWindow(window_);
    }
    if (listFont_)
        DeleteObject(listFont_);
    if (countFont_)
        DeleteObject(countFont_);
}

INT_PTR CALLBACK MultiBurnWindow::dialogProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<MultiBurnWindow*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->window_ = window;
        self->initialise();
        return TRUE;
    }
    auto* self = reinterpret_cast<MultiBurnWindow*>(GetWindowLongPtrW(window, DWLP_USER));
    return self ? self->onMessage(message, wParam, lParam) : FALSE;
}

void MultiBurnWindow::initialise() {
    setWindowIcons(window_);
    HWND list = control(IDC_SLOT_LIST);
    listFont_ = stationFont(16, 10, FW_NORMAL);
    countFont_ = stationFont(32, 18, FW_BOLD);
    SendMessageW(list, WM_SETFONT, reinterpret_cast<WPARAM>(listFont_), FALSE);
    SendMessageW(control(IDC_CAMERA_COUNT), WM_SETFONT, reinterpret_cast<WPARAM>(countFont_),
                 FALSE);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT,
                 LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    addColumns(list, kSlotColumnWidths, kSlotColumnTitles,
               static_cast<int>(std::size(kSlotColumnWidths)));
    for (int row = 0; row < kSlotRowCount; ++row) {
        insertRow(list, row);
        showRow(row, ClearedRow(row));
    }
    SendMessageW(control(IDC_LOG), EM_SETLIMITTEXT, 0, 0);
}

INT_PTR MultiBurnWindow::onMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        // Escape would close the station under the operator's hands.
        if (id == IDCANCEL || id == IDOK)
            return TRUE;
        if (!controller_ || HIWORD(wParam) != BN_CLICKED)
            return FALSE;
        if (id == IDC_SETTING)
            controller_->OnSetting();
        else if (id == IDC_BURN)
            controller_->OnBurn();
        else if (id == IDC_RESCAN)
            controller_->OnReScan();
        else
            return FALSE;
        return TRUE;
    }
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->idFrom != IDC_SLOT_LIST || header->code != NM_CUSTOMDRAW)
            return FALSE;
        SetWindowLongPtrW(window_, DWLP_MSGRESULT,
                          customDraw(*reinterpret_cast<NMLVCUSTOMDRAW*>(lParam)));
        return TRUE;
    }
    case WM_CLOSE:
        close();
        return TRUE;
    default:
        return FALSE;
    }
}

LRESULT MultiBurnWindow::customDraw(NMLVCUSTOMDRAW& draw) const {
    switch (draw.nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
        return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT:
        return CDRF_NOTIFYSUBITEMDRAW;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
        // The Status cell in its row's colour, every other cell white; black text.
        const auto row = static_cast<std::size_t>(draw.nmcd.dwItemSpec);
        COLORREF background = RGB(255, 255, 255);
        if (draw.iSubItem == kStatusColumn && row < rows_.size()) {
            const RowColour& colour = rows_[row].colour;
            background = RGB(colour.red, colour.green, colour.blue);
        }
        draw.clrTextBk = background;
        draw.clrText = RGB(0, 0, 0);
        // No selection highlight over the colours.
        draw.nmcd.uItemState &= ~static_cast<UINT>(CDIS_SELECTED | CDIS_FOCUS);
        return CDRF_NEWFONT;
    }
    default:
        return CDRF_DODEFAULT;
    }
}

void MultiBurnWindow::close() {
    if (closed_)
        return;
    // Not while cameras burn: the controller tells the operator why.
    if (controller_ && !controller_->OnClose())
        return;
    closed_ = true;
    ShowWindow(window_, SW_HIDE);
    PostMessageW(window_, WM_NULL, 0, 0);
}

void MultiBurnWindow::runMessageLoop() {
    MSG message;
    while (!closed_ && GetMessageW(&message, nullptr, 0, 0) > 0)
        dispatchMessage(window_, message);
}

void MultiBurnWindow::setCaption(std::string_view caption) {
    SetWindowTextW(window_, wide(caption).c_str());
}

void MultiBurnWindow::showLog(std::string_view text) {
    HWND log = control(IDC_LOG);
    std::wstring shown = editBoxText(text);
    if (shown != shownLog_) {
        shownLog_ = std::move(shown);
        SetWindowTextW(log, shownLog_.c_str());
    }
    const LRESULT lines = SendMessageW(log, EM_GETLINECOUNT, 0, 0);
    SendMessageW(log, EM_LINESCROLL, 0, lines);
}

void MultiBurnWindow::showCameraCount(std::string_view text) {
    SetDlgItemTextW(window_, IDC_CAMERA_COUNT, wide(text).c_str());
}

void MultiBurnWindow::showRow(int row, const SlotRow& shown) {
    if (row < 0 || row >= kSlotRowCount)
        return;
    rows_[static_cast<std::size_t>(row)] = shown;
    HWND list = control(IDC_SLOT_LIST);
    const std::string_view columns[] = {shown.number, shown.stat, shown.progress, shown.status,
                                        shown.file};
    for (int column = 0; column < static_cast<int>(std::size(columns)); ++column)
        setCell(list, row, column, columns[column]);
    SendMessageW(list, LVM_REDRAWITEMS, static_cast<WPARAM>(row), static_cast<LPARAM>(row));
}

void MultiBurnWindow::setEnabled(MultiControl control, bool enabled) {
    if (HWND widget = GetDlgItem(window_, static_cast<int>(control)))
        EnableWindow(widget, enabled ? TRUE : FALSE);
}

void MultiBurnWindow::showError(std::string_view text, std::string_view caption) {
    if (prompts_.message)
        prompts_.message(window_, wide(text), wide(caption), BoxIcon::Error);
}

bool MultiBurnWindow::askAboutUnknownPort(const platform::UsbAddress&) {
    return prompts_.question && prompts_.question(window_, wide(kUnknownPortQuestion), L"Question");
}

bool MultiBurnWindow::runPortSetting(PortSettingHost& host) {
    // One at a time: a scan that meets an unknown port while Port Setting is
    // open would otherwise open another over it.
    if (portSettingOpen_ || !portSettingRunner_)
        return false;
    portSettingOpen_ = true;
    const bool ok = portSettingRunner_(window_, host);
    portSettingOpen_ = false;
    return ok;
}

} // namespace tessell::win32

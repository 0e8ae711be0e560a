#pragma once

// The multi-camera station's window (dialog 105): the 16 camera rows, the
// camera count, the log and the station's commands, each control found by
// its resource id as object name ("1045" is Burn-Mutiple), bound to the
// `Tessell_MultiDlg` controller. The window only shows and forwards; Port
// Setting (dialog 104) opens from here when the controller asks for it.

#include "multi/tessell_multi_dlg.h"
#include "ui/qt/tessell_window.h"

#include <QDialog>
#include <map>
#include <string>

class QLabel;
class QPlainTextEdit;
class QTableWidget;

namespace tessell::ui {

class PortSettingDialog;

// The prompts of the station: its question carries the question icon.
Prompts stationPrompts();

QString controlName(MultiControl control);

class MultiBurnWindow final : public QDialog, public MultiBurnView {
    Q_OBJECT
public:
    explicit MultiBurnWindow(Prompts prompts = stationPrompts(), QWidget* parent = nullptr);
    ~MultiBurnWindow() override;

    // The controller the commands go to; none while it does not exist.
    void attach(Tessell_MultiDlg* controller) { controller_ = controller; }

    using QDialog::setEnabled;

    // MultiBurnView
    void setCaption(std::string_view caption) override;
    void showLog(std::string_view text) override;
    void showCameraCount(std::string_view text) override;
    void showRow(int row, const SlotRow& shown) override;
    void setEnabled(MultiControl control, bool enabled) override;
    void showError(std::string_view text, std::string_view caption) override;
    bool askAboutUnknownPort(const platform::UsbAddress& address) override;
    bool runPortSetting(PortSettingHost& host) override;
    void showStationCounts(std::string_view text) override;

    QWidget* control(MultiControl id) const;
    QTableWidget& cameraList() const { return *cameras_; }
    // Port Setting while it is open, else null.
    PortSettingDialog* portSetting() const { return portSetting_; }
    bool closed() const { return closed_; }

Q_SIGNALS:
    // The operator closed the window and the controller let it close.
    void windowClosed();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void build();
    void connectCommands();

    Prompts prompts_;
    Tessell_MultiDlg* controller_ = nullptr;
    std::map<MultiControl, QWidget*> controls_;
    QPlainTextEdit* log_ = nullptr;
    QLabel* count_ = nullptr;
    QLabel* stationCounts_ = nullptr;
    QTableWidget* cameras_ = nullptr;
    PortSettingDialog* portSetting_ = nullptr;
    std::string shownLog_; // the controller's text as last shown, line ends and all
    bool closed_ = false;
};

} // namespace tessell::ui

#pragma once

// The single-camera window (dialog 102): every control of the dialog with a
// role, each found by its resource id as object name ("1003" is Download),
// bound to the `CTessellDlg` controller. The window only shows and forwards:
// all decisions are the controller's.

#include "app/dialog_view.h"
#include "ui/qt/status_box.h"

#include <QDialog>
#include <functional>
#include <map>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace tessell {
class CTessellDlg;
}

namespace tessell::ui {

// How the window asks the operator; replaceable so that tests answer
// without a modal box.
struct Prompts {
    std::function<void(QWidget*, const QString& text, const QString& caption, BoxIcon)> message;
    std::function<bool(QWidget*, const QString& text, const QString& caption)> question;
    std::function<QString(QWidget*, const QString& folder, const QString& filter)> openFile;
    std::function<QString(QWidget*, const QString& proposed, const QString& filter)> saveFile;
};
Prompts standardPrompts();

// The object name of a control: its resource id in decimal.
QString controlName(Control control);

class TessellWindow final : public QDialog, public DialogView {
    Q_OBJECT
public:
    explicit TessellWindow(Prompts prompts = standardPrompts(), QWidget* parent = nullptr);
    ~TessellWindow() override;

    // The controller the controls report to; none while it does not exist.
    void attach(CTessellDlg* controller) { controller_ = controller; }

    using QDialog::setEnabled;
    using QDialog::setVisible;

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
    void showStationCounts(std::string_view text) override;

    bool ended() const { return ended_; }
    int exitCode() const { return exitCode_; }
    QWidget* control(Control id) const;
    StatusBox& statusBox() const { return *status_; }

Q_SIGNALS:
    // The tool has ended; the program leaves with `exitCode`.
    void toolEnded(int exitCode);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    template <typename Widget> Widget* make(Control id, Widget* widget);
    void build();
    void connectCommands();

    Prompts prompts_;
    CTessellDlg* controller_ = nullptr;
    std::map<Control, QWidget*> controls_;
    StatusBox* status_ = nullptr;
    QPlainTextEdit* log_ = nullptr;
    QListWidget* cameras_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* stationCounts_ = nullptr;
    bool ended_ = false;
    int exitCode_ = 0;
};

} // namespace tessell::ui

#include "ui/qt/tessell_window.h"

#include "app/exit_codes.h"
#include "app/tessell_dlg.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStackedLayout>
#include <QVBoxLayout>
#include <algorithm>

namespace tessell::ui {

namespace {

QString text(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// "BIN Files" and "*.bin" as a Qt file-dialog filter.
QString filterText(const FileFilter& filter) {
    return text(filter.description) + " (" + text(filter.pattern) + ")";
}

QMessageBox::Icon boxIcon(BoxIcon icon) {
    switch (icon) {
    case BoxIcon::Error:
        return QMessageBox::Critical;
    case BoxIcon::Warning:
        return QMessageBox::Warning;
    case BoxIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

Prompts standardPrompts() {
    Prompts prompts;
    prompts.message = [](QWidget* parent, const QString& message, const QString& caption,
                         BoxIcon icon) {
        QMessageBox box(boxIcon(icon), caption, message, QMessageBox::Ok, parent);
        box.exec();
    };
    prompts.question = [](QWidget* parent, const QString& message, const QString& caption) {
        QMessageBox box(QMessageBox::Warning, caption, message, QMessageBox::Yes | QMessageBox::No,
                        parent);
        return box.exec() == QMessageBox::Yes;
    };
    prompts.openFile = [](QWidget* parent, const QString& folder, const QString& filter) {
        return QFileDialog::getOpenFileName(parent, QString(), folder + "/*.bin", filter);
    };
    prompts.saveFile = [](QWidget* parent, const QString& proposed, const QString& filter) {
        return QFileDialog::getSaveFileName(parent, QString(), proposed, filter);
    };
    return prompts;
}

QString controlName(Control control) {
    return QString::number(static_cast<int>(control));
}

TessellWindow::TessellWindow(Prompts prompts, QWidget* parent)
    : QDialog(parent), prompts_(std::move(prompts)) {
    build();
    connectCommands();
}

TessellWindow::~TessellWindow() = default;

template <typename Widget> Widget* TessellWindow::make(Control id, Widget* widget) {
    widget->setObjectName(controlName(id));
    controls_[id] = widget;
    return widget;
}

void TessellWindow::build() {
    setWindowTitle(text(kDialogCaption));
    setSizeGripEnabled(true);

    log_ = make(Control::LogBox, new QPlainTextEdit(this));
    log_->setReadOnly(true);
    log_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    log_->setLineWrapMode(QPlainTextEdit::NoWrap);
    log_->setMinimumSize(420, 260);
    // The preview picture takes the log's place while a preview is shown.
    auto* picture = make(Control::PreviewPicture, new QLabel(this));
    picture->setMinimumSize(420, 260);
    picture->setStyleSheet("background: black");
    picture->hide();
    auto* previewLabel = make(Control::PreviewLabel, new QLabel("Preview:", this));
    previewLabel->hide();

    cameras_ = make(Control::CameraList, new QListWidget(this));
    cameras_->setMinimumWidth(240);
    // The status box has no role in the controller's control set: it is
    // only painted, through showStatus.
    status_ = new StatusBox(this);
    status_->setObjectName("1006");
    auto* flashName = make(Control::FlashTypeName, new QLineEdit(this));
    flashName->setReadOnly(true);
    auto* flashList = make(Control::FlashTypeList, new QComboBox(this));
    flashList->hide();
    auto* cameraBcd = make(Control::CameraBcd, new QLabel("ver", this));
    auto* imageBcd = make(Control::ImageBcd, new QLabel("ver", this));
    auto* pid = make(Control::CameraPid, new QLabel(" __  __  __  __", this));
    auto* vid = make(Control::CameraVid, new QLabel(" __  __  __  __", this));
    auto* serial = make(Control::DeviceSerial, new QLabel("____________________", this));
    auto* serialLabel = make(Control::DeviceSerialLabel, new QLabel("Device SN :", this));

    auto* imagePath = make(Control::ImagePath, new QLineEdit(this));
    auto* browse = make(Control::Browse, new QPushButton("...", this));
    browse->setMaximumWidth(40);
    auto* download = make(Control::Download, new QPushButton("Download", this));
    download->setEnabled(false);
    progress_ = make(Control::Progress, new QProgressBar(this));
    progress_->setRange(0, 100);
    progress_->setValue(0);
    progress_->setTextVisible(false);
    // The bar's background colour of the original tool (0x00EEFF: red 0xFF,
    // green 0xEE, blue 0x00).
    progress_->setStyleSheet("QProgressBar { background: #FFEE00; }");

    auto* dump = make(Control::Dump, new QPushButton("Dump", this));
    auto* erase = make(Control::Erase, new QPushButton("Erase", this));
    auto* fastDownload = make(Control::FastDownload, new QPushButton("FastDL", this));
    fastDownload->hide();
    auto* ledOn = make(Control::LedOn, new QPushButton("LED ON", this));
    auto* ledOff = make(Control::LedOff, new QPushButton("LED OFF", this));
    auto* test = make(Control::Test, new QPushButton("TEST", this));
    test->hide();
    auto* rework = make(Control::ReworkToggle, new QCheckBox("Re-Work", this));
    rework->hide();
    auto* preview = make(Control::PreviewToggle, new QCheckBox("Preview", this));
    preview->hide();
    auto* outputLog = make(Control::OutputLogFile, new QCheckBox("Output Log File", this));
    outputLog->hide();

    // Layout: camera list and identity on the left, log and commands on the right.
    auto* left = new QGridLayout;
    left->addWidget(new QLabel("Device:", this), 0, 0, 1, 3);
    left->addWidget(cameras_, 1, 0, 1, 3);
    left->addWidget(new QLabel("Status:", this), 2, 0, 1, 3);
    left->addWidget(status_, 3, 0, 1, 3);
    left->addWidget(new QLabel("Flash type:", this), 4, 0);
    left->addWidget(flashName, 4, 1, 1, 2);
    left->addWidget(flashList, 5, 1, 1, 2);
    left->addWidget(new QLabel("Bcd  Cur    >>   New", this), 6, 0);
    left->addWidget(cameraBcd, 6, 1);
    left->addWidget(imageBcd, 6, 2);
    left->addWidget(new QLabel("PID:", this), 7, 0);
    left->addWidget(pid, 7, 1, 1, 2);
    left->addWidget(new QLabel("VID:", this), 8, 0);
    left->addWidget(vid, 8, 1, 1, 2);
    left->addWidget(serialLabel, 9, 0);
    left->addWidget(serial, 9, 1, 1, 2);

    auto* logTitle = new QHBoxLayout;
    logTitle->addWidget(new QLabel("Log:", this));
    logTitle->addWidget(previewLabel);
    logTitle->addStretch();
    auto* logArea = new QStackedLayout;
    logArea->setStackingMode(QStackedLayout::StackAll);
    logArea->addWidget(log_);
    logArea->addWidget(picture);

    auto* file = new QHBoxLayout;
    file->addWidget(imagePath);
    file->addWidget(browse);
    auto* commands = new QHBoxLayout;
    for (QWidget* widget :
         std::initializer_list<QWidget*>{download, dump, erase, ledOn, ledOff, fastDownload, test})
        commands->addWidget(widget);
    commands->addStretch();
    auto* toggles = new QHBoxLayout;
    for (QWidget* widget : std::initializer_list<QWidget*>{rework, preview, outputLog})
        toggles->addWidget(widget);
    toggles->addStretch();
    // The station's day so far, out of the way at the end of the toggles.
    stationCounts_ = new QLabel(this);
    stationCounts_->setObjectName("stationCounts");
    stationCounts_->setStyleSheet("QLabel { color: #606060; }");
    toggles->addWidget(stationCounts_);

    auto* right = new QVBoxLayout;
    right->addLayout(logTitle);
    right->addLayout(logArea, 1);
    right->addLayout(file);
    right->addWidget(progress_);
    right->addLayout(commands);
    right->addLayout(toggles);

    auto* top = new QHBoxLayout(this);
    top->addLayout(left);
    top->addLayout(right, 1);
}

void TessellWindow::showStationCounts(std::string_view counts) {
    stationCounts_->setText(text(counts));
}

void TessellWindow::connectCommands() {
    // Programmatic changes (setChecked, selectCamera) do not come through
    // here: only the operator's clicks reach the controller, as with the
    // dialog's notifications.
    // Each handler is a plain function taking the controller: with a
    // member-function pointer in the slot's capture, g++ 12's
    // AddressSanitizer build reported a stack-buffer-underflow on reading
    // it when a button was clicked.
    const auto command = [this](Control id, void (*handler)(CTessellDlg&)) {
        auto* button = qobject_cast<QAbstractButton*>(control(id));
        connect(button, &QAbstractButton::clicked, this, [this, handler] {
            if (controller_)
                handler(*controller_);
        });
    };
    command(Control::Download, [](CTessellDlg& dialog) { dialog.OnDownload(); });
    command(Control::Browse, [](CTessellDlg& dialog) { dialog.OnBrowse(); });
    command(Control::Dump, [](CTessellDlg& dialog) { dialog.OnDump(); });
    command(Control::Erase, [](CTessellDlg& dialog) { dialog.OnErase(); });
    command(Control::LedOn, [](CTessellDlg& dialog) { dialog.OnLedOn(); });
    command(Control::LedOff, [](CTessellDlg& dialog) { dialog.OnLedOff(); });
    command(Control::ReworkToggle, [](CTessellDlg& dialog) { dialog.OnReworkToggle(); });
    command(Control::PreviewToggle, [](CTessellDlg& dialog) { dialog.OnPreviewToggle(); });
    command(Control::Test, [](CTessellDlg& dialog) { dialog.OnTest(); });
    connect(cameras_, &QListWidget::currentRowChanged, this, [this] {
        if (controller_)
            controller_->SelectCamera();
    });
}

QWidget* TessellWindow::control(Control id) const {
    const auto found = controls_.find(id);
    return found == controls_.end() ? nullptr : found->second;
}

void TessellWindow::showLog(std::string_view logText) {
    QString shown = text(logText);
    shown.replace("\r\n", "\n");
    shown.remove('\r');
    if (log_->toPlainText() != shown)
        log_->setPlainText(shown);
}

void TessellWindow::scrollLogToEnd() {
    QScrollBar* bar = log_->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void TessellWindow::showStatus(StatusPicture picture) {
    status_->setPicture(picture);
    status_->repaint();
}

void TessellWindow::setProgress(int percent) {
    progress_->setValue(std::clamp(percent, 0, 100));
}

void TessellWindow::setEnabled(Control id, bool enabled) {
    if (QWidget* widget = control(id))
        widget->setEnabled(enabled);
}

void TessellWindow::setVisible(Control id, bool visible) {
    if (QWidget* widget = control(id))
        widget->setVisible(visible);
}

void TessellWindow::setChecked(Control id, bool checked) {
    if (auto* box = qobject_cast<QCheckBox*>(control(id)))
        box->setChecked(checked);
}

bool TessellWindow::isChecked(Control id) const {
    const auto* box = qobject_cast<const QCheckBox*>(control(id));
    return box && box->isChecked();
}

void TessellWindow::setText(Control id, std::string_view value) {
    QWidget* widget = control(id);
    if (auto* line = qobject_cast<QLineEdit*>(widget))
        line->setText(text(value));
    else if (auto* label = qobject_cast<QLabel*>(widget))
        label->setText(text(value));
    else if (auto* button = qobject_cast<QAbstractButton*>(widget))
        button->setText(text(value));
    else if (widget == log_)
        showLog(value);
}

void TessellWindow::setCaption(std::string_view caption) {
    setWindowTitle(text(caption));
}

void TessellWindow::clearCameraList() {
    const QSignalBlocker quiet(cameras_);
    cameras_->clear();
}

void TessellWindow::addCamera(std::string_view entry) {
    const QSignalBlocker quiet(cameras_);
    cameras_->addItem(text(entry));
}

void TessellWindow::selectCamera(int position) {
    const QSignalBlocker quiet(cameras_);
    cameras_->setCurrentRow(position >= 0 && position < cameras_->count() ? position : -1);
}

int TessellWindow::selectedCamera() const {
    return cameras_->currentRow();
}

void TessellWindow::messageBox(std::string_view message, std::string_view caption, BoxIcon icon) {
    if (prompts_.message)
        prompts_.message(this, text(message), text(caption), icon);
}

bool TessellWindow::askYesNo(std::string_view message, std::string_view caption) {
    return prompts_.question && prompts_.question(this, text(message), text(caption));
}

std::optional<std::string> TessellWindow::chooseImageFile(const std::string& folder,
                                                          const FileFilter& filter) {
    if (!prompts_.openFile)
        return std::nullopt;
    const QString chosen = prompts_.openFile(this, text(folder), filterText(filter));
    if (chosen.isEmpty())
        return std::nullopt;
    return chosen.toStdString();
}

std::optional<std::string> TessellWindow::chooseDumpFile(const std::string& proposedName,
                                                         const FileFilter& filter) {
    if (!prompts_.saveFile)
        return std::nullopt;
    const QString chosen = prompts_.saveFile(this, text(proposedName), filterText(filter));
    if (chosen.isEmpty())
        return std::nullopt;
    return chosen.toStdString();
}

void TessellWindow::endProcess(int exitCode) {
    if (ended_)
        return;
    ended_ = true;
    exitCode_ = exitCode;
    hide();
    Q_EMIT toolEnded(exitCode);
}

void TessellWindow::keyPressEvent(QKeyEvent* event) {
    // The operator cannot close the tool with Escape by accident.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TessellWindow::closeEvent(QCloseEvent* event) {
    if (!ended_ && controller_)
        controller_->OnDestroy();
    if (!ended_)
        endProcess(controller_ ? controller_->exitCode() : kExitNothingFinished);
    event->accept();
}

void TessellWindow::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && controller_) {
        controller_->OnActivate();
        if (QWidget* flashName = control(Control::FlashTypeName))
            flashName->setFocus();
    }
}

} // namespace tessell::ui

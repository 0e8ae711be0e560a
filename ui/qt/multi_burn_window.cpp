#include "ui/qt/multi_burn_window.h"

#include "ui/qt/port_setting_dialog.h"
#include "ui/qt/qt_text.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QTextCursor>
#include <QVBoxLayout>

namespace tessell::ui {

namespace {

constexpr std::string_view kUnknownPortQuestion =
    "I don't know this port!, do you want to check saved port?";
constexpr int kStatusColumn = 3;
constexpr int kCameraColumnWidths[] = {55, 55, 208, 125, 200};
constexpr int kColumnCount = 5;

// The log's own line ends are "\r\n"; the box wants "\n".
QString logLines(std::string_view text) {
    QString lines = qtText(text);
    lines.replace("\r\n", "\n");
    lines.remove('\r');
    return lines;
}

// Tahoma where it is installed, else the nearest bold or plain sans.
QFont stationFont(int pixelHeight, bool bold) {
    QFont font(QStringList{"Tahoma", "DejaVu Sans"});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelHeight);
    font.setBold(bold);
    return font;
}

QColor rowColour(const RowColour& colour) {
    return QColor(colour.red, colour.green, colour.blue);
}

} // namespace

Prompts stationPrompts() {
    Prompts prompts = standardPrompts();
    prompts.question = [](QWidget* parent, const QString& message, const QString& caption) {
        QMessageBox box(QMessageBox::Question, caption, message, QMessageBox::Yes | QMessageBox::No,
                        parent);
        return box.exec() == QMessageBox::Yes;
    };
    return prompts;
}

QString controlName(MultiControl control) {
    return QString::number(static_cast<int>(control));
}

MultiBurnWindow::MultiBurnWindow(Prompts prompts, QWidget* parent)
    : QDialog(parent), prompts_(std::move(prompts)) {
    build();
    connectCommands();
}

MultiBurnWindow::~MultiBurnWindow() = default;

void MultiBurnWindow::build() {
    setWindowTitle(qtText(kMultiCaption));
    setSizeGripEnabled(true);
    const auto make = [this](MultiControl id, auto* widget) {
        widget->setObjectName(controlName(id));
        controls_[id] = widget;
        return widget;
    };

    log_ = make(MultiControl::Log, new QPlainTextEdit(this));
    log_->setReadOnly(true);
    log_->setUndoRedoEnabled(false);
    log_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    log_->setMinimumHeight(140);

    count_ = make(MultiControl::CameraCount, new QLabel(this));
    count_->setFont(stationFont(32, true));
    count_->setMinimumWidth(count_->fontMetrics().horizontalAdvance("00/00") + 8);

    auto* setting = make(MultiControl::Setting, new QPushButton("Setting", this));
    auto* burn = make(MultiControl::Burn, new QPushButton("Burn-Mutiple", this));
    auto* reScan = make(MultiControl::ReScan, new QPushButton("Re-Scan", this));
    auto* init = make(MultiControl::InitMultiple, new QPushButton("Init-Mutiple", this));
    init->hide();
    auto* unInit = make(MultiControl::UnInitMultiple, new QPushButton("Un-Init-Mutiple", this));
    unInit->hide();
    for (QPushButton* button : {setting, burn, reScan, init, unInit})
        button->setAutoDefault(false);

    cameras_ = make(MultiControl::CameraList, new QTableWidget(kSlotRowCount, kColumnCount, this));
    cameras_->setFont(stationFont(16, false));
    cameras_->setHorizontalHeaderLabels({"NO.", "Stat", "Progress", "Status", ""});
    cameras_->verticalHeader()->hide();
    cameras_->setShowGrid(true);
    cameras_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // A selection would paint over the Status colours.
    cameras_->setSelectionMode(QAbstractItemView::NoSelection);
    cameras_->setFocusPolicy(Qt::NoFocus);
    cameras_->setWordWrap(false);
    cameras_->verticalHeader()->setDefaultSectionSize(cameras_->fontMetrics().height() + 4);
    int width = 2 * cameras_->frameWidth() + cameras_->verticalScrollBar()->sizeHint().width();
    for (int column = 0; column < kColumnCount; ++column) {
        cameras_->setColumnWidth(column, kCameraColumnWidths[column]);
        width += kCameraColumnWidths[column];
    }
    cameras_->setMinimumSize(width,
                             cameras_->horizontalHeader()->sizeHint().height() +
                                 kSlotRowCount * cameras_->verticalHeader()->defaultSectionSize() +
                                 2 * cameras_->frameWidth());
    for (int row = 0; row < kSlotRowCount; ++row)
        showRow(row, ClearedRow(row));

    auto* side = new QVBoxLayout;
    side->addWidget(new QLabel("Camera num:", this));
    side->addWidget(count_);
    side->addSpacing(12);
    for (QWidget* button : std::initializer_list<QWidget*>{setting, burn, reScan, init, unInit})
        side->addWidget(button);
    side->addStretch();
    // The station's day so far, out of the way under the commands.
    stationCounts_ = new QLabel(this);
    stationCounts_->setObjectName("stationCounts");
    stationCounts_->setStyleSheet("QLabel { color: #606060; }");
    stationCounts_->setWordWrap(true);
    side->addWidget(stationCounts_);

    auto* upper = new QHBoxLayout;
    upper->addWidget(cameras_, 1);
    upper->addLayout(side);

    auto* top = new QVBoxLayout(this);
    top->addLayout(upper, 3);
    top->addWidget(new QLabel("Log:", this));
    top->addWidget(log_, 1);
}

void MultiBurnWindow::connectCommands() {
    // Plain functions taking the controller, as in the single-camera window.
    const auto command = [this](MultiControl id, void (*handler)(Tessell_MultiDlg&)) {
        auto* button = qobject_cast<QAbstractButton*>(control(id));
        connect(button, &QAbstractButton::clicked, this, [this, handler] {
            if (controller_)
                handler(*controller_);
        });
    };
    command(MultiControl::Setting, [](Tessell_MultiDlg& dialog) { dialog.OnSetting(); });
    command(MultiControl::Burn, [](Tessell_MultiDlg& dialog) { dialog.OnBurn(); });
    command(MultiControl::ReScan, [](Tessell_MultiDlg& dialog) { dialog.OnReScan(); });
}

QWidget* MultiBurnWindow::control(MultiControl id) const {
    const auto found = controls_.find(id);
    return found == controls_.end() ? nullptr : found->second;
}

void MultiBurnWindow::setCaption(std::string_view caption) {
    setWindowTitle(qtText(caption));
}

void MultiBurnWindow::showLog(std::string_view text) {
    // The log only grows, except when the controller starts it afresh: what
    // was added goes at the end instead of the whole text again.
    const bool grown = text.substr(0, shownLog_.size()) == shownLog_;
    if (grown) {
        const QString added = logLines(text.substr(shownLog_.size()));
        if (!added.isEmpty()) {
            QTextCursor end(log_->document());
            end.movePosition(QTextCursor::End);
            end.insertText(added);
        }
    } else {
        log_->setPlainText(logLines(text));
    }
    shownLog_ = std::string(text);
    log_->moveCursor(QTextCursor::End);
    log_->ensureCursorVisible();
}

void MultiBurnWindow::showCameraCount(std::string_view text) {
    count_->setText(qtText(text));
}

void MultiBurnWindow::showStationCounts(std::string_view text) {
    stationCounts_->setText(qtText(text));
}

void MultiBurnWindow::showRow(int row, const SlotRow& shown) {
    if (row < 0 || row >= cameras_->rowCount())
        return;
    const std::string_view columns[kColumnCount] = {shown.number, shown.stat, shown.progress,
                                                    shown.status, shown.file};
    for (int column = 0; column < kColumnCount; ++column) {
        QTableWidgetItem* item = cameras_->item(row, column);
        if (!item) {
            item = new QTableWidgetItem;
            cameras_->setItem(row, column, item);
        }
        item->setText(qtText(columns[column]));
        item->setForeground(Qt::black);
        item->setBackground(column == kStatusColumn ? rowColour(shown.colour) : QColor(Qt::white));
    }
}

void MultiBurnWindow::setEnabled(MultiControl id, bool enabled) {
    if (QWidget* widget = control(id))
        widget->setEnabled(enabled);
}

void MultiBurnWindow::showError(std::string_view text, std::string_view caption) {
    if (prompts_.message)
        prompts_.message(this, qtText(text), qtText(caption), BoxIcon::Error);
}

bool MultiBurnWindow::askAboutUnknownPort(const platform::UsbAddress&) {
    return prompts_.question && prompts_.question(this, qtText(kUnknownPortQuestion), "Question");
}

bool MultiBurnWindow::runPortSetting(PortSettingHost& host) {
    // One at a time: a scan that meets an unknown port while Port Setting
    // is open (its timer was already running) would otherwise open another
    // over it.
    if (portSetting_)
        return false;
    PortSettingDialog dialog([&host] { host.portSettingCleared(); }, this);
    portSetting_ = &dialog;
    host.portSettingOpened(dialog);
    const bool ok = dialog.exec() == QDialog::Accepted;
    portSetting_ = nullptr;
    return ok;
}

void MultiBurnWindow::keyPressEvent(QKeyEvent* event) {
    // Escape would close the station under the operator's hands.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void MultiBurnWindow::closeEvent(QCloseEvent* event) {
    if (controller_ && !controller_->OnClose()) {
        event->ignore();
        return;
    }
    event->accept();
    if (!closed_) {
        closed_ = true;
        Q_EMIT windowClosed();
    }
}

} // namespace tessell::ui

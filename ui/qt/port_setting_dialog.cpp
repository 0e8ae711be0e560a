#include "ui/qt/port_setting_dialog.h"

#include "ui/qt/qt_text.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>

namespace tessell::ui {

namespace {

constexpr int kPortColumnWidths[] = {50, 350, 45};

} // namespace

PortSettingDialog::PortSettingDialog(std::function<void()> onClear, QWidget* parent)
    : QDialog(parent), onClear_(std::move(onClear)) {
    setWindowTitle(qtText(kPortSettingTitle));
    // Calibri 9 pt where it is installed; its metric twin or a plain sans elsewhere.
    QFont font(QStringList{"Calibri", "Carlito", "DejaVu Sans"}, 9);
    font.setStyleHint(QFont::SansSerif);
    setFont(font);

    message_ = new QLineEdit(this);
    message_->setObjectName("1007");
    message_->setReadOnly(true);

    list_ = new QTableWidget(0, 3, this);
    list_->setObjectName("1041");
    list_->setHorizontalHeaderLabels({"NO.", "Hub Name", "Port"});
    list_->verticalHeader()->hide();
    list_->setShowGrid(false);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setWordWrap(false);
    int width = 2 * list_->frameWidth() + list_->verticalScrollBar()->sizeHint().width();
    for (int column = 0; column < 3; ++column) {
        list_->setColumnWidth(column, kPortColumnWidths[column]);
        width += kPortColumnWidths[column];
    }
    list_->setMinimumWidth(width);
    list_->verticalHeader()->setDefaultSectionSize(list_->fontMetrics().height() + 4);
    list_->setMinimumHeight(list_->horizontalHeader()->sizeHint().height() +
                            kPortSlotCount * list_->verticalHeader()->defaultSectionSize() +
                            2 * list_->frameWidth());

    ok_ = new QPushButton("OK", this);
    ok_->setObjectName("1");
    ok_->setDefault(true);
    clear_ = new QPushButton("Celar", this);
    clear_->setObjectName("1042");
    clear_->setAutoDefault(false);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(clear_, &QPushButton::clicked, this, [this] {
        if (onClear_)
            onClear_();
    });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(clear_);
    buttons->addWidget(ok_);
    auto* top = new QVBoxLayout(this);
    top->addWidget(message_);
    top->addWidget(list_, 1);
    top->addLayout(buttons);
}

PortSettingDialog::~PortSettingDialog() = default;

void PortSettingDialog::showMessage(std::string_view text) {
    message_->setText(qtText(text));
}

void PortSettingDialog::showRows(const std::vector<PortSettingRow>& rows) {
    list_->setRowCount(static_cast<int>(rows.size()));
    for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
        const PortSettingRow& shown = rows[static_cast<std::size_t>(row)];
        const std::string_view columns[] = {shown.number, shown.hub, shown.port};
        for (int column = 0; column < 3; ++column) {
            QTableWidgetItem* item = list_->item(row, column);
            if (!item) {
                item = new QTableWidgetItem;
                list_->setItem(row, column, item);
            }
            item->setText(qtText(columns[column]));
        }
    }
}

} // namespace tessell::ui

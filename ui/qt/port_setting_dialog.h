#pragma once

// "Port Setting" (dialog 104): the 16 hub-port slots of the multi-camera
// station and one message line, shown for the controller's IdentifyHub.
// "Celar" and OK are only forwarded; what they do is the controller's.

#include "multi/identify_hub.h"

#include <QDialog>
#include <functional>

class QLineEdit;
class QPushButton;
class QTableWidget;

namespace tessell::ui {

class PortSettingDialog final : public QDialog, public PortSettingView {
    Q_OBJECT
public:
    // `onClear` runs on every click of "Celar".
    explicit PortSettingDialog(std::function<void()> onClear, QWidget* parent = nullptr);
    ~PortSettingDialog() override;

    // PortSettingView
    void showMessage(std::string_view text) override;
    void showRows(const std::vector<PortSettingRow>& rows) override;

    QLineEdit& message() const { return *message_; }
    QTableWidget& list() const { return *list_; }
    QPushButton& okButton() const { return *ok_; }
    QPushButton& clearButton() const { return *clear_; }

private:
    std::function<void()> onClear_;
    QLineEdit* message_ = nullptr;
    QTableWidget* list_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* clear_ = nullptr;
};

} // namespace tessell::ui

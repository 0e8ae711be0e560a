// The multi-camera station's Qt windows on the offscreen platform, driven by
// the station's controller on simulated cameras: the rows, count, log and
// commands after a burn, and Port Setting opened, cleared and saved from the
// window.

#include "platform/sim/flash_identity.h"
#include "tests/qt/qt_app.h"
#include "tests/support/station_rig.h"
#include "tests/support/synthetic_image.h"
#include "ui/qt/multi_burn_window.h"
#include "ui/qt/port_setting_dialog.h"
#include "ui/qt/qt_dialog_thread.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>

namespace tessell::testing {
namespace {

using nlohmann::json;
using ui::MultiBurnWindow;

constexpr const char* kUnknownPort = "I don't know this port!, do you want to check saved port?";

struct StationPromptLog {
    std::vector<std::string> messages;  // "caption: text"
    std::vector<std::string> questions; // "caption: text"
};

ui::Prompts stationPrompts(StationPromptLog& log) {
    ui::Prompts prompts;
    prompts.message = [&log](QWidget*, const QString& text, const QString& caption, BoxIcon) {
        log.messages.push_back((caption + ": " + text).toStdString());
    };
    prompts.question = [&log](QWidget*, const QString& text, const QString& caption) {
        log.questions.push_back((caption + ": " + text).toStdString());
        return false;
    };
    return prompts;
}

// The 7310 cameras of these stations.
json camera(int port, json extra = json::object()) {
    extra["chip_id"] = "0x80";
    return stationCamera(port, std::move(extra));
}

// The controller bound to the window on a simulated station.
struct WindowStationRig : StationRig {
    WindowStationRig(const json& devices, const std::vector<int>& taught,
                     const std::string& settings)
        : StationRig(devices, taught, settings), window(stationPrompts(prompts)),
          thread(window, [this](int id) {
              if (dialog)
                  dialog->OnTimer(id);
          }) {}
    ~WindowStationRig() {
        window.attach(nullptr);
        dialog.reset();
    }

    void start() {
        StationRig::start(thread, window);
        window.attach(dialog.get());
        window.show();
    }

    // Runs the window's events and the simulator until `done`. The timers
    // are the window's own, in real time; bounded in real time too, since
    // the process clock here is the manual one.
    bool pumpUntil(const std::function<bool()>& done) {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!done()) {
            if (std::chrono::steady_clock::now() > giveUp)
                return false;
            sim.platform().service();
            QTest::qWait(1);
        }
        return true;
    }

    QTableWidgetItem& cell(int row, int column) const {
        return *window.cameraList().item(row, column);
    }
    QString status(int row) const { return cell(row, 3).text(); }
    QAbstractButton& button(MultiControl id) const {
        return *qobject_cast<QAbstractButton*>(window.control(id));
    }
    QPlainTextEdit& log() const { return *window.findChild<QPlainTextEdit*>("1000"); }

    StationPromptLog prompts;
    MultiBurnWindow window;
    ui::QtDialogThread thread;
};

TEST(MultiBurnWindow, ControlsAndLogAsTheStationShowsThem) {
    qtApplication();
    StationPromptLog prompts;
    MultiBurnWindow window(stationPrompts(prompts));
    EXPECT_EQ(window.windowTitle(), "Halvane Serial Flash Multi-Burning Tool v1.0.3.0c");
    const std::vector<std::tuple<const char*, const char*, bool>> buttons = {
        {"1044", "Setting", false},     {"1045", "Burn-Mutiple", false},
        {"1047", "Init-Mutiple", true}, {"1048", "Un-Init-Mutiple", true},
        {"1049", "Re-Scan", false},
    };
    for (const auto& [name, text, hidden] : buttons) {
        auto* button = window.findChild<QPushButton*>(name);
        ASSERT_NE(button, nullptr) << name;
        EXPECT_EQ(button->text(), text);
        EXPECT_EQ(button->isHidden(), hidden) << name;
    }
    ASSERT_NE(window.findChild<QLabel*>("1043"), nullptr);
    EXPECT_GE(window.findChild<QLabel*>("1043")->font().pixelSize(), 28) << "the count is big";
    QStringList labels;
    for (const QLabel* label : window.findChildren<QLabel*>())
        labels << label->text();
    EXPECT_TRUE(labels.contains("Log:"));
    EXPECT_TRUE(labels.contains("Camera num:"));

    auto* list = window.findChild<QTableWidget*>("1046");
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->rowCount(), 16);
    ASSERT_EQ(list->columnCount(), 5);
    QStringList titles;
    for (int column = 0; column < 5; ++column)
        titles << list->horizontalHeaderItem(column)->text();
    EXPECT_EQ(titles, QStringList({"NO.", "Stat", "Progress", "Status", ""}));
    EXPECT_EQ(list->item(0, 0)->text(), "01");
    EXPECT_EQ(list->item(15, 0)->text(), "16");

    // The log shows lines, grows at its end, starts afresh when the
    // controller's text does, and keeps its last line in view.
    auto* log = window.findChild<QPlainTextEdit*>("1000");
    ASSERT_NE(log, nullptr);
    EXPECT_TRUE(log->isReadOnly());
    window.show();
    window.showLog("Scanning...");
    window.showLog("Scanning...Re-Scanning...\r\n");
    EXPECT_EQ(log->toPlainText(), "Scanning...Re-Scanning...\n");
    std::string text;
    for (int line = 1; line <= 200; ++line)
        text += "camera plug in! " + std::to_string(line) + "\r\n";
    window.showLog(text);
    EXPECT_EQ(log->toPlainText().count('\n'), 200);
    EXPECT_TRUE(log->toPlainText().startsWith("camera plug in! 1\n"));
    processEvents();
    EXPECT_GT(log->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(log->verticalScrollBar()->value(), log->verticalScrollBar()->maximum());
}

// Eight cameras, NUM 8, one of them leaving the bus in the middle of its
// download: Burn-Mutiple pressed in the window ends with seven rows Complete
// on green, one Error on red, the log at "Finish!". With
// TESSELL_MULTI_WINDOW_SHOT set, the window as it then stands is saved there
// as a PNG (the picture in the documentation is made this way).
TEST(MultiBurnWindow, BurnEndsWithEachRowsOutcome) {
    qtApplication();
    json devices = json::array();
    for (int port = 1; port <= 8; ++port)
        devices.push_back(camera(port));
    devices[5]["faults"] = json::array({{{"unplug_after", 60}, {"in_download", true}}});
    WindowStationRig rig(devices, {1, 2, 3, 4, 5, 6, 7, 8}, "[SETTING]\r\nNUM=8\r\nBIN=sf.bin\r\n");
    const Bytes image = synthesized(lineImage(ImageFamily::d));
    ASSERT_FALSE(image.empty());
    writeImage(rig.sim.dir, "sf.bin", image);
    rig.start();
    ASSERT_TRUE(rig.pumpUntil([&] { return rig.status(7) == "Ready"; }));
    EXPECT_EQ(rig.window.findChild<QLabel*>("1043")->text(), "08/08");
    EXPECT_EQ(rig.cell(0, 1).text(), " O");

    QTest::mouseClick(&rig.button(MultiControl::Burn), Qt::LeftButton);
    EXPECT_TRUE(rig.dialog->burning());
    EXPECT_FALSE(rig.button(MultiControl::Setting).isEnabled());
    EXPECT_FALSE(rig.button(MultiControl::ReScan).isEnabled());
    // Neither closing nor Escape ends the station while cameras burn.
    rig.window.close();
    QTest::keyClick(&rig.window, Qt::Key_Escape);
    QTest::keyClick(&rig.window.cameraList(), Qt::Key_Escape);
    processEvents();
    EXPECT_TRUE(rig.window.isVisible());
    ASSERT_EQ(rig.prompts.messages.size(), 1u);
    EXPECT_EQ(rig.prompts.messages[0].rfind("Burning: Cameras are burning", 0), 0u);
    ASSERT_TRUE(rig.pumpUntil([&] { return !rig.dialog->burning(); }));

    for (int row = 0; row < 16; ++row) {
        SCOPED_TRACE("row " + std::to_string(row + 1));
        EXPECT_EQ(rig.cell(row, 0).text().toInt(), row + 1);
        for (int column = 0; column < 5; ++column) {
            EXPECT_EQ(rig.cell(row, column).foreground().color(), QColor(Qt::black));
            if (column != 3) {
                EXPECT_EQ(rig.cell(row, column).background().color(), QColor(Qt::white));
            }
        }
        const QColor statusColour = rig.cell(row, 3).background().color();
        if (row >= 8) {
            EXPECT_EQ(rig.status(row), "");
            EXPECT_EQ(statusColour, QColor(Qt::white));
            continue;
        }
        const Bytes flash =
            rig.sim.platform().camera(static_cast<std::size_t>(row)).flashContents();
        if (row == 5) {
            EXPECT_EQ(rig.status(row), "Error");
            EXPECT_EQ(statusColour, QColor(255, 0, 0));
            EXPECT_FALSE(sim::isBootable(flash));
            continue;
        }
        EXPECT_EQ(rig.status(row), "Complete");
        EXPECT_EQ(statusColour, QColor(0, 255, 0));
        EXPECT_EQ(rig.cell(row, 2).text(), "100%|||||||||||||||||");
        EXPECT_TRUE(flashBeginsWith(flash, expectedFlash(image, IcType::h, 0x79)));
    }
    EXPECT_TRUE(rig.button(MultiControl::Setting).isEnabled());
    EXPECT_TRUE(rig.button(MultiControl::ReScan).isEnabled());
    EXPECT_FALSE(rig.button(MultiControl::Burn).isEnabled());
    const QString log = rig.log().toPlainText();
    EXPECT_TRUE(log.contains("Start burning...")) << log.toStdString();
    EXPECT_TRUE(log.contains("Warning! plug out detected!\n")) << log.toStdString();
    EXPECT_TRUE(log.endsWith("\nFinish!\n")) << log.toStdString();

    if (const char* shot = std::getenv("TESSELL_MULTI_WINDOW_SHOT"); shot && *shot) {
        rig.window.resize(rig.window.sizeHint());
        processEvents();
        EXPECT_TRUE(rig.window.grab().save(QString::fromLocal8Bit(shot), "PNG"));
    }

    // Once every camera has finished, closing ends the window, once.
    QSignalSpy closed(&rig.window, &MultiBurnWindow::windowClosed);
    rig.window.close();
    processEvents();
    EXPECT_FALSE(rig.window.isVisible());
    EXPECT_EQ(closed.count(), 1);
    EXPECT_EQ(rig.prompts.messages.size(), 1u);
}

// Port Setting is modal: what the operator does in it is done from a timer
// that runs inside its event loop. Closing it without OK keeps the stored
// ports; "Celar" then OK stores an empty table, after which the cameras'
// ports are unknown to the re-scan.
TEST(MultiBurnWindow, PortSettingClearedAndSavedFromTheWindow) {
    qtApplication();
    WindowStationRig rig(json::array({camera(1), camera(2)}), {1, 2}, "[SETTING]\r\nNUM=2\r\n");
    rig.start();
    ASSERT_NE(rig.storeText().find("SavedCount=2"), std::string::npos) << rig.storeText();

    const auto inPortSetting = [&](const std::function<void(ui::PortSettingDialog&)>& act) {
        bool opened = false;
        QTimer::singleShot(0, &rig.window, [&] {
            ui::PortSettingDialog* dialog = rig.window.portSetting();
            opened = dialog != nullptr;
            if (!dialog)
                return;
            act(*dialog);
            if (dialog->isVisible()) // whatever `act` did, the test goes on
                dialog->reject();
        });
        QTest::mouseClick(&rig.button(MultiControl::Setting), Qt::LeftButton);
        processEvents(); // the timer is spent before `act` goes out of scope
        EXPECT_TRUE(opened);
        EXPECT_EQ(rig.window.portSetting(), nullptr);
    };
    const auto text = [](const ui::PortSettingDialog& dialog, int row, int column) {
        return dialog.list().item(row, column)->text().toStdString();
    };

    inPortSetting([&](ui::PortSettingDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "Port Setting");
        EXPECT_EQ(dialog.findChild<QLineEdit*>("1007")->text(), "Please remove all cameras!");
        ASSERT_EQ(dialog.list().rowCount(), 16);
        EXPECT_EQ(text(dialog, 1, 0), "02");
        EXPECT_EQ(text(dialog, 1, 1), "sim-hub-1");
        EXPECT_EQ(text(dialog, 1, 2), "2");
        EXPECT_EQ(text(dialog, 2, 0), "03 =>");
        QTest::mouseClick(dialog.findChild<QPushButton*>("1042"), Qt::LeftButton);
        EXPECT_EQ(text(dialog, 0, 0), "01 =>");
        EXPECT_EQ(text(dialog, 1, 1), "");
        QTest::keyClick(&dialog, Qt::Key_Escape);
    });
    EXPECT_NE(rig.storeText().find("SavedCount=2"), std::string::npos) << rig.storeText();
    // Cleared all the same for this run: its re-scan meets both cameras on
    // ports it no longer knows, and asks (answered No).
    const std::string question = std::string("Question: ") + kUnknownPort;
    EXPECT_EQ(rig.prompts.questions, std::vector<std::string>(2, question));

    inPortSetting([&](ui::PortSettingDialog& dialog) {
        QTest::mouseClick(dialog.findChild<QPushButton*>("1042"), Qt::LeftButton);
        QTest::mouseClick(dialog.findChild<QPushButton*>("1"), Qt::LeftButton);
    });
    EXPECT_NE(rig.storeText().find("SavedCount=0"), std::string::npos) << rig.storeText();
    EXPECT_EQ(rig.prompts.questions, std::vector<std::string>(4, question));
    EXPECT_EQ(rig.status(0), "");
    EXPECT_EQ(rig.cell(0, 1).text(), "--");
    EXPECT_EQ(rig.window.findChild<QLabel*>("1043")->text(), "02/02");
}

} // namespace
} // namespace tessell::testing

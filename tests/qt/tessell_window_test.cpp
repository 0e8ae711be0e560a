// The Qt single-camera window on the offscreen platform: its controls, the
// status pictures as painted, Escape, and the controller's calls arriving on
// the window's thread.

#include "tests/qt/qt_app.h"
#include "tests/support/dialog_rig.h"
#include "ui/qt/qt_dialog_thread.h"
#include "ui/qt/tessell_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>

namespace tessell::testing {
namespace {

using nlohmann::json;
using ui::TessellWindow;

struct PromptLog {
    std::vector<std::string> messages;
    std::vector<std::string> questions;
    bool answer = false;
    QString fileChoice;
};

ui::Prompts recordingPrompts(PromptLog& log) {
    ui::Prompts prompts;
    prompts.message = [&log](QWidget*, const QString& text, const QString& caption, BoxIcon) {
        log.messages.push_back((caption + ": " + text).toStdString());
    };
    prompts.question = [&log](QWidget*, const QString& text, const QString&) {
        log.questions.push_back(text.toStdString());
        return log.answer;
    };
    prompts.openFile = [&log](QWidget*, const QString&, const QString&) { return log.fileChoice; };
    prompts.saveFile = [&log](QWidget*, const QString&, const QString&) { return log.fileChoice; };
    return prompts;
}

template <typename Widget> Widget* find(const TessellWindow& window, const char* name) {
    return window.findChild<Widget*>(name);
}

TEST(TessellWindow, ControlsCarryTheirIdsAndTexts) {
    qtApplication();
    PromptLog log;
    TessellWindow window(recordingPrompts(log));
    EXPECT_EQ(window.windowTitle(), "Halvane Serial Flash Write Tool");

    struct Expected {
        const char* name;
        const char* text; // none for controls without text
        bool hidden;
    };
    const std::vector<Expected> table = {
        {"1000", nullptr, false},
        {"1001", "", false},
        {"1003", "Download", false},
        {"1004", "...", false},
        {"1005", nullptr, false},
        {"1006", nullptr, false},
        {"1007", "", false},
        {"1010", nullptr, false},
        {"1011", nullptr, true},
        {"1012", "Dump", false},
        {"1013", "Erase", false},
        {"1014", "ver", false},
        {"1015", "ver", false},
        {"1016", " __  __  __  __", false},
        {"1017", " __  __  __  __", false},
        {"1019", "FastDL", true},
        {"1020", "____________________", false},
        {"1022", "Device SN :", false},
        {"1026", "Re-Work", true},
        {"1027", "Preview", true},
        {"1029", nullptr, true},
        {"1030", "Preview:", true},
        {"1031", "TEST", true},
        {"1032", "Output Log File", true},
        {"1033", "LED ON", false},
        {"1034", "LED OFF", false},
    };
    for (const Expected& control : table) {
        auto* widget = find<QWidget>(window, control.name);
        ASSERT_NE(widget, nullptr) << control.name;
        EXPECT_EQ(widget->isHidden(), control.hidden) << control.name;
        if (!control.text)
            continue;
        QString text;
        if (auto* button = qobject_cast<QAbstractButton*>(widget))
            text = button->text();
        else if (auto* label = qobject_cast<QLabel*>(widget))
            text = label->text();
        else if (auto* line = qobject_cast<QLineEdit*>(widget))
            text = line->text();
        EXPECT_EQ(text.toStdString(), control.text) << control.name;
    }
    EXPECT_FALSE(find<QPushButton>(window, "1003")->isEnabled()) << "Download starts disabled";
    EXPECT_TRUE(find<QPlainTextEdit>(window, "1000")->isReadOnly());
    EXPECT_TRUE(find<QLineEdit>(window, "1007")->isReadOnly());
    EXPECT_EQ(find<QProgressBar>(window, "1010")->maximum(), 100);

    // Every control the controller addresses is there.
    for (const Control id :
         {Control::LogBox,        Control::ImagePath,         Control::Download,
          Control::Browse,        Control::CameraList,        Control::FlashTypeName,
          Control::Progress,      Control::FlashTypeList,     Control::Dump,
          Control::Erase,         Control::CameraBcd,         Control::ImageBcd,
          Control::CameraPid,     Control::CameraVid,         Control::FastDownload,
          Control::DeviceSerial,  Control::DeviceSerialLabel, Control::ReworkToggle,
          Control::PreviewToggle, Control::PreviewPicture,    Control::PreviewLabel,
          Control::Test,          Control::OutputLogFile,     Control::LedOn,
          Control::LedOff})
        EXPECT_EQ(window.control(id), window.findChild<QWidget*>(ui::controlName(id)))
            << static_cast<int>(id);

    QStringList labels;
    for (const QLabel* label : window.findChildren<QLabel*>())
        labels << label->text();
    for (const char* label :
         {"Device:", "Log:", "Status:", "Flash type:", "Bcd  Cur    >>   New", "PID:", "VID:"})
        EXPECT_TRUE(labels.contains(label)) << label;
}

enum class Hue { Red, Yellow, Green, Grey, White, Other };

Hue hue(QColor colour) {
    const int r = colour.red(), g = colour.green(), b = colour.blue();
    if (r > 200 && g > 200 && b > 200)
        return Hue::White;
    if (r > 180 && g < 60 && b < 60)
        return Hue::Red;
    if (r > 200 && g > 180 && b < 60)
        return Hue::Yellow;
    if (g > 120 && r < 60 && b < 60)
        return Hue::Green;
    if (r == g && g == b && r > 100)
        return Hue::Grey;
    return Hue::Other;
}

// How many pixels of the middle of the picture have `wanted`.
int countInMiddle(const QImage& image, Hue wanted) {
    int count = 0;
    for (int y = image.height() / 4; y < image.height() * 3 / 4; ++y)
        for (int x = image.width() / 4; x < image.width() * 3 / 4; ++x)
            count += hue(image.pixelColor(x, y)) == wanted;
    return count;
}

TEST(TessellWindow, StatusPicturesArePaintedInTheirColours) {
    qtApplication();
    PromptLog log;
    TessellWindow window(recordingPrompts(log));
    window.statusBox().resize(160, 60);

    struct Expected {
        StatusPicture picture;
        Hue background;
        Hue text; // Other: no text
    };
    const std::vector<Expected> table = {
        {StatusPicture::Fail, Hue::Red, Hue::White},
        {StatusPicture::Running, Hue::Yellow, Hue::Other},
        {StatusPicture::Success, Hue::Green, Hue::White},
        {StatusPicture::Blank, Hue::Grey, Hue::Other},
        {StatusPicture::CountDown1, Hue::Yellow, Hue::Red},
        {StatusPicture::CountDown2, Hue::Yellow, Hue::Red},
        {StatusPicture::CountDown3, Hue::Yellow, Hue::Red},
    };
    std::vector<QImage> digits;
    for (const Expected& expected : table) {
        window.showStatus(expected.picture);
        const QImage image = window.statusBox().grab().toImage();
        const int id = static_cast<int>(expected.picture);
        EXPECT_EQ(hue(image.pixelColor(5, 5)), expected.background) << id;
        EXPECT_EQ(hue(image.pixelColor(image.width() - 6, image.height() - 6)), expected.background)
            << id;
        if (expected.text != Hue::Other) {
            EXPECT_GT(countInMiddle(image, expected.text), 20) << id << ": its word is drawn";
        }
        if (expected.picture == StatusPicture::Blank) {
            const int area = (image.height() * 3 / 4 - image.height() / 4) *
                             (image.width() * 3 / 4 - image.width() / 4);
            EXPECT_EQ(countInMiddle(image, Hue::Grey), area) << "plain grey";
        }
        if (expected.text == Hue::Red)
            digits.push_back(image);
    }
    ASSERT_EQ(digits.size(), 3u);
    EXPECT_NE(digits[0], digits[1]) << "1 and 2 are different pictures";
    EXPECT_NE(digits[1], digits[2]);
}

TEST(TessellWindow, EscapeDoesNotCloseTheWindow) {
    qtApplication();
    // What Escape does to a dialog that does not swallow it.
    QDialog plain;
    plain.show();
    QTest::keyClick(&plain, Qt::Key_Escape);
    processEvents();
    EXPECT_FALSE(plain.isVisible());

    PromptLog log;
    TessellWindow window(recordingPrompts(log));
    QSignalSpy ended(&window, &TessellWindow::toolEnded);
    window.show();
    QTest::keyClick(&window, Qt::Key_Escape);
    QTest::keyClick(window.control(Control::CameraList), Qt::Key_Escape);
    processEvents();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.ended());
    EXPECT_EQ(ended.count(), 0);

    // Closing the window does end the tool, once.
    window.close();
    processEvents();
    EXPECT_TRUE(window.ended());
    EXPECT_EQ(window.exitCode(), 99);
    ASSERT_EQ(ended.count(), 1);
    window.endProcess(2);
    EXPECT_EQ(ended.count(), 1);
    EXPECT_EQ(window.exitCode(), 99);
}

TEST(TessellWindow, ViewCallsLandOnTheWidgets) {
    qtApplication();
    PromptLog log;
    TessellWindow window(recordingPrompts(log));
    DialogView& view = window;

    view.setText(Control::CameraPid, "5678");
    view.setText(Control::ImagePath, "/srv/images/SF.bin");
    view.setText(Control::Download, "Re-Work");
    EXPECT_EQ(find<QLabel>(window, "1016")->text(), "5678");
    EXPECT_EQ(find<QLineEdit>(window, "1001")->text(), "/srv/images/SF.bin");
    EXPECT_EQ(find<QPushButton>(window, "1003")->text(), "Re-Work");

    view.setEnabled(Control::Download, true);
    EXPECT_TRUE(find<QPushButton>(window, "1003")->isEnabled());
    view.setVisible(Control::ReworkToggle, true);
    view.setVisible(Control::Dump, false);
    EXPECT_FALSE(find<QCheckBox>(window, "1026")->isHidden());
    EXPECT_TRUE(find<QPushButton>(window, "1012")->isHidden());
    view.setChecked(Control::PreviewToggle, true);
    EXPECT_TRUE(find<QCheckBox>(window, "1027")->isChecked());
    EXPECT_TRUE(view.isChecked(Control::PreviewToggle));
    EXPECT_FALSE(view.isChecked(Control::Download)) << "a button is never checked";

    // The log keeps CR LF pairs; the box shows lines.
    view.showLog("Driver Connected(ZLTA_7310)\r\nAuto \r\n");
    EXPECT_EQ(find<QPlainTextEdit>(window, "1000")->toPlainText(),
              "Driver Connected(ZLTA_7310)\nAuto \n");
    view.showLog("caf\xC3\xA9\r\n");
    EXPECT_EQ(find<QPlainTextEdit>(window, "1000")->toPlainText(), QString::fromUtf8("café\n"));

    view.addCamera("0:Bench camera");
    view.addCamera("1:Line camera");
    auto* list = find<QListWidget>(window, "1005");
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(1)->text(), "1:Line camera");
    EXPECT_EQ(view.selectedCamera(), -1);
    view.selectCamera(1);
    EXPECT_EQ(view.selectedCamera(), 1);
    view.selectCamera(5);
    EXPECT_EQ(view.selectedCamera(), -1);
    view.clearCameraList();
    EXPECT_EQ(list->count(), 0);

    view.setProgress(42);
    EXPECT_EQ(find<QProgressBar>(window, "1010")->value(), 42);
    view.setProgress(250);
    EXPECT_EQ(find<QProgressBar>(window, "1010")->value(), 100);
    view.setCaption("Halvane Serial Flash Write Tool for ALL IC v1.0.3.0c");
    EXPECT_EQ(window.windowTitle(), "Halvane Serial Flash Write Tool for ALL IC v1.0.3.0c");

    view.messageBox("Please load file first!", "Error", BoxIcon::Error);
    EXPECT_EQ(log.messages, std::vector<std::string>{"Error: Please load file first!"});
    log.answer = true;
    EXPECT_TRUE(view.askYesNo("Do you really want to download?", "Warning"));
    log.answer = false;
    EXPECT_FALSE(view.askYesNo("Do you really want to download?", "Warning"));
    EXPECT_EQ(log.questions.size(), 2u);
    EXPECT_EQ(view.chooseImageFile("/srv", {}), std::nullopt) << "cancelled";
    log.fileChoice = "/srv/new.bin";
    EXPECT_EQ(view.chooseImageFile("/srv", {}), "/srv/new.bin");
    EXPECT_EQ(view.chooseDumpFile("DUMP_BIN.bin", {}), "/srv/new.bin");
}

TEST(QtDialogThread, PostedWorkAndTimersRunOnTheWindowsThread) {
    qtApplication();
    QObject context;
    std::vector<int> ticks;
    ui::QtDialogThread thread(context, [&](int id) { ticks.push_back(id); });

    const auto windowThread = std::this_thread::get_id();
    std::thread::id ranOn;
    std::thread worker([&] { thread.post([&] { ranOn = std::this_thread::get_id(); }); });
    worker.join();
    EXPECT_EQ(ranOn, std::thread::id()) << "nothing runs before the event queue does";
    processEvents();
    EXPECT_EQ(ranOn, windowThread);

    // Posted from the window's thread itself, work still waits its turn.
    bool ran = false;
    thread.post([&] { ran = true; });
    EXPECT_FALSE(ran);
    processEvents();
    EXPECT_TRUE(ran);

    thread.startTimer(37008, std::chrono::milliseconds(5));
    EXPECT_TRUE(thread.timerRunning(37008));
    QTRY_VERIFY_WITH_TIMEOUT(ticks.size() >= 2, 2000);
    thread.stopTimer(37008);
    EXPECT_FALSE(thread.timerRunning(37008));
    const std::size_t stopped = ticks.size();
    QTest::qWait(30);
    EXPECT_EQ(ticks.size(), stopped);
    EXPECT_TRUE(std::all_of(ticks.begin(), ticks.end(), [](int id) { return id == 37008; }));
    thread.stopTimer(1234); // never started: nothing happens
}

json camera7310() {
    return {{"friendly_name", "Bench camera"}, {"chip_id", "0x80"}, {"flash", {{"part", "0x79"}}}};
}

// The controller bound to the window, on a simulated station.
struct WindowRig {
    explicit WindowRig(const json& devices)
        : sim(devices), window(recordingPrompts(prompts)), thread(window, [this](int id) {
              if (dialog)
                  dialog->OnTimer(id);
          }) {}
    ~WindowRig() {
        window.attach(nullptr);
        dialog.reset();
    }

    void start() {
        DialogServices services;
        services.devices = &sim.platform();
        services.usb = &sim.platform();
        services.hotplug = &sim.platform();
        services.power = &power;
        services.programFolder = sim.dir.path();
        services.out = &out;
        dialog = std::make_unique<CTessellDlg>(services, window, thread, StartupFlags{}, preview);
        window.attach(dialog.get());
        ASSERT_TRUE(dialog->OnInitDialog());
    }
    // Starts with a synthetic image of `family` as "SF.bin" in the program folder; its bytes.
    Bytes startWithImage(ImageFamily family) {
        Bytes image = synthesized(lineImage(family));
        if (!image.empty())
            writeImage(sim.dir, "SF.bin", image);
        start();
        return image;
    }
    QString log() const { return window.findChild<QPlainTextEdit*>("1000")->toPlainText(); }

    SimRig sim;
    PromptLog prompts;
    TessellWindow window;
    ui::QtDialogThread thread;
    UnavailablePreview preview;
    FixedPower power;
    std::ostringstream out;
    std::unique_ptr<CTessellDlg> dialog;
};

TEST(TessellWindow, TheControllerDrivesTheWindow) {
    qtApplication();
    WindowRig rig(json::array({camera7310()}));
    const Bytes image = rig.startWithImage(ImageFamily::d);
    ASSERT_FALSE(image.empty());

    auto* list = rig.window.findChild<QListWidget*>("1005");
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->item(0)->text(), "0:Bench camera");
    EXPECT_EQ(list->currentRow(), 0);
    EXPECT_TRUE(rig.window.findChild<QPushButton*>("1003")->isEnabled());
    EXPECT_EQ(rig.window.windowTitle(), "Halvane Serial Flash Write Tool for ALL IC v1.0.3.0c");
    EXPECT_EQ(rig.window.findChild<QLabel*>("1015")->text(), "0102");
    EXPECT_TRUE(rig.log().contains("=== Select camera 0 : Bench camera ==="))
        << rig.log().toStdString();
    EXPECT_EQ(rig.window.statusBox().picture(), StatusPicture::Blank);

    // Only the operator's click selects again, not the controller's own calls.
    const auto selections = [&] { return rig.log().count("=== Select camera 0"); };
    const auto before = selections();
    rig.window.selectCamera(0);
    processEvents();
    EXPECT_EQ(selections(), before);
    list->setCurrentRow(-1);
    list->setCurrentRow(0);
    processEvents();
    EXPECT_GT(selections(), before);

    // A line from the download worker's thread reaches the box only through
    // the window's event queue.
    std::thread worker([&] { rig.dialog->appendLog("from the worker\r\n"); });
    worker.join();
    EXPECT_FALSE(rig.log().contains("from the worker"));
    processEvents();
    EXPECT_TRUE(rig.log().contains("from the worker\n"));

    // An unplugged camera is handled on the window's thread: the platform's
    // notification only posts.
    json gone = camera7310();
    gone["present"] = false;
    rig.sim.rewrite(json::array({gone}));
    rig.sim.pass(std::chrono::milliseconds(300));
    EXPECT_FALSE(rig.log().contains("Camera Plug Out"));
    processEvents();
    EXPECT_TRUE(rig.log().contains("Camera Plug Out\n")) << rig.log().toStdString();
    EXPECT_EQ(rig.window.findChild<QLabel*>("1016")->text(), " __  __  __  __");
    EXPECT_FALSE(rig.window.findChild<QPushButton*>("1003")->isEnabled());
    EXPECT_EQ(list->count(), 0);

    // Activation repaints the status box from the controller's state.
    rig.window.showStatus(StatusPicture::CountDown2);
    rig.dialog->OnActivate();
    EXPECT_EQ(rig.window.statusBox().picture(), StatusPicture::Blank);
}

// Pressing Download on a camera takes the window through the whole download
// to the Success picture. With
// TESSELL_WINDOW_SHOT set, the window as it then stands is saved there as a
// PNG (the picture in the documentation is made this way).
TEST(TessellWindow, DownloadRunsToSuccessInTheWindow) {
    qtApplication();
    WindowRig rig(json::array({camera7310()}));
    const Bytes image = rig.startWithImage(ImageFamily::d);
    ASSERT_FALSE(image.empty());

    auto* download = rig.window.findChild<QPushButton*>("1003");
    auto* progress = rig.window.findChild<QProgressBar*>("1010");
    ASSERT_TRUE(download->isEnabled()) << rig.log().toStdString();
    QTest::mouseClick(download, Qt::LeftButton);

    // The worker's own sleeps move the manual clock; between them the test
    // lets tool time pass for the dialog's timers and the camera's return.
    // Bounded in real time: the process clock here is the manual one.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (rig.window.statusBox().picture() != StatusPicture::Success &&
           std::chrono::steady_clock::now() < giveUp) {
        // While the worker runs, its own sleeps move the clock; pushing it
        // then would cut its waits short.
        if (rig.dialog->downloadRunning() && !rig.dialog->workerDone())
            rig.sim.platform().service();
        else
            rig.sim.pass(std::chrono::milliseconds(10));
        QTest::qWait(1);
    }
    EXPECT_EQ(rig.window.statusBox().picture(), StatusPicture::Success) << rig.log().toStdString();
    EXPECT_TRUE(rig.log().contains("Start Download...Download complete.\n"))
        << rig.log().toStdString();
    EXPECT_EQ(progress->value(), 100);
    EXPECT_TRUE(rig.prompts.messages.empty());

    // The flash holds the image with the part's type byte written into it.
    EXPECT_TRUE(flashBeginsWith(rig.sim.platform().camera(0).flashContents(),
                                expectedFlash(image, IcType::h, 0x79)));

    if (const char* shot = std::getenv("TESSELL_WINDOW_SHOT"); shot && *shot) {
        rig.window.resize(rig.window.sizeHint());
        EXPECT_TRUE(rig.window.grab().save(QString::fromLocal8Bit(shot), "PNG"));
    }
}

} // namespace
} // namespace tessell::testing

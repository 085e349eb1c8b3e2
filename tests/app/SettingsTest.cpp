// SPDX-License-Identifier: MIT
// The port settings command and its dialog, driven as a user would.
#include "CommSettingsForm.h"
#include "WindowFixture.h"

#include <QComboBox>
#include <QPushButton>
#include <QTimer>

namespace window {
namespace {

using SettingsTest = WindowTest;

// Acts on the settings dialog once it is shown (from inside its own modal loop).
void WhenShown(std::function<void(TCommSettingsForm&)> act) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(*static_cast<TCommSettingsForm*>(dialog));
        }
    });
    timer->start(10);
}

QComboBox* box(QWidget& dialog, const char* name) {
    return dialog.findChild<QComboBox*>(QString::fromLatin1(name));
}
void click(QWidget& dialog, const char* name) {
    dialog.findChild<QPushButton*>(QString::fromLatin1(name))->click();
}

TEST_F(SettingsTest, ShowsSlotZerosPortAndRate) {
    Plug({1, 3});
    OpenWindow();
    std::string port, rate, title;
    WhenShown([&](TCommSettingsForm& dialog) {
        title = dialog.windowTitle().toStdString();
        port = box(dialog, "PortBox")->currentText().toStdString();
        rate = box(dialog, "BaudBox")->currentText().toStdString();
        click(dialog, "Button2");
    });
    Action("actSetting").trigger();
    EXPECT_EQ(title, "CommSettingsForm");
    EXPECT_EQ(port, "COM1");
    EXPECT_EQ(rate, "9600");
    EXPECT_TRUE(form->CommThread(0).IsPortOpen());
}

TEST_F(SettingsTest, OkRestartsSlotZeroOnTheChosenPort) {
    Plug({1, 3});
    OpenWindow();
    // Let COM3 go first, so that slot 0 can take it.
    form->CommThread(2).StopComm();
    WhenShown([&](TCommSettingsForm& dialog) {
        box(dialog, "PortBox")->setCurrentText(QStringLiteral("COM3"));
        box(dialog, "BaudBox")->setCurrentText(QStringLiteral("19200"));
        click(dialog, "Button1");
    });
    Action("actSetting").trigger();
    EXPECT_EQ(form->CommThread(0).GetPort().GetPortName(), "COM3");
    EXPECT_EQ(form->CommThread(0).GetPort().GetBaudRate(), 19200);
    EXPECT_TRUE(form->CommThread(0).IsPortOpen());
    EXPECT_EQ(Panel(0), "Opened Com Port:   COM1"); // listed under its slot's label
    // Slot 0 now listens on COM3: a header there selects it.
    Port(3).Send(header());
    ASSERT_TRUE(WaitUntil([&] { return form->PortChosen(); }));
    EXPECT_EQ(Panel(1), "Receive data from  COM1, baud rate = 19200bps");
}

TEST_F(SettingsTest, CancelAndCloseBoxChangeNothing) {
    Plug({1});
    OpenWindow();
    for (const char* how : {"cancel", "close"}) {
        WhenShown([how](TCommSettingsForm& dialog) {
            box(dialog, "PortBox")->setCurrentText(QStringLiteral("COM4"));
            if (std::string(how) == "cancel")
                click(dialog, "Button2");
            else
                dialog.reject();
        });
        Action("actSetting").trigger();
        EXPECT_EQ(form->CommThread(0).GetPort().GetPortName(), "COM1") << how;
        EXPECT_TRUE(form->CommThread(0).IsPortOpen()) << how;
    }
}

TEST_F(SettingsTest, DialogOperations) {
    TCommSettingsForm dialog;
    struct Row {
        std::string port;
        std::int32_t rate;
        std::string shownPort;
        std::string shownRate;
    };
    const std::vector<Row> rows{{"COM2", 115200, "COM2", "115200"},
                                {"COM9", 9600, "", "9600"},
                                {"COM1", 12345, "COM1", ""},
                                {"", 256000, "", "256000"}};
    for (const Row& row : rows) {
        dialog.ShowPortName(row.port);
        dialog.ShowBaudRate(row.rate);
        EXPECT_EQ(dialog.SelectedPortName(), row.shownPort);
        if (row.shownRate.empty()) {
            try {
                dialog.SelectedBaudRate();
                ADD_FAILURE() << "no rate selected must not convert";
            } catch (const EConvertError& error) {
                EXPECT_EQ(error.Message, "'' is not a valid integer value");
            }
        } else {
            EXPECT_EQ(dialog.SelectedBaudRate(), std::stoi(row.shownRate));
        }
    }
    EXPECT_EQ(box(dialog, "PortBox")->count(), 4);
    EXPECT_EQ(box(dialog, "BaudBox")->count(), 15);
    // "Default" selects the program's own defaults and leaves the dialog open.
    dialog.show();
    click(dialog, "Button3");
    EXPECT_EQ(dialog.SelectedPortName(), "COM1");
    EXPECT_EQ(dialog.SelectedBaudRate(), 9600);
    EXPECT_TRUE(dialog.isVisible());
}

// Keys as a keyboard user presses them: Enter or Return presses the focused button only (no
// button is the default), Escape is "Cancel".
struct KeyRow {
    const char* name;
    const char* focus;
    Qt::Key key;
    int result; // -1: the dialog stays open
};

void PrintTo(const KeyRow& row, std::ostream* os) {
    *os << row.name;
}

class SettingsKeyTest : public SettingsTest, public ::testing::WithParamInterface<KeyRow> {};

TEST_P(SettingsKeyTest, KeysPressTheFocusedButton) {
    application = MakeTestApplication();
    const KeyRow& row = GetParam();
    TCommSettingsForm dialog;
    dialog.ShowPortName("COM3");
    dialog.ShowBaudRate(19200);
    int finished = -1;
    QObject::connect(&dialog, &QDialog::finished, [&](int result) { finished = result; });
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    auto* focus = dialog.findChild<QWidget*>(QString::fromLatin1(row.focus));
    ASSERT_NE(focus, nullptr);
    focus->setFocus();
    ASSERT_TRUE(WaitUntil([&] { return focus->hasFocus(); }));

    QTest::keyClick(focus, row.key);
    EXPECT_EQ(finished, row.result);
    EXPECT_EQ(dialog.isVisible(), row.result == -1);
    for (const char* name : {"Button1", "Button2", "Button3"})
        EXPECT_FALSE(dialog.findChild<QPushButton*>(QString::fromLatin1(name))->isDefault()) << name;
    const bool defaulted = std::string(row.focus) == "Button3";
    EXPECT_EQ(dialog.SelectedPortName(), defaulted ? "COM1" : "COM3");
    EXPECT_EQ(dialog.SelectedBaudRate(), defaulted ? 9600 : 19200);
}

INSTANTIATE_TEST_SUITE_P(Keys, SettingsKeyTest,
                         ::testing::Values(KeyRow{"ReturnOnOk", "Button1", Qt::Key_Return, mrOk},
                                           KeyRow{"EnterOnOk", "Button1", Qt::Key_Enter, mrOk},
                                           KeyRow{"ReturnOnCancel", "Button2", Qt::Key_Return, mrCancel},
                                           KeyRow{"ReturnOnDefault", "Button3", Qt::Key_Return, -1},
                                           KeyRow{"ReturnInAList", "BaudBox", Qt::Key_Return, -1},
                                           KeyRow{"EscapeInAList", "PortBox", Qt::Key_Escape, mrCancel},
                                           KeyRow{"EscapeOnOk", "Button1", Qt::Key_Escape, mrCancel}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsTest, NoRateSelectedShowsTheConversionError) {
    Plug({1});
    OpenWindow();
    WhenShown([&](TCommSettingsForm& dialog) {
        box(dialog, "BaudBox")->setCurrentIndex(-1);
        click(dialog, "Button1");
    });
    Action("actSetting").trigger();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "'' is not a valid integer value");
    EXPECT_EQ(form->CommThread(0).GetPort().GetBaudRate(), 9600);
    EXPECT_TRUE(form->CommThread(0).IsPortOpen());
}

} // namespace
} // namespace window

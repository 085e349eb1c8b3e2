// SPDX-License-Identifier: MIT
#include "CommSettingsForm.h"

#include "Actions.h"
#include "Dialogs.h"
#include "Exceptions.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>

namespace {

// The layout is drawn in units of a 120-pixels-per-inch screen and scaled to the screen's.
constexpr double designDpi = 120.0;

const char* const portNames[] = {"COM1", "COM2", "COM3", "COM4"};
const char* const baudRates[] = {"110",   "300",   "600",   "1200",  "2400",   "4800",   "9600",  "14400",
                                 "19200", "38400", "56000", "57600", "115200", "128000", "256000"};

// What "Default" restores: the settings every port starts with.
constexpr const char* defaultPortName = "COM1";
constexpr const char* defaultBaudRate = "9600";

void selectText(QComboBox* box, const std::string& text) {
    box->setCurrentIndex(box->findText(QString::fromLatin1(text.c_str()), Qt::MatchExactly | Qt::MatchCaseSensitive));
}

} // namespace

TCommSettingsForm::TCommSettingsForm() {
    setObjectName(QStringLiteral("CommSettingsForm"));
    setWindowTitle(QStringLiteral("CommSettingsForm"));
    setModal(true);

    const double scale = (screen() ? screen()->logicalDotsPerInchY() : 96.0) / designDpi;
    auto px = [scale](int units) { return static_cast<int>(units * scale + 0.5); };
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(px(14));
    setFont(font);

    PortBox = new QComboBox(this);
    PortBox->setObjectName(QStringLiteral("PortBox"));
    for (const char* name : portNames)
        PortBox->addItem(QString::fromLatin1(name));
    BaudBox = new QComboBox(this);
    BaudBox->setObjectName(QStringLiteral("BaudBox"));
    for (const char* rate : baudRates)
        BaudBox->addItem(QString::fromLatin1(rate));
    PortBox->setCurrentIndex(-1);
    BaudBox->setCurrentIndex(-1);

    auto button = [this](const char* name, const char* caption) {
        auto* b = new QPushButton(QString::fromLatin1(caption), this);
        b->setObjectName(QString::fromLatin1(name));
        // Neither button is the dialog's default. (An auto-default button would become the
        // default whenever it has the focus, and then Enter in a list would press it.) So a
        // push button ignores Enter, and the filter below presses the focused one.
        b->setAutoDefault(false);
        b->setDefault(false);
        b->installEventFilter(this);
        return b;
    };
    Button1 = button("Button1", "Ok");
    Button2 = button("Button2", "Cancel");
    Button3 = button("Button3", "Default");

    // Lists on the left one above the other, "Default" right of the port list, "Ok" and
    // "Cancel" below.
    PortBox->setGeometry(px(49), px(28), px(179), px(24));
    BaudBox->setGeometry(px(49), px(87), px(179), px(24));
    Button1->setGeometry(px(98), px(166), px(93), px(30));
    Button2->setGeometry(px(290), px(166), px(93), px(30));
    Button3->setGeometry(px(290), px(28), px(93), px(31));
    setFixedSize(px(421), px(225));
    move(px(290), px(237));
    setTabOrder(PortBox, BaudBox);
    setTabOrder(BaudBox, Button1);
    setTabOrder(Button1, Button2);
    setTabOrder(Button2, Button3);

    ActionList1 = new TActionList(this);
    actSettingDefault = ActionList1->Add(QStringLiteral("actSettingDefault"));
    actSettingDefault->OnExecute = [this] { actSettingDefaultExecute(); };

    connect(Button1, &QPushButton::clicked, this, [this] { done(mrOk); });
    connect(Button2, &QPushButton::clicked, this, [this] { done(mrCancel); });
    connect(Button3, &QPushButton::clicked, actSettingDefault, &QAction::trigger);
}

bool TCommSettingsForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        auto* button = qobject_cast<QPushButton*>(watched);
        if (button && (key == Qt::Key_Return || key == Qt::Key_Enter) && button->isEnabled()) {
            button->click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TCommSettingsForm::keyPressEvent(QKeyEvent* event) {
    // Escape is "Cancel" (QDialog's own Escape would close with 0, as the close box does).
    if (event->matches(QKeySequence::Cancel)) {
        Button2->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TCommSettingsForm::ShowPortName(const std::string& portName) {
    selectText(PortBox, portName);
}

void TCommSettingsForm::ShowBaudRate(std::int32_t baudRate) {
    selectText(BaudBox, std::to_string(baudRate));
}

std::string TCommSettingsForm::SelectedPortName() const {
    return PortBox->currentIndex() < 0 ? std::string() : PortBox->currentText().toStdString();
}

std::int32_t TCommSettingsForm::SelectedBaudRate() const {
    return StrToInt(BaudBox->currentIndex() < 0 ? std::string() : BaudBox->currentText().toStdString());
}

void TCommSettingsForm::actSettingDefaultExecute() {
    selectText(PortBox, defaultPortName);
    selectText(BaudBox, defaultBaudRate);
}

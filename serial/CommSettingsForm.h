// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>

#include <cstdint>
#include <string>

class QComboBox;
class QPushButton;
class TAction;
class TActionList;

// Port name and baud rate for the first receiver thread. Created on demand, shown modally
// once and destroyed by the command that created it; "Ok" closes it with mrOk, "Cancel" and
// Escape with mrCancel, the close box with 0. Enter or Return presses the focused button;
// neither button is the dialog's default, so Enter elsewhere does nothing.
class TCommSettingsForm : public QDialog {
public:
    TCommSettingsForm();

    // Selects the entry with this text, or no entry when there is none.
    void ShowPortName(const std::string& portName);
    void ShowBaudRate(std::int32_t baudRate);
    // The selected entry's text, or the empty text when none is selected.
    std::string SelectedPortName() const;
    // The selected rate; raises EConvertError ("'' is not a valid integer value") when no rate
    // is selected.
    std::int32_t SelectedBaudRate() const;

    void actSettingDefaultExecute();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QComboBox* PortBox = nullptr;
    QComboBox* BaudBox = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
    TActionList* ActionList1 = nullptr;
    TAction* actSettingDefault = nullptr;
};

// SPDX-License-Identifier: MIT
// The Qt window's side of the connection: the enabled states and the status line as the
// behaviour gives them, and the port settings dialog.
#include "MainForm.h"

#include "Actions.h"
#include "CommSettingsForm.h"

#include <QLabel>
#include <QStatusBar>

void TMainForm::actConnectUpdate(TAction& action) {
    action.setEnabled(behaviour->actConnectUpdate());
}

void TMainForm::actDisconnectUpdate(TAction& action) {
    action.setEnabled(behaviour->actDisconnectUpdate());
}

void TMainForm::actStatusBar1Update(TAction&) {
    const TStatusTexts texts = behaviour->actStatusBar1Update();
    // Written only when changed: the handler runs on every idle round.
    if (const QString toolTip = QString::fromStdString(texts.toolTip); StatusBar1->toolTip() != toolTip)
        StatusBar1->setToolTip(toolTip);
    for (std::size_t i = 0; i < statusPanels.size(); ++i)
        if (const QString text = QString::fromLatin1(texts.panels[i].c_str()); statusPanels[i]->text() != text)
            statusPanels[i]->setText(text);
}

std::optional<TPortSettings> TMainForm::AskPortSettings(const std::string& portName, std::int32_t baudRate) {
    auto dialog = std::make_unique<TCommSettingsForm>();
    dialog->ShowPortName(portName);
    dialog->ShowBaudRate(baudRate);
    if (dialog->exec() != mrOk)
        return std::nullopt;
    TPortSettings chosen;
    chosen.portName = dialog->SelectedPortName();
    chosen.baudRate = dialog->SelectedBaudRate();
    return chosen;
}

void TMainForm::actReadComExecute() {}

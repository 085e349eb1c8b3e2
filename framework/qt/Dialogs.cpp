// SPDX-License-Identifier: MIT
#include "Dialogs.h"

#include "Actions.h"
#include "Text.h"
#include "UiThread.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QFontInfo>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTextDocument>
#include <QUrl>

#include <map>
#include <utility>
#include <vector>

namespace {

MessageBoxHook messageBoxHook;
FileDialogHook fileDialogHook;
FontDialogHook fontDialogHook;
PrintDialogHook printDialogHook;

QMessageBox::Icon ToQtIcon(TMsgIcon icon) {
    switch (icon) {
    case miInformation:
        return QMessageBox::Information;
    case miWarning:
        return QMessageBox::Warning;
    case miError:
        return QMessageBox::Critical;
    case miQuestion:
        return QMessageBox::Question;
    case miNone:
        break;
    }
    return QMessageBox::NoIcon;
}

std::vector<std::pair<QMessageBox::StandardButton, int>> ButtonsOf(TMsgButtons buttons) {
    switch (buttons) {
    case mbOKCancel:
        return {{QMessageBox::Ok, mrOk}, {QMessageBox::Cancel, mrCancel}};
    case mbRetryCancel:
        return {{QMessageBox::Retry, mrRetry}, {QMessageBox::Cancel, mrCancel}};
    case mbYesNo:
        return {{QMessageBox::Yes, mrYes}, {QMessageBox::No, mrNo}};
    case mbYesNoCancel:
        return {{QMessageBox::Yes, mrYes}, {QMessageBox::No, mrNo}, {QMessageBox::Cancel, mrCancel}};
    case mbOK:
        break;
    }
    return {{QMessageBox::Ok, mrOk}};
}

int ShowMessageBox(const MessageBoxRequest& request) {
    QMessageBox box(request.owner);
    box.setWindowTitle(DisplayText(request.caption));
    box.setIcon(ToQtIcon(request.icon));
    // File names and system messages may contain '<' or '&': never let Qt guess markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(DisplayText(request.text));
    if (!request.detail.empty())
        box.setInformativeText(Qt::convertFromPlainText(DisplayText(request.detail), Qt::WhiteSpaceNormal));

    std::map<QAbstractButton*, int> results;
    std::map<int, QPushButton*> byResult;
    QPushButton* first = nullptr;
    for (const auto& [standard, result] : ButtonsOf(request.buttons)) {
        QPushButton* button = box.addButton(standard);
        results[button] = result;
        byResult[result] = button;
        if (!first)
            first = button;
    }
    const auto defaultButton = byResult.find(request.defaultButton);
    box.setDefaultButton(defaultButton != byResult.end() ? defaultButton->second : first);
    for (const int escape : {mrCancel, mrNo, mrOk}) {
        if (byResult.count(escape)) {
            box.setEscapeButton(byResult[escape]);
            break;
        }
    }
    box.exec();

    const auto found = results.find(box.clickedButton());
    return found != results.end() ? found->second : mrCancel;
}

QString FileNameToQString(const std::string& name) {
    return QFile::decodeName(QByteArray::fromStdString(name));
}

std::string FileNameFromQString(const QString& name) {
    return QFile::encodeName(name).toStdString();
}

QStringList SplitFilter(const std::string& filter) {
    return QString::fromStdString(filter).split(QLatin1Char('|'));
}

} // namespace

int MessageBox(QWidget* owner, const std::string& text, const std::string& caption, TMsgButtons buttons, TMsgIcon icon,
               int defaultButton, const std::string& detail) {
    const MessageBoxRequest request{owner, text, caption, buttons, icon, defaultButton, detail};
    int result = mrCancel;
    RunOnUiThread([&] {
        result = messageBoxHook ? messageBoxHook(request) : ShowMessageBox(request);
        RequestActionUpdates(); // the answer may have changed what the actions show
    });
    return result;
}

void SetMessageBoxHook(MessageBoxHook hook) {
    messageBoxHook = std::move(hook);
}

void SetFileDialogHook(FileDialogHook hook) {
    fileDialogHook = std::move(hook);
}

QStringList NameFiltersFromFilter(const std::string& filter) {
    const QStringList parts = SplitFilter(filter);
    QStringList result;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString& pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts))
            patterns << (pattern.trimmed() == QLatin1String("*.*") ? QStringLiteral("*") : pattern.trimmed());
        if (patterns.isEmpty())
            continue;
        result << parts[i] + QLatin1String(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return result;
}

std::string WithDefaultExt(const std::string& fileName, const std::string& ext) {
    if (fileName.empty() || ext.empty())
        return fileName;
    const std::size_t slash = fileName.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    if (fileName.find('.', nameStart) != std::string::npos || nameStart == fileName.size())
        return fileName;
    return fileName + "." + ext;
}

bool TOpenDialog::Execute(QWidget* owner) {
    FileDialogRequest request;
    request.save = IsSaveDialog();
    request.owner = owner;
    request.title = Title;
    request.nameFilters = NameFiltersFromFilter(Filter);
    request.selectedFilter = 0;
    if (FilterIndex >= 1 && FilterIndex <= request.nameFilters.size())
        request.selectedFilter = FilterIndex - 1;
    request.fileName = FileName;
    request.defaultExt = DefaultExt;
    request.places = Places;

    const std::optional<std::string> chosen = fileDialogHook ? fileDialogHook(request) : RunDialog(owner, request);
    if (!chosen || chosen->empty())
        return false;
    FileName = WithDefaultExt(*chosen, DefaultExt);
    return true;
}

std::optional<std::string> TOpenDialog::RunDialog(QWidget* owner, const FileDialogRequest& request) {
    QFileDialog dialog(owner, DisplayText(request.title));
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    // The save checks are AcceptChoice's, so that they behave the same with every dialog
    // implementation the platform may bring.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (!request.nameFilters.isEmpty()) {
        dialog.setNameFilters(request.nameFilters);
        dialog.selectNameFilter(request.nameFilters[request.selectedFilter]);
    }
    dialog.setDefaultSuffix(QString::fromStdString(request.defaultExt));
    if (!request.fileName.empty())
        dialog.selectFile(FileNameToQString(request.fileName));
    QList<QUrl> places = dialog.sidebarUrls();
    for (const std::string& place : request.places) {
        const QString folder = FileNameToQString(place);
        if (QFileInfo(folder).isDir() && !places.contains(QUrl::fromLocalFile(folder)))
            places.append(QUrl::fromLocalFile(folder));
    }
    dialog.setSidebarUrls(places);

    for (;;) {
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        const std::string chosen = WithDefaultExt(FileNameFromQString(dialog.selectedFiles().front()), DefaultExt);
        const qsizetype filter = request.nameFilters.indexOf(dialog.selectedNameFilter());
        if (filter >= 0)
            FilterIndex = static_cast<int>(filter) + 1;
        if (AcceptChoice(&dialog, chosen))
            return chosen;
    }
}

bool TOpenDialog::AcceptChoice(QWidget*, const std::string&) {
    return true;
}

bool TSaveDialog::AcceptChoice(QWidget* owner, const std::string& fileName) {
    const QFileInfo info(FileNameToQString(fileName));
    if (!info.exists())
        return true;
    const auto anyWrite = QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    if (NoReadOnlyReturn && (!info.isWritable() || (info.permissions() & anyWrite) == 0)) {
        MessageBox(owner, fileName + "\nThis file is set to read-only.\nTry again with a different file name.",
                   Title.empty() ? "Save As" : Title, mbOK, miWarning, mrOk);
        return false;
    }
    if (OverwritePrompt)
        return MessageBox(owner, fileName + " already exists.\nDo you want to replace it?", "Confirm Save As", mbYesNo,
                          miWarning, mrNo) == mrYes;
    return true;
}

void SetFontDialogHook(FontDialogHook hook) {
    fontDialogHook = std::move(hook);
}

QFont ShownFont(const QFont& font) {
    const QFontInfo shown(font);
    QFont result(shown.family());
    result.setPointSizeF(shown.pointSizeF());
    result.setWeight(static_cast<QFont::Weight>(shown.weight()));
    result.setItalic(shown.italic());
    result.setUnderline(shown.underline());
    result.setStrikeOut(shown.strikeOut());
    return result;
}

bool SameFontChoice(const QFont& a, const QFont& b) {
    const QFontInfo x(a);
    const QFontInfo y(b);
    return x.family() == y.family() && qAbs(x.pointSizeF() - y.pointSizeF()) < 0.01 && x.weight() == y.weight() &&
           x.italic() == y.italic() && a.underline() == b.underline() && a.strikeOut() == b.strikeOut();
}

bool TFontDialog::Execute(QWidget* owner) {
    // Given a pixel-size font, or "Arial" that fontconfig resolves to another family, Qt's
    // dialog would preselect some other family and a rounded size.
    const QFont start = ShownFont(Font);
    QFont initial = start; // what the dialog shows at first
    std::optional<QFont> chosen;
    if (fontDialogHook) {
        chosen = fontDialogHook(start);
    } else {
        QFontDialog dialog(start, owner);
        // It offers whole point sizes only: 11.25 shows as 11, which is what OK then returns.
        initial = dialog.currentFont();
        if (dialog.exec() == QDialog::Accepted)
            chosen = dialog.selectedFont();
    }
    if (!chosen)
        return false;
    if (!SameFontChoice(*chosen, initial))
        Font = *chosen;
    return true;
}

void SetPrintDialogHook(PrintDialogHook hook) {
    printDialogHook = std::move(hook);
}

TPrintDialog::TPrintDialog() : printer(std::make_unique<QPrinter>(QPrinter::HighResolution)) {}

TPrintDialog::~TPrintDialog() = default;

bool TPrintDialog::Execute(QWidget* owner) {
    if (printDialogHook)
        return printDialogHook(*printer);
    QPrintDialog dialog(printer.get(), owner);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    return dialog.exec() == QDialog::Accepted;
}

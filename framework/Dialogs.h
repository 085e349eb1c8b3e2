// SPDX-License-Identifier: MIT
#pragma once

#include <QFont>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QPrinter;
class QWidget;

// Modal dialogs, each with a test hook: while a hook is set it answers in place of the dialog,
// so tests drive every dialog without a user. Hooks are set and called on the user-interface
// thread; an empty function removes a hook. Texts are 8-bit (see DisplayText in Text.h).

// ---- Message box ----

enum TMsgButtons { mbOK, mbOKCancel, mbRetryCancel, mbYesNo, mbYesNoCancel };
enum TMsgIcon { miNone, miInformation, miWarning, miError, miQuestion };

// Results, with the values the VCL gives them.
constexpr int mrNone = 0;
constexpr int mrOk = 1;
constexpr int mrCancel = 2;
constexpr int mrRetry = 4;
constexpr int mrYes = 6;
constexpr int mrNo = 7;

struct MessageBoxRequest {
    QWidget* owner = nullptr;
    std::string text;
    std::string caption;
    TMsgButtons buttons = mbOK;
    TMsgIcon icon = miNone;
    int defaultButton = mrNone;
    std::string detail;
};

// Shows a modal message box owned by `owner` (may be null or hidden) and returns the result of
// the button that closed it. `defaultButton` is the result of the button that Enter presses
// (mrNone or one not in the box: the first button). Escape and the close box give mrCancel
// when the box has a Cancel button, otherwise mrNo for Yes/No and mrOk for OK alone.
// `detail`, when not empty, is shown below the text as the box's informative text. Texts are
// shown as plain text, never as markup. From another thread the box is shown on the
// user-interface thread.
int MessageBox(QWidget* owner, const std::string& text, const std::string& caption, TMsgButtons buttons, TMsgIcon icon,
               int defaultButton = mrNone, const std::string& detail = {});

using MessageBoxHook = std::function<int(const MessageBoxRequest&)>;
void SetMessageBoxHook(MessageBoxHook hook);

// ---- File open and save ----

struct FileDialogRequest {
    bool save = false;
    QWidget* owner = nullptr;
    std::string title;
    QStringList nameFilters;
    int selectedFilter = 0; // index into nameFilters
    std::string fileName;   // the name the dialog starts with
    std::string defaultExt;
    std::vector<std::string> places; // folders offered among the dialog's places (the sidebar)
};

// The hook returns what the user chose (file name as typed, before DefaultExt) or nullopt for
// cancel. It stands for the whole dialog, its own confirmations included.
using FileDialogHook = std::function<std::optional<std::string>(const FileDialogRequest&)>;
void SetFileDialogHook(FileDialogHook hook);

// File names are in the system's 8-bit file name encoding, ready for std::fstream or open(2).
class TOpenDialog {
public:
    virtual ~TOpenDialog() = default;

    // VCL form: "description|pattern|description|pattern", several patterns per entry
    // separated by ';'.
    std::string Filter;
    int FilterIndex = 1; // 1-based entry of Filter selected at start, and chosen last
    // Starts the dialog, and holds the name chosen in it after a confirmed Execute; kept
    // between uses of the same object.
    std::string FileName;
    // Without a dot: "txt". A chosen name whose last component has no extension gets it.
    std::string DefaultExt;
    std::string Title; // empty: the dialog's own title
    // Folders added to the dialog's places (its sidebar) when they exist; the dialog's own
    // starting folder is not changed by them.
    std::vector<std::string> Places;

    // Shows the dialog; true when the user confirmed a name, which is then in FileName.
    // The open dialog accepts names of files that do not exist (opening them is the caller's
    // business and its error).
    bool Execute(QWidget* owner);

protected:
    virtual bool IsSaveDialog() const { return false; }
    // Whether the real dialog may return `fileName` (8-bit); false shows it again.
    virtual bool AcceptChoice(QWidget* owner, const std::string& fileName);

private:
    std::optional<std::string> RunDialog(QWidget* owner, const FileDialogRequest& request);
};

class TSaveDialog : public TOpenDialog {
public:
    // Ask before a chosen existing file is replaced; No shows the dialog again.
    bool OverwritePrompt = true;
    // Refuse a chosen file that is read-only (for this user, or without any write permission
    // bit, so also for root); the dialog is shown again.
    bool NoReadOnlyReturn = true;

protected:
    bool IsSaveDialog() const override { return true; }
    bool AcceptChoice(QWidget* owner, const std::string& fileName) override;
};

// "*.txt|*.txt|All files|*.*" gives {"*.txt (*.txt)", "All files (*)"}. "*.*" means every file
// (as it does on Windows), not only names with a dot. An entry without pattern is dropped.
QStringList NameFiltersFromFilter(const std::string& filter);
// `fileName` with "." + `ext` appended when its last path component has no dot; unchanged
// when `ext` or `fileName` is empty.
std::string WithDefaultExt(const std::string& fileName, const std::string& ext);

// ---- Font ----

// The hook gets the font the dialog starts on (see ShownFont) and returns the one the user
// chose, or nullopt for cancel.
using FontDialogHook = std::function<std::optional<QFont>(const QFont& initial)>;
void SetFontDialogHook(FontDialogHook hook);

class TFontDialog {
public:
    // The font the dialog starts from, and the chosen one after a confirmed Execute. The dialog
    // starts on the font as the screen shows it (ShownFont); when the user confirms without a
    // change, Font stays exactly as it was, so that a font given by pixel size, or by a name
    // that is only an alias, is not replaced by the dialog's rounding of it.
    QFont Font;
    bool Execute(QWidget* owner);
};

// `font` as the screen shows it: the family it resolves to, its size in points (fractional:
// 15 pixels at 96 dots per inch are 11.25 points), weight, slant and effects.
QFont ShownFont(const QFont& font);
// Whether two fonts are the same choice in a font dialog: family, size, weight, slant and
// effects (not the style name, which the dialog fills in).
bool SameFontChoice(const QFont& a, const QFont& b);

// ---- Printer ----

// The hook may configure the printer as the user would; true accepts, false cancels.
using PrintDialogHook = std::function<bool(QPrinter& printer)>;
void SetPrintDialogHook(PrintDialogHook hook);

// The printer choice. It keeps one printer for its whole life, so each use starts with what
// the last one chose: the printer or file, the page setup, copies and the other options.
class TPrintDialog {
public:
    TPrintDialog();
    TPrintDialog(const TPrintDialog&) = delete;
    TPrintDialog& operator=(const TPrintDialog&) = delete;
    ~TPrintDialog();

    // The printer to print on after a confirmed Execute (a high-resolution one).
    QPrinter& Printer() { return *printer; }
    // Lets the user choose and set up the printer (no page range, no selection); true when
    // accepted.
    bool Execute(QWidget* owner);

private:
    std::unique_ptr<QPrinter> printer;
};

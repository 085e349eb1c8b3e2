// SPDX-License-Identifier: MIT
#pragma once

#include "MainFormView.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

// A printer's device context, deleted by its one owner.
class TPrinterDC {
public:
    TPrinterDC() = default;
    explicit TPrinterDC(HDC dc) : dc(dc) {}
    TPrinterDC(TPrinterDC&& other) noexcept : dc(other.dc) { other.dc = nullptr; }
    TPrinterDC& operator=(TPrinterDC&& other) noexcept;
    TPrinterDC(const TPrinterDC&) = delete;
    TPrinterDC& operator=(const TPrinterDC&) = delete;
    ~TPrinterDC();

    HDC Handle() const { return dc; }
    explicit operator bool() const { return dc != nullptr; }

private:
    HDC dc = nullptr;
};

// The standard print dialog (no page range, no selection). The printer and its settings chosen
// in it stay chosen for its next use in this run.
class TPrintDialog {
public:
    TPrintDialog() = default;
    TPrintDialog(const TPrintDialog&) = delete;
    TPrintDialog& operator=(const TPrintDialog&) = delete;
    ~TPrintDialog();

    struct TChoice {
        TPrinterDC printer; // empty when the user cancelled
        // The file the user chose to print to, or empty for the printer's port.
        std::string output;
    };
    // "Print to file" asks for the file's name here (a cancel there cancels the print).
    // Raises EPrinter "There is no default printer currently selected" when the system has no
    // printer, and "Printer selected is not valid" when the chosen one gives no device context.
    TChoice Execute(HWND owner);

private:
    std::string lastOutput;
    HGLOBAL devMode = nullptr;
    HGLOBAL devNames = nullptr;
};

// The text view's font as the screen shows it: its height and width are pixels of a screen of
// `dpi` dots per inch, so that the printer gets the same point size at its own resolution.
struct TPrintFont {
    LOGFONTA font{};
    int dpi = 96;
    COLORREF colour = RGB(0, 0, 0);
};

// Begins a print job on `printer` in `font`: its document name is empty, its first page is
// started. `lineText` gives line n of the text view (8-bit, without its line end). `output`,
// when not empty, is a file that receives the printer's output instead of its port. Returns
// null when the user cancelled the job before it began (the file name that a FILE: port asks
// for). Raises EPrinter "Printer selected is not valid" when the printer refuses the job.
//
// A page that the printer refuses raises EPrinter, and the job is abandoned (AbortDoc).
// Destroying the job ends it with the pages drawn so far; should the printer refuse that end,
// the job is abandoned and `reportFailure` is called with the message (a destructor cannot
// raise it).
std::unique_ptr<TViewPrintJob> BeginGdiPrintJob(TPrinterDC printer, const TPrintFont& font,
                                                std::function<std::string(int line)> lineText,
                                                std::function<void(const std::string& message)> reportFailure,
                                                const std::string& output = {});

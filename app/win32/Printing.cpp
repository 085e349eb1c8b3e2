// SPDX-License-Identifier: MIT
#include "Printing.h"

#include "Exceptions.h"
#include "PrintLayout.h"

#include <commdlg.h>
#include <winspool.h>
#undef ReplaceText

#include <utility>

namespace {

constexpr char noPrinterText[] = "There is no default printer currently selected";
constexpr char invalidPrinterText[] = "Printer selected is not valid";

std::string RefusedPageText(int page, DWORD error) {
    return "The printer refused page " + std::to_string(page) + " (error " + std::to_string(error) +
           "); the job was abandoned";
}

class TGdiFont {
public:
    explicit TGdiFont(HFONT font) : font(font) {}
    TGdiFont(const TGdiFont&) = delete;
    TGdiFont& operator=(const TGdiFont&) = delete;
    ~TGdiFont() {
        if (font)
            DeleteObject(font);
    }
    HFONT Handle() const { return font; }

private:
    HFONT font;
};

HFONT PrinterFont(HDC dc, const TPrintFont& view) {
    LOGFONTA font = view.font;
    const int dpi = view.dpi > 0 ? view.dpi : 96;
    font.lfHeight = MulDiv(font.lfHeight, GetDeviceCaps(dc, LOGPIXELSY), dpi);
    font.lfWidth = MulDiv(font.lfWidth, GetDeviceCaps(dc, LOGPIXELSX), dpi);
    return CreateFontIndirectA(&font);
}

class TGdiPrintJob : public TViewPrintJob {
public:
    TGdiPrintJob(TPrinterDC printer, const TPrintFont& view, std::function<std::string(int)> lineText,
                 std::function<void(const std::string&)> reportFailure)
        : font(PrinterFont(printer.Handle(), view)), dc(std::move(printer)), lineText(std::move(lineText)),
          reportFailure(std::move(reportFailure)) {
        const HDC handle = dc.Handle();
        if (!font.Handle() || !SelectObject(handle, font.Handle()))
            throw EPrinter(invalidPrinterText);
        // Paper is white whatever the screen's colours; only the text is drawn, no background.
        SetTextColor(handle, view.colour);
        SetBkMode(handle, TRANSPARENT);
        SetTextAlign(handle, TA_LEFT | TA_TOP | TA_NOUPDATECP);
        TEXTMETRICA metrics{};
        if (!GetTextMetricsA(handle, &metrics))
            throw EPrinter(invalidPrinterText);
        lineHeight = metrics.tmHeight;
        tabStop = TPrintLayout::tabStopChars * metrics.tmAveCharWidth;
        pageWidth = GetDeviceCaps(handle, HORZRES);
        pageHeight = GetDeviceCaps(handle, VERTRES);
    }
    TGdiPrintJob(const TGdiPrintJob&) = delete;
    TGdiPrintJob& operator=(const TGdiPrintJob&) = delete;

    ~TGdiPrintJob() override {
        if (state != TState::printing)
            return;
        if (EndPage(dc.Handle()) > 0 && EndDoc(dc.Handle()) > 0)
            return;
        const DWORD error = GetLastError();
        AbortDoc(dc.Handle());
        if (reportFailure)
            reportFailure(RefusedPageText(page, error));
    }

    // False when the user cancelled the job.
    bool Start(const std::string& output) {
        DOCINFOA document{};
        document.cbSize = sizeof document;
        document.lpszDocName = "";
        document.lpszOutput = output.empty() ? nullptr : output.c_str();
        if (StartDocA(dc.Handle(), &document) <= 0) {
            if (GetLastError() == ERROR_CANCELLED)
                return false;
            throw EPrinter(invalidPrinterText);
        }
        state = TState::printing;
        if (StartPage(dc.Handle()) <= 0)
            Abandon();
        return true;
    }

    int PageWidth() const override { return pageWidth; }
    int PageHeight() const override { return pageHeight; }
    int LineHeight() const override { return lineHeight; }

    void NewPage() override {
        if (EndPage(dc.Handle()) <= 0)
            Abandon();
        ++page;
        if (StartPage(dc.Handle()) <= 0)
            Abandon();
    }

    void DrawLine(int line, const TPrintRect& rect) override {
        const std::string text = lineText(line);
        if (text.empty())
            return;
        const HDC handle = dc.Handle();
        // The clip cuts what reaches past the right edge; nothing is wrapped.
        const int saved = SaveDC(handle);
        IntersectClipRect(handle, rect.left, rect.top, rect.right, rect.bottom);
        INT stops = tabStop;
        TabbedTextOutA(handle, rect.left, rect.top, text.data(), static_cast<int>(text.size()), 1, &stops, rect.left);
        RestoreDC(handle, saved);
    }

private:
    enum class TState { begun, printing, abandoned };

    [[noreturn]] void Abandon() {
        const DWORD error = GetLastError();
        AbortDoc(dc.Handle());
        state = TState::abandoned;
        throw EPrinter(RefusedPageText(page, error));
    }

    // Declared before the device context, so that it is deleted after the context is.
    TGdiFont font;
    TPrinterDC dc;
    std::function<std::string(int)> lineText;
    std::function<void(const std::string&)> reportFailure;
    TState state = TState::begun;
    int page = 1;
    int lineHeight = 0;
    int tabStop = 0;
    int pageWidth = 0;
    int pageHeight = 0;
};

bool AnyPrinter() {
    DWORD needed = 0, count = 0;
    const DWORD kinds = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
    if (!EnumPrintersA(kinds, nullptr, 4, nullptr, 0, &needed, &count) && GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return true; // not known: the dialog will tell
    return needed > 0;
}

} // namespace

TPrinterDC& TPrinterDC::operator=(TPrinterDC&& other) noexcept {
    if (this != &other) {
        if (dc)
            DeleteDC(dc);
        dc = std::exchange(other.dc, nullptr);
    }
    return *this;
}

TPrinterDC::~TPrinterDC() {
    if (dc)
        DeleteDC(dc);
}

TPrintDialog::~TPrintDialog() {
    for (HGLOBAL settings : {devMode, devNames})
        if (settings)
            GlobalFree(settings);
}

TPrintDialog::TChoice TPrintDialog::Execute(HWND owner) {
    // Said before the dialog rather than after it: not every system's dialog reports that it
    // found no printer (some warn and return as if cancelled).
    if (!AnyPrinter())
        throw EPrinter(noPrinterText);
    PRINTDLGA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.hDevMode = devMode;
    dialog.hDevNames = devNames;
    dialog.Flags = PD_RETURNDC | PD_NOPAGENUMS | PD_NOSELECTION | PD_USEDEVMODECOPIESANDCOLLATE | PD_NOWARNING;
    const BOOL chosen = PrintDlgA(&dialog);
    // The dialog may have replaced the settings it was given, also when it was cancelled.
    devMode = dialog.hDevMode;
    devNames = dialog.hDevNames;
    if (!chosen) {
        switch (CommDlgExtendedError()) {
        case 0:
            return {};
        case PDERR_NODEFAULTPRN:
        case PDERR_NODEVICES:
            throw EPrinter(noPrinterText);
        default:
            throw EPrinter(invalidPrinterText);
        }
    }
    if (!dialog.hDC)
        throw EPrinter(invalidPrinterText);
    TChoice choice{TPrinterDC(dialog.hDC), {}};
    if (dialog.Flags & PD_PRINTTOFILE) {
        // Asked here rather than left to the spooler's "FILE:" prompt, which not every system
        // shows: the name then goes to the job as its output.
        char name[MAX_PATH * 4] = {};
        name[lastOutput.copy(name, sizeof name - 1)] = '\0';
        OPENFILENAMEA box{};
        box.lStructSize = sizeof box;
        box.hwndOwner = owner;
        box.lpstrTitle = "Print to File";
        box.lpstrFilter = "Printer files (*.prn)\0*.prn\0All files\0*.*\0";
        box.lpstrFile = name;
        box.nMaxFile = sizeof name;
        box.lpstrDefExt = "prn";
        box.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
        if (!GetSaveFileNameA(&box)) {
            if (const DWORD error = CommDlgExtendedError())
                throw Exception("The file dialog failed (error " + std::to_string(error) + ")");
            return {};
        }
        lastOutput = name;
        choice.output = lastOutput;
    }
    return choice;
}

std::unique_ptr<TViewPrintJob> BeginGdiPrintJob(TPrinterDC printer, const TPrintFont& font,
                                                std::function<std::string(int line)> lineText,
                                                std::function<void(const std::string& message)> reportFailure,
                                                const std::string& output) {
    if (!printer)
        throw EPrinter(invalidPrinterText);
    auto job = std::make_unique<TGdiPrintJob>(std::move(printer), font, std::move(lineText), std::move(reportFailure));
    if (!job->Start(output))
        return nullptr;
    return job;
}

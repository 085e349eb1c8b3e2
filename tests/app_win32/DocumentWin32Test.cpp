// SPDX-License-Identifier: MIT
// Printing, the font dialog and the Open dialog of the Win32 window. Printing goes to the
// PostScript printer named by TAVRO_WINE_PRINTER (scripts/wine-run makes one), into a file
// whose pages and text runs are read back here.
#include "ApplicationWin32.h"
#include "Exceptions.h"
#include "MainForm.h"
#include "OpenDialog.h"
#include "PrintLayout.h"
#include "Resource.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

// A piece of text that the printer drew from one point: x and the baseline's y, device units.
struct TTextRun {
    int x = 0;
    int y = 0;
    std::string text;
};

using TPages = std::vector<std::vector<TTextRun>>;

char GlyphChar(const std::string& name) {
    static const std::map<std::string, char> names = {
        {"space", ' '}, {"period", '.'}, {"colon", ':'}, {"comma", ','}, {"hyphen", '-'},
        {"zero", '0'},  {"one", '1'},    {"two", '2'},   {"three", '3'}, {"four", '4'},
        {"five", '5'},  {"six", '6'},    {"seven", '7'}, {"eight", '8'}, {"nine", '9'},
    };
    if (name.size() == 1 && std::isalpha(static_cast<unsigned char>(name[0])))
        return name[0];
    const auto found = names.find(name);
    return found == names.end() ? '?' : found->second;
}

// The pages of the PostScript that Wine's driver writes: each text piece is a "x y moveto"
// followed by one "/name glyphshow" per character; a moveto followed by a path is no text.
TPages ReadPostScript(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    TPages pages;
    static const std::regex moveto(R"(^(-?\d+) (-?\d+) moveto\r?$)");
    static const std::regex glyph(R"(^/(\S+) glyphshow\r?$)");
    std::optional<TTextRun> run;
    auto close = [&] {
        if (run && !run->text.empty() && !pages.empty())
            pages.back().push_back(*run);
        run.reset();
    };
    std::smatch match;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("%%Page: ")) {
            close();
            pages.emplace_back();
        } else if (std::regex_match(line, match, moveto)) {
            close();
            run = TTextRun{std::stoi(match[1]), std::stoi(match[2]), {}};
        } else if (std::regex_match(line, match, glyph)) {
            if (run)
                run->text += GlyphChar(match[1]);
        } else if (line.find("lineto") != std::string::npos) {
            run.reset();
        }
    }
    close();
    return pages;
}

// The printer's font as the job should make it, measured on a context of its own.
struct TPrinterMetrics {
    int ascent = 0;
    int height = 0;
    int tabStop = 0;
};

TPrinterMetrics MeasurePrinterFont(const std::string& printer, LOGFONTA font, int screenDpi) {
    TPrinterMetrics metrics;
    const HDC dc = CreateDCA("WINSPOOL", printer.c_str(), nullptr, nullptr);
    if (!dc)
        return metrics;
    font.lfHeight = MulDiv(font.lfHeight, GetDeviceCaps(dc, LOGPIXELSY), screenDpi);
    const HFONT made = CreateFontIndirectA(&font);
    const HGDIOBJ old = SelectObject(dc, made);
    TEXTMETRICA text{};
    GetTextMetricsA(dc, &text);
    SelectObject(dc, old);
    DeleteObject(made);
    DeleteDC(dc);
    metrics.ascent = text.tmAscent;
    metrics.height = text.tmHeight;
    metrics.tabStop = TPrintLayout::tabStopChars * text.tmAveCharWidth;
    return metrics;
}

// The size of the printer font, device units: Wine's driver scales its font by it ("[47 0 0 -47
// 0 0] makefont"); 0 when no text was printed.
int EmSize(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::string postScript{std::istreambuf_iterator<char>(in), {}};
    static const std::regex scale(R"(\[(\d+) 0 0 -(\d+) 0 0\]\s*makefont)");
    std::smatch match;
    return std::regex_search(postScript, match, scale) && match[1] == match[2] ? std::stoi(match[1]) : 0;
}

LOGFONTA ViewFont(const TMainForm& form) {
    LOGFONTA font{};
    const auto handle =
        reinterpret_cast<HFONT>(SendMessageA(FindWindowExA(form.Handle(), nullptr, "EDIT", nullptr), WM_GETFONT, 0, 0));
    GetObjectA(handle, sizeof font, &font);
    return font;
}

int ScreenDpi() {
    const HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi;
}

struct TNoCommands : TMainFormCommands {
    void Start() override {}
    void Connect() override {}
    void Disconnect() override {}
    void Setting() override {}
    void Clear() override {}
    void FileOpen() override {}
    void FileSaveAs() override {}
    void Print() override {}
    bool ConnectEnabled() const override { return true; }
    bool DisconnectEnabled() const override { return false; }
    bool ClearEnabled() const override { return true; }
    std::array<std::string, 2> StatusPanels() const override { return {"", ""}; }
};

class DocumentWin32 : public ::testing::Test {
protected:
    TWin32Application application;
    TMainForm form{application};
    TempDir files;
    std::string printer;

    void SetUp() override {
        form.Attach(std::make_unique<TNoCommands>());
        const char* name = std::getenv("TAVRO_WINE_PRINTER");
        printer = name ? name : "";
    }

    // The print command's loop over the view, as the behaviour runs it, into `output`.
    void PrintView(const std::filesystem::path& output) {
        const std::unique_ptr<TViewPrintJob> job =
            form.PrintOn(TPrinterDC(CreateDCA("WINSPOOL", printer.c_str(), nullptr, nullptr)), output.string());
        ASSERT_TRUE(job);
        TPrintLayout layout(job->PageWidth(), job->PageHeight());
        for (int line = 0; line < form.LineCount(); ++line) {
            const TPrintLayout::TPlace place = layout.Next(job->LineHeight());
            if (place.newPage)
                job->NewPage();
            job->DrawLine(line, place.rect);
        }
    }
};

#define REQUIRE_PRINTER()                                                                                              \
    ASSERT_FALSE(printer.empty()) << "TAVRO_WINE_PRINTER names no printer: run under scripts/wine-run, whose "         \
                                     "prefix has a PostScript printer on FILE:"

TEST_F(DocumentWin32, PagesHoldEveryLineFromTheTopMarginInTheViewsPointSize) {
    REQUIRE_PRINTER();
    const TPrinterMetrics metrics = MeasurePrinterFont(printer, ViewFont(form), ScreenDpi());
    const HDC probe = CreateDCA("WINSPOOL", printer.c_str(), nullptr, nullptr);
    ASSERT_TRUE(probe);
    const int pageHeight = GetDeviceCaps(probe, VERTRES);
    DeleteDC(probe);
    // A line goes on a page only if its bottom stays strictly above the bottom margin.
    int perPage = 0;
    while (TPrintLayout::margin + (perPage + 1) * metrics.height < pageHeight - TPrintLayout::margin)
        ++perPage;
    ASSERT_GT(perPage, 10);

    struct Case {
        const char* name;
        int lines;
        int pages;
    };
    const Case cases[] = {
        {"empty view: one empty page", 0, 1},
        {"one line", 1, 1},
        {"a full page", perPage, 1},
        {"one line more", perPage + 1, 2},
        {"two pages and one line", 2 * perPage + 1, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        form.ClearText();
        std::vector<std::string> lines;
        for (int i = 1; i <= c.lines; ++i)
            lines.push_back("Lap " + std::to_string(i) + ": 0.12.34");
        form.AppendLines(lines);
        const std::filesystem::path output = files.path / (std::to_string(c.lines) + ".ps");
        PrintView(output);

        const TPages pages = ReadPostScript(output);
        ASSERT_EQ(static_cast<int>(pages.size()), c.pages);
        std::vector<std::string> printed;
        for (const auto& page : pages)
            for (std::size_t i = 0; i < page.size(); ++i) {
                printed.push_back(page[i].text);
                EXPECT_EQ(page[i].x, TPrintLayout::margin);
                EXPECT_EQ(page[i].y, TPrintLayout::margin + metrics.ascent + static_cast<int>(i) * metrics.height);
            }
        EXPECT_EQ(printed, lines);
        // The view's point size at the printer's 300 dpi.
        if (c.lines > 0) {
            EXPECT_NEAR(EmSize(output), -ViewFont(form).lfHeight * 300.0 / ScreenDpi(), 1.0);
        }
    }
}

TEST_F(DocumentWin32, TabsExpandToStopsOfEightAverageCharacterWidths) {
    REQUIRE_PRINTER();
    const TPrinterMetrics metrics = MeasurePrinterFont(printer, ViewFont(form), ScreenDpi());
    ASSERT_GT(metrics.tabStop, 0);
    const int origin = TPrintLayout::margin;
    struct Case {
        const char* line;
        std::vector<std::pair<int, std::string>> runs; // x, text
    };
    const Case cases[] = {
        {"Lap\t1\t0.12", {{origin, "Lap"}, {origin + metrics.tabStop, "1"}, {origin + 2 * metrics.tabStop, "0.12"}}},
        {"\tx", {{origin + metrics.tabStop, "x"}}},
        {"a\t\tb", {{origin, "a"}, {origin + 2 * metrics.tabStop, "b"}}},
    };
    int row = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        form.ClearText();
        form.AppendLines({c.line});
        const std::filesystem::path output = files.path / ("tabs" + std::to_string(++row) + ".ps");
        PrintView(output);
        const TPages pages = ReadPostScript(output);
        ASSERT_EQ(pages.size(), 1u);
        std::vector<std::pair<int, std::string>> runs;
        for (const TTextRun& run : pages[0])
            runs.emplace_back(run.x, run.text);
        EXPECT_EQ(runs, c.runs);
    }
}

TEST_F(DocumentWin32, AContextThatIsNoPrinterIsRefused) {
    struct Case {
        const char* name;
        HDC dc;
    };
    const Case cases[] = {
        {"no context", nullptr},
        {"a memory context", CreateCompatibleDC(nullptr)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            form.PrintOn(TPrinterDC(c.dc), (files.path / "none.ps").string());
            ADD_FAILURE() << "no error";
        } catch (const EPrinter& error) {
            EXPECT_EQ(error.Message, "Printer selected is not valid");
        }
    }
}

// Answers the font dialog once it is open: chooses the last face of its list and types a point
// size, as a user does, then presses OK; or presses Cancel.
struct TFontAnswer {
    std::string size; // empty: cancel
};
TFontAnswer fontAnswer;
std::string chosenFace;
void CALLBACK AnswerFontDialog(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND dialog = FindWindowA("#32770", "Font");
    if (!dialog)
        return;
    KillTimer(nullptr, timer);
    if (fontAnswer.size.empty()) {
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        return;
    }
    constexpr int faceBox = 0x470, sizeBox = 0x472; // cmb1 and cmb3 of the dialog's template
    const LRESULT last = SendDlgItemMessageA(dialog, faceBox, CB_GETCOUNT, 0, 0) - 1;
    SendDlgItemMessageA(dialog, faceBox, CB_SETCURSEL, static_cast<WPARAM>(last), 0);
    char face[LF_FACESIZE] = {};
    if (SendDlgItemMessageA(dialog, faceBox, CB_GETLBTEXTLEN, static_cast<WPARAM>(last), 0) < LF_FACESIZE)
        SendDlgItemMessageA(dialog, faceBox, CB_GETLBTEXT, static_cast<WPARAM>(last), reinterpret_cast<LPARAM>(face));
    chosenFace = face;
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(faceBox, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, faceBox)));
    SetDlgItemTextA(dialog, sizeBox, fontAnswer.size.c_str());
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(sizeBox, CBN_EDITCHANGE),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, sizeBox)));
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
}

TEST_F(DocumentWin32, TheFontDialogsChoiceGoesToTheViewAndToPaper) {
    const LOGFONTA first = ViewFont(form);
    const int twenty = -MulDiv(20, ScreenDpi(), 72);
    struct Case {
        const char* name;
        TFontAnswer answer;
        bool chosen; // the view has the face chosen last, or else its first one
        int height;  // of the view's font, screen pixels
    };
    const Case cases[] = {
        {"cancel keeps the font", {}, false, first.lfHeight},
        {"the list's last face at 20 points", {"20"}, true, twenty},
        {"cancel keeps the chosen one", {}, true, twenty},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fontAnswer = c.answer;
        SetTimer(nullptr, 0, 50, AnswerFontDialog);
        SendMessageA(form.Handle(), WM_COMMAND, ID_SET_FONT, 0);
        const LOGFONTA now = ViewFont(form);
        EXPECT_EQ(now.lfHeight, c.height);
        EXPECT_EQ(std::string(now.lfFaceName), c.chosen ? chosenFace : std::string(first.lfFaceName));
    }
    REQUIRE_PRINTER();
    form.AppendLines({"Lap 1"});
    const std::filesystem::path output = files.path / "font.ps";
    PrintView(output);
    EXPECT_NEAR(EmSize(output), 20 * 300.0 / 72, 1.0); // 20 points at the printer's 300 dpi
}

// Answers the Open dialog once it is open: types a name into its file name box (unless it is
// empty) and presses Open, or presses Cancel.
std::optional<std::string> typedName;
BOOL CALLBACK TypeIntoNameBox(HWND child, LPARAM) {
    char kind[16] = {};
    GetClassNameA(child, kind, sizeof kind);
    if (std::string(kind) != "Edit" || !IsWindowVisible(child))
        return TRUE;
    SetWindowTextA(child, typedName->c_str());
    return FALSE;
}
void CALLBACK AnswerOpenDialog(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND dialog = FindWindowA("#32770", "Open");
    if (!dialog)
        return;
    KillTimer(nullptr, timer);
    if (typedName && !typedName->empty())
        EnumChildWindows(dialog, TypeIntoNameBox, 0);
    PostMessageA(dialog, WM_COMMAND, typedName ? IDOK : IDCANCEL, 0);
}

TEST_F(DocumentWin32, TheOpenDialogAcceptsATypedNameAndStartsOnTheLastOne) {
    const std::string folder = files.path.string();
    std::ofstream(files.path / "session.txt") << "Lap 1\r\n";
    form.AddOpenPlace(folder);
    struct Case {
        const char* name;
        std::optional<std::string> typed; // empty: Open with what the dialog shows; nullopt: Cancel
        std::optional<std::string> chosen;
    };
    const Case cases[] = {
        {"a file that exists", folder + "\\session.txt", folder + "\\session.txt"},
        {"the name chosen last", "", folder + "\\session.txt"},
        {"a file that does not exist", folder + "\\missing.log", folder + "\\missing.log"},
        {"cancel", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        typedName = c.typed;
        SetTimer(nullptr, 0, 50, AnswerOpenDialog);
        EXPECT_EQ(form.ChooseFile(TFileDialog::open), c.chosen);
    }
}

TEST(AnsiFileName, NamesWithoutAnAnsiFormAreRefused) {
    struct Case {
        const wchar_t* name;
        std::optional<std::string> ansi;
    };
    std::vector<Case> cases = {
        {L"C:\\Tavro\\received\\2026-12-09.txt", "C:\\Tavro\\received\\2026-12-09.txt"},
        {L"", ""},
    };
    if (GetACP() == 1252) {
        cases.push_back({L"C:\\caf\u00e9.txt", "C:\\caf\xe9.txt"});
        // Best fit would make it "a": another name.
        cases.push_back({L"C:\\\u0101.txt", std::nullopt});
        cases.push_back({L"C:\\\u4e2d.txt", std::nullopt});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.ansi));
        EXPECT_EQ(AnsiFileName(c.name), c.ansi);
    }
}

} // namespace

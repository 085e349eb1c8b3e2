// SPDX-License-Identifier: MIT
// Printing, the font dialog and the Open dialog of the Win32 window. Printing goes to the
// PostScript printer that TAVRO_WINE_PRINTER names (scripts/wine-run's prefix has one), into a
// file whose pages and text are read back here.
#include "ApplicationWin32.h"
#include "Exceptions.h"
#include "FakeCommands.h"
#include "MainForm.h"
#include "OpenDialog.h"
#include "PrintLayout.h"
#include "Resource.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

// Text that the printer drew from one point: x and the baseline's y in device units.
struct TTextRun {
    int x = 0;
    int y = 0;
    std::string text;
    bool operator==(const TTextRun&) const = default;
};
using TPages = std::vector<std::vector<TTextRun>>;
void PrintTo(const TTextRun& run, std::ostream* os) {
    *os << run.x << "," << run.y << " '" << run.text << "'";
}

char GlyphChar(const std::string& name) {
    static const std::string names[] = {"zero",  "one",   "two",  "three", "four",   "five", "six",
                                        "seven", "eight", "nine", "space", "period", "colon"};
    const auto found = std::find(std::begin(names), std::end(names), name) - std::begin(names);
    return name.size() == 1 ? name[0]
           : found < 10     ? static_cast<char>('0' + found)
           : found < 13     ? " .:"[found - 10]
                            : '?';
}

// Wine's PostScript driver draws each piece of text as "x y moveto" and one "/name glyphshow"
// per character; a moveto that a lineto follows is a path. "[47 0 0 -47 0 0] makefont" gives
// the font's size, "x y width height rectclip" a clip.
struct TPostScript {
    TPages pages;
    int emSize = 0;
    std::vector<std::array<int, 4>> clips;
};

TPostScript ReadPostScript(const std::filesystem::path& file) {
    static const std::regex moveto(R"(^(-?\d+) (-?\d+) moveto\r?$)"), glyph(R"(^/(\S+) glyphshow\r?$)"),
        scale(R"(^\[(\d+) 0 0 -\d+ 0 0\]\r?$)"), clip(R"(^(\d+) (\d+) (\d+) (\d+) rectclip\r?$)");
    TPostScript read;
    std::optional<TTextRun> run;
    auto close = [&] {
        if (run && !run->text.empty() && !read.pages.empty())
            read.pages.back().push_back(*run);
        run.reset();
    };
    std::ifstream in(file, std::ios::binary);
    std::smatch match;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("%%Page: ")) {
            close();
            read.pages.emplace_back();
        } else if (std::regex_match(line, match, moveto)) {
            close();
            run = TTextRun{std::stoi(match[1]), std::stoi(match[2]), {}};
        } else if (std::regex_match(line, match, glyph) && run) {
            run->text += GlyphChar(match[1]);
        } else if (std::regex_match(line, match, scale) && read.emSize == 0) {
            read.emSize = std::stoi(match[1]);
        } else if (std::regex_match(line, match, clip)) {
            read.clips.push_back({std::stoi(match[1]), std::stoi(match[2]), std::stoi(match[3]), std::stoi(match[4])});
        } else if (line.find("lineto") != std::string::npos) {
            run.reset();
        }
    }
    close();
    return read;
}

int ScreenDpi() {
    const HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi;
}

LOGFONTA ViewFont(const TMainForm& form) {
    LOGFONTA font{};
    const HWND memo = FindWindowExA(form.Handle(), nullptr, "TavroTextView", nullptr);
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(memo, WM_GETFONT, 0, 0)), sizeof font, &font);
    return font;
}

// The view's font on the printer, measured on a context of the test's own.
struct TPrinterMetrics {
    int ascent = 0, height = 0, tabStop = 0, pageWidth = 0, pageHeight = 0;
};

TPrinterMetrics MeasurePrinter(const std::string& printer, LOGFONTA font) {
    const HDC dc = CreateDCA("WINSPOOL", printer.c_str(), nullptr, nullptr);
    font.lfHeight = MulDiv(font.lfHeight, GetDeviceCaps(dc, LOGPIXELSY), ScreenDpi());
    const HFONT made = CreateFontIndirectA(&font);
    const HGDIOBJ old = SelectObject(dc, made);
    TEXTMETRICA text{};
    GetTextMetricsA(dc, &text);
    const TPrinterMetrics metrics{text.tmAscent, text.tmHeight, TPrintLayout::tabStopChars * text.tmAveCharWidth,
                                  GetDeviceCaps(dc, HORZRES), GetDeviceCaps(dc, VERTRES)};
    SelectObject(dc, old);
    DeleteObject(made);
    DeleteDC(dc);
    return metrics;
}

class DocumentWin32 : public ::testing::Test {
protected:
    TWin32Application application;
    TMainForm form{application};
    TempDir files;
    std::string printer = std::getenv("TAVRO_WINE_PRINTER") ? std::getenv("TAVRO_WINE_PRINTER") : "";
    int printed = 0;

    void SetUp() override { form.Attach(std::make_unique<TFakeCommands>()); }

    // The view printed as the print command prints it, read back. Every job gets a new file:
    // Wine's driver overwrites an old one without cutting it short.
    TPostScript PrintView() {
        const std::filesystem::path output = files.path / (std::to_string(++printed) + ".ps");
        {
            const std::unique_ptr<TViewPrintJob> job =
                form.PrintOn(TPrinterDC(CreateDCA("WINSPOOL", printer.c_str(), nullptr, nullptr)), output.string());
            if (!job)
                return {};
            TPrintLayout layout(job->PageWidth(), job->PageHeight());
            for (int line = 0; line < form.LineCount(); ++line) {
                const TPrintLayout::TPlace place = layout.Next(job->LineHeight());
                if (place.newPage)
                    job->NewPage();
                job->DrawLine(line, place.rect);
            }
        }
        return ReadPostScript(output);
    }
};

#define REQUIRE_PRINTER()                                                                                              \
    ASSERT_FALSE(printer.empty()) << "TAVRO_WINE_PRINTER names no printer: run under scripts/wine-run"

TEST_F(DocumentWin32, PagesHoldEveryLineFromTheTopMarginWithTabsExpanded) {
    REQUIRE_PRINTER();
    const TPrinterMetrics metrics = MeasurePrinter(printer, ViewFont(form));
    // A line goes on a page only if its bottom stays strictly above the bottom margin.
    int perPage = 0;
    while (TPrintLayout::margin + (perPage + 1) * metrics.height < metrics.pageHeight - TPrintLayout::margin)
        ++perPage;
    ASSERT_GT(perPage, 10);
    auto numbered = [](int count) {
        std::vector<std::string> lines;
        for (int i = 1; i <= count; ++i)
            lines.push_back("Lap " + std::to_string(i) + ": 0.12.34");
        return lines;
    };
    const int left = TPrintLayout::margin, stop = metrics.tabStop, top = TPrintLayout::margin + metrics.ascent;
    struct Case {
        const char* name;
        std::vector<std::string> lines;
        int pages;
        std::vector<TTextRun> firstRuns; // of page 1; empty: one run per line at the left margin
    };
    const Case cases[] = {
        {"empty view: one empty page", {}, 1, {}},
        {"a full page", numbered(perPage), 1, {}},
        {"one line more", numbered(perPage + 1), 2, {}},
        {"two pages and one line", numbered(2 * perPage + 1), 3, {}},
        {"tabs", {"Lap\t1\t0.12"}, 1, {{left, top, "Lap"}, {left + stop, top, "1"}, {left + 2 * stop, top, "0.12"}}},
        {"a leading tab, two tabs",
         {"\tx", "a\t\tb"},
         1,
         {{left + stop, top, "x"}, {left, top + metrics.height, "a"}, {left + 2 * stop, top + metrics.height, "b"}}},
        {"an empty line takes its place", {"a", "", "b"}, 1, {{left, top, "a"}, {left, top + 2 * metrics.height, "b"}}},
        {"a line wider than the page", {std::string(400, 'W')}, 1, {{left, top, std::string(400, 'W')}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        form.ClearText();
        form.AppendLines(c.lines);
        const TPostScript read = PrintView();
        ASSERT_EQ(static_cast<int>(read.pages.size()), c.pages);
        // Each line drawn is cut at the right margin and just below its descenders.
        EXPECT_EQ(read.clips.empty(), c.lines.empty());
        for (const auto& clip : read.clips) {
            const std::array<int, 4> expected{left, clip[1], metrics.pageWidth - 2 * left, metrics.height + 4};
            EXPECT_EQ(clip, expected);
            EXPECT_EQ((clip[1] - TPrintLayout::margin) % metrics.height, 0);
        }
        if (!c.firstRuns.empty()) {
            EXPECT_EQ(read.pages[0], c.firstRuns);
            continue;
        }
        std::vector<TTextRun> expected, runs;
        for (const auto& page : read.pages) {
            runs.insert(runs.end(), page.begin(), page.end());
            for (std::size_t n = 0; n < page.size(); ++n)
                expected.push_back({left, top + static_cast<int>(n) * metrics.height, c.lines[expected.size()]});
        }
        EXPECT_EQ(runs, expected);
        if (!c.lines.empty()) { // the view's point size at the printer's 300 dpi
            EXPECT_NEAR(read.emSize, -ViewFont(form).lfHeight * 300.0 / ScreenDpi(), 1.0);
        }
    }
}

// Answers a dialog once it is open, from a timer: the font dialog gets the last face of its
// list and a typed point size, the Open dialog a typed name; nullopt presses Cancel, an empty
// text presses OK on what the dialog shows.
std::optional<std::string> typed;
std::string chosenFace;

BOOL CALLBACK TypeIntoNameBox(HWND child, LPARAM) {
    char kind[16] = {};
    GetClassNameA(child, kind, sizeof kind);
    if (std::string(kind) != "Edit" || !IsWindowVisible(child))
        return TRUE;
    SetWindowTextA(child, typed->c_str());
    return FALSE;
}

void Notify(HWND dialog, int control, WORD code) {
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(control, code), reinterpret_cast<LPARAM>(GetDlgItem(dialog, control)));
}

template <const char* title>
void CALLBACK AnswerDialog(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND dialog = FindWindowA("#32770", title);
    if (!dialog)
        return;
    KillTimer(nullptr, timer);
    constexpr int faceBox = 0x470, sizeBox = 0x472; // cmb1 and cmb3 of the font dialog
    if (typed && !typed->empty() && std::string(title) == "Font") {
        const LRESULT last = SendDlgItemMessageA(dialog, faceBox, CB_GETCOUNT, 0, 0) - 1;
        SendDlgItemMessageA(dialog, faceBox, CB_SETCURSEL, static_cast<WPARAM>(last), 0);
        Notify(dialog, faceBox, CBN_SELCHANGE);
        char face[256] = {};
        GetDlgItemTextA(dialog, faceBox, face, sizeof face);
        chosenFace = face;
        SetDlgItemTextA(dialog, sizeBox, typed->c_str());
        Notify(dialog, sizeBox, CBN_EDITCHANGE);
    } else if (typed && !typed->empty()) {
        EnumChildWindows(dialog, TypeIntoNameBox, 0);
    }
    PostMessageA(dialog, WM_COMMAND, typed ? IDOK : IDCANCEL, 0);
}
constexpr char fontTitle[] = "Font";
constexpr char openTitle[] = "Open";

TEST_F(DocumentWin32, TheFontDialogsChoiceGoesToTheViewAndToPaper) {
    const LOGFONTA first = ViewFont(form);
    const int twenty = -MulDiv(20, ScreenDpi(), 72);
    struct Case {
        const char* name;
        std::optional<std::string> size;
        bool chosen; // the view has the face chosen last, or else its first one
        int height;  // screen pixels
    };
    const Case cases[] = {
        {"cancel keeps the font", std::nullopt, false, first.lfHeight},
        {"the list's last face at 20 points", "20", true, twenty},
        {"cancel keeps the chosen one", std::nullopt, true, twenty},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        typed = c.size;
        SetTimer(nullptr, 0, 50, AnswerDialog<fontTitle>);
        SendMessageA(form.Handle(), WM_COMMAND, ID_SET_FONT, 0);
        EXPECT_EQ(ViewFont(form).lfHeight, c.height);
        EXPECT_EQ(std::string(ViewFont(form).lfFaceName), c.chosen ? chosenFace : std::string(first.lfFaceName));
    }
    REQUIRE_PRINTER();
    form.AppendLines({"Lap 1"});
    EXPECT_NEAR(PrintView().emSize, 20 * 300.0 / 72, 1.0); // 20 points at the printer's 300 dpi
}

TEST_F(DocumentWin32, TheOpenDialogAcceptsATypedNameAndStartsOnTheLastOne) {
    const std::string folder = files.path.string();
    std::ofstream(files.path / "session.txt") << "Lap 1\r\n";
    form.AddOpenPlace(folder);
    struct Case {
        const char* name;
        std::optional<std::string> typed;
        std::optional<std::string> chosen;
    };
    const Case cases[] = {
        {"a file that exists", folder + "\\session.txt", folder + "\\session.txt"},
        {"the name chosen last", "", folder + "\\session.txt"},
        {"a file that does not exist", folder + "\\missing.log", folder + "\\missing.log"},
        {"no extension is added", folder + "\\session", folder + "\\session"},
        {"cancel", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        typed = c.typed;
        SetTimer(nullptr, 0, 50, AnswerDialog<openTitle>);
        EXPECT_EQ(form.ChooseFile(TFileDialog::open), c.chosen);
    }
}

TEST(AnsiFileName, NamesWithoutAnAnsiFormAreRefused) {
    std::vector<std::pair<std::wstring, std::optional<std::string>>> cases = {
        {L"C:\\Tavro\\received\\2026-12-09.txt", "C:\\Tavro\\received\\2026-12-09.txt"},
        {L"", ""},
    };
    if (GetACP() == 1252) {
        cases.push_back({L"C:\\caf\u00e9.txt", "C:\\caf\xe9.txt"});
        cases.push_back({L"C:\\\u0101.txt", std::nullopt}); // best fit would make it "a": another name
        cases.push_back({L"C:\\\u4e2d.txt", std::nullopt});
    }
    for (const auto& [name, ansi] : cases)
        EXPECT_EQ(AnsiFileName(name), ansi) << testing::PrintToString(ansi);
}

} // namespace

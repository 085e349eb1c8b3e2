// SPDX-License-Identifier: MIT
#pragma once

#include <string>

// Places the text view's lines on printed pages, in printer device units of the printable area:
// margins of 100 at the left, right and top, lines one below the other from the top margin, and
// a line only on a page where its bottom stays strictly above the bottom margin. Nothing else is
// printed: no title, header, footer or page number.
struct TPrintRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

class TPrintLayout {
public:
    static constexpr int margin = 100;
    // Room below a line for the descenders of fonts that report them short.
    static constexpr int lineSlack = 4;
    // Tab stops every eight average character widths, as the text view's own tab expansion does.
    static constexpr int tabStopChars = 8;

    TPrintLayout(int pageWidth, int pageHeight) : pageWidth(pageWidth), pageHeight(pageHeight) {}

    struct TPlace {
        bool newPage = false; // start a new page before drawing this line
        TPrintRect rect;      // one line, top-aligned, cut at the right edge, never wrapped
    };
    // The place of the next line, `lineHeight` high.
    TPlace Next(int lineHeight);
    // 1 on the first page.
    int Page() const { return page; }

private:
    int pageWidth;
    int pageHeight;
    int page = 1;
    int line = 0; // on this page
};

// The progress dialog's text while page `page` is printed.
std::string PrintingPageText(int page);

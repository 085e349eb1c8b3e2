// SPDX-License-Identifier: MIT
#include "PrintLayout.h"

TPrintLayout::TPlace TPrintLayout::Next(int lineHeight) {
    TPlace place;
    int y = line * lineHeight + margin;
    if (y >= pageHeight - margin - lineHeight) {
        place.newPage = true;
        ++page;
        y = margin;
        line = 0;
    }
    place.rect = {margin, y, pageWidth - margin, y + lineHeight + lineSlack};
    ++line;
    return place;
}

std::string PrintingPageText(int page) {
    return "Printing page " + std::to_string(page);
}

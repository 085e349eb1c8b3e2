// SPDX-License-Identifier: MIT
// The Qt window's document commands: print, font, the clear button's state and exit (open and
// save as are in MainFormFiles.cpp; clear itself is the behaviour's).
#include "MainForm.h"

#include "Actions.h"
#include "Exceptions.h"
#include "LongWork.h"
#include "MemoText.h"
#include "PrintLayout.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextOption>

void TMainForm::actPrintExecute() {
    if (!PrintDialog1.Execute(this))
        return;
    QPrinter& printer = PrintDialog1.Printer();
    if (printer.outputFormat() == QPrinter::NativeFormat && printer.printerName().isEmpty())
        throw EPrinter("There is no default printer currently selected");
    if (!printer.isValid())
        throw EPrinter("Printer selected is not valid");

    // The view's font at the same point size on paper (the view's size is in screen pixels).
    QFont font = Memo1->font();
    if (font.pixelSize() > 0)
        font.setPointSizeF(font.pixelSize() * 72.0 / Memo1->logicalDpiY());
    printer.setDocName(QString());
    QPainter painter;
    if (!painter.begin(&printer))
        throw EPrinter("Printer selected is not valid");
    painter.setFont(font);
    // Paper is white whatever the desktop's theme; the view's own text colour is white or
    // light grey under a dark one.
    painter.setPen(fontColour.isValid() ? fontColour : QColor(Qt::black));

    const QFontMetrics metrics(font, &printer);
    QTextOption option(Qt::AlignLeft | Qt::AlignTop);
    option.setWrapMode(QTextOption::NoWrap);
    // Qt scales tab distances from the screen's resolution to the device's when it lays text
    // out, and its default stops end up far right of the page on a high-resolution printer
    // (everything after the first tab is clipped away). Give the stops in screen units, so
    // that the scaling lands them eight printer character widths apart.
    option.setTabStopDistance(TPrintLayout::tabStopChars * metrics.averageCharWidth() *
                              qreal(QFontMetrics(font).fontDpi()) / qreal(printer.logicalDpiX()));

    // Groups keep arriving while a long view prints, and the receivers wait for each to be
    // shown before they answer the timer: the work runs their calls between lines. A group
    // shown meanwhile is appended to the view, so it is printed too (the line count is read
    // again before every line), and the line printed next is looked up again by its number.
    TPrintLayout layout(printer.width(), printer.height());
    TLongWork work(this, PrintingPageText(layout.Page()), MemoLineCount(*Memo1));
    for (int line = 0; line < MemoLineCount(*Memo1); ++line) {
        const TPrintLayout::TPlace place = layout.Next(metrics.height());
        if (place.newPage) {
            printer.newPage();
            work.SetText(PrintingPageText(layout.Page()));
        }
        const QRect rect(QPoint(place.rect.left, place.rect.top), QPoint(place.rect.right, place.rect.bottom));
        painter.setClipRect(rect);
        painter.drawText(rect, Memo1->document()->findBlockByNumber(line).text(), option);
        work.SetMaximum(MemoLineCount(*Memo1));
        if (!work.Step(line + 1))
            break;
    }
    // A cancelled job ends as a whole document of the pages printed so far: a PDF file stays
    // valid, and a printer gets a job it can finish. (Qt's PDF and print system engines on
    // Linux cannot withdraw a job once begun.)
    painter.end();
}

void TMainForm::actSetFontExecute() {
    FontDialog1.Font = Memo1->font();
    if (!FontDialog1.Execute(this))
        return;
    Memo1->setFont(FontDialog1.Font);
}

void TMainForm::actClearUpdate(TAction& action) {
    action.setEnabled(behaviour->actClearUpdate());
}

void TMainForm::Exit1Click() {
    close();
}

// SPDX-License-Identifier: MIT
// The Qt window's document commands: the print job, font, the clear button's state and exit
// (open and save as are in MainFormFiles.cpp; the rules of print, clear, open and save as are
// the behaviour's).
#include "MainForm.h"

#include "Actions.h"
#include "Exceptions.h"
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

namespace {

class QtPrintJob : public TViewPrintJob {
public:
    QtPrintJob(QPrinter& printer, const QFont& font, const QColor& ink, const QTextDocument& document)
        : printer(printer), metrics(font, &printer), document(document) {
        printer.setDocName(QString());
        if (!painter.begin(&printer))
            throw EPrinter("Printer selected is not valid");
        painter.setFont(font);
        painter.setPen(ink);
        option.setAlignment(Qt::AlignLeft | Qt::AlignTop);
        option.setWrapMode(QTextOption::NoWrap);
        // Qt scales tab distances from the screen's resolution to the device's when it lays
        // text out, and its default stops end up far right of the page on a high-resolution
        // printer (everything after the first tab is clipped away). Give the stops in screen
        // units, so that the scaling lands them eight printer character widths apart.
        option.setTabStopDistance(TPrintLayout::tabStopChars * metrics.averageCharWidth() *
                                  qreal(QFontMetrics(font).fontDpi()) / qreal(printer.logicalDpiX()));
    }
    // A cancelled job ends as a whole document of the pages printed so far: a PDF file stays
    // valid, and a printer gets a job it can finish. (Qt's PDF and print system engines on
    // Linux cannot withdraw a job once begun.)
    ~QtPrintJob() override { painter.end(); }

    int PageWidth() const override { return printer.width(); }
    int PageHeight() const override { return printer.height(); }
    int LineHeight() const override { return metrics.height(); }
    void NewPage() override { printer.newPage(); }
    void DrawLine(int line, const TPrintRect& place) override {
        const QRect rect(QPoint(place.left, place.top), QPoint(place.right, place.bottom));
        painter.setClipRect(rect);
        painter.drawText(rect, document.findBlockByNumber(line).text(), option);
    }

private:
    QPrinter& printer;
    QPainter painter;
    const QFontMetrics metrics;
    QTextOption option;
    const QTextDocument& document;
};

} // namespace

std::unique_ptr<TViewPrintJob> TMainForm::BeginPrint() {
    if (!PrintDialog1.Execute(this))
        return nullptr;
    QPrinter& printer = PrintDialog1.Printer();
    if (printer.outputFormat() == QPrinter::NativeFormat && printer.printerName().isEmpty())
        throw EPrinter("There is no default printer currently selected");
    if (!printer.isValid())
        throw EPrinter("Printer selected is not valid");
    // The view's font at the same point size on paper (the view's size is in screen pixels).
    QFont font = Memo1->font();
    if (font.pixelSize() > 0)
        font.setPointSizeF(font.pixelSize() * 72.0 / Memo1->logicalDpiY());
    // Paper is white whatever the desktop's theme; the view's own text colour is white or
    // light grey under a dark one.
    return std::make_unique<QtPrintJob>(printer, font, fontColour.isValid() ? fontColour : QColor(Qt::black),
                                        *Memo1->document());
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

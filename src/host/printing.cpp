#include "host/printing.h"

#include <QDir>
#include <QGuiApplication>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPicture>
#include <QPrinter>
#include <QPrinterInfo>
#include <QScreen>
#include <cstdio>
#include <memory>

#include "host/forms.h"
#include "host/sysutils.h"

namespace tav {

namespace {

std::unique_ptr<QPrinter>& Instance() {
    static std::unique_ptr<QPrinter> printer;
    return printer;
}

}  // namespace

QPrinter& Printer() {
    auto& printer = Instance();
    if (!printer) {
        printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        // Without a configured printer the output goes to a PDF file in the working folder.
        if (QPrinterInfo::availablePrinters().isEmpty()) {
            printer->setOutputFormat(QPrinter::PdfFormat);
            printer->setOutputFileName(QDir::current().filePath("tav-print.pdf"));
        }
    }
    return *printer;
}

void SetPrinterOutputFile(const std::string& path) {
    QPrinter& printer = Printer();
    if (path.empty()) {
        Instance().reset();
        Printer();
        return;
    }
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(path));
}

bool PrinterSetupDialog(QWidget* parent) {
    QPageSetupDialog dialog(&Printer(), parent);
    dialog.setObjectName("PrinterSetupDialog1");
    return ShowModal(&dialog) == QDialog::Accepted;
}

void PrintForm(QWidget* form, TPrintScale scale) {
    // The window paints itself onto the printer (text stays text, lines stay lines) in a
    // coordinate system of the window's own resolution, so that its fonts keep their size
    // against its layout; the printer's resolution only sets the "one pixel" of poNone.
    QPrinter& printer = Printer();
    const int deviceResolution = printer.resolution();
    const int windowResolution = form->logicalDpiY();

    printer.setResolution(windowResolution);
    struct TRestore {
        QPrinter& printer;
        int resolution;
        ~TRestore() { printer.setResolution(resolution); }
    } restore{printer, deviceResolution};

    QPainter painter;
    if (!painter.begin(&printer))
        throw Exception(printer.outputFileName().isEmpty()
                            ? "The printer cannot be opened"
                            : "Cannot write '" + printer.outputFileName().toStdString() + "'");
    const QRectF page = printer.pageLayout().paintRectPixels(windowResolution);
    const QSizeF size = form->size();
    double factor = 1.0;
    switch (scale) {
        case TPrintScale::poNone:
            factor = static_cast<double>(windowResolution) / deviceResolution;
            break;
        case TPrintScale::poProportional:
            // The same physical size as on the screen.
            factor = 1.0;
            break;
        case TPrintScale::poPrintToFit:
            factor = std::min(page.width() / size.width(), page.height() / size.height());
            break;
    }
    // Whatever the scale, the window stays on one page.
    factor = std::min({factor, page.width() / size.width(), page.height() / size.height()});
    // Rendered straight onto a printer, a widget would paint into a pixmap first; recorded as a
    // picture, it keeps its drawing commands.
    QPicture picture;
    {
        QPainter recorder(&picture);
        form->render(&recorder, QPoint(), QRegion(),
                     QWidget::DrawWindowBackground | QWidget::DrawChildren);
    }
    painter.scale(factor, factor);
    painter.drawPicture(0, 0, picture);
    painter.end();
}

}  // namespace tav

#include "host/printing.h"

#include <QDir>
#include <QGuiApplication>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPixmap>
#include <QPrinter>
#include <QPrinterInfo>
#include <QScreen>
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
    const QPixmap image = form->grab();
    QPrinter& printer = Printer();
    QPainter painter;
    if (!painter.begin(&printer)) throw Exception("The printer cannot be opened");
    const QRect page = printer.pageLayout().paintRectPixels(printer.resolution());
    const QSizeF size = image.size() / image.devicePixelRatio();
    double factor = 1.0;
    switch (scale) {
        case TPrintScale::poNone:
            factor = 1.0;
            break;
        case TPrintScale::poProportional: {
            // The same physical size as on the screen.
            const QScreen* screen = QGuiApplication::primaryScreen();
            const double screenDpi = screen ? screen->logicalDotsPerInch() : 96.0;
            factor = printer.resolution() / screenDpi;
            break;
        }
        case TPrintScale::poPrintToFit:
            factor = std::min(page.width() / size.width(), page.height() / size.height());
            break;
    }
    // Whatever the scale, the image stays on one page.
    factor = std::min({factor, page.width() / size.width(), page.height() / size.height()});
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(QRectF(0, 0, size.width() * factor, size.height() * factor), image,
                       QRectF(image.rect()));
    painter.end();
}

}  // namespace tav

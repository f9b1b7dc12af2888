#include "tav/printing.h"

#include <QBuffer>
#include <QDir>
#include <QGuiApplication>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPdfWriter>
#include <QPicture>
#include <QPrinter>
#include <QPrinterInfo>
#include <QScreen>
#include <cstdio>
#include <memory>

#include "tav/forms.h"
#include "tav/outputfiles.h"
#include "tav/sysutils.h"

namespace tav {

namespace {

std::unique_ptr<QPrinter>& Instance() {
    static std::unique_ptr<QPrinter> printer;
    return printer;
}

TPdfSink& Sink() {
    static TPdfSink sink;
    return sink;
}

// Paints the image of `form` on one page of `device`, a printer or a PDF writer.
template <class TDevice>
void Paint(TDevice& device, QWidget* form, TPrintScale scale, const std::string& failure) {
    // The window paints itself onto the device (text stays text, lines stay lines) in a
    // coordinate system of the window's own resolution, so that its fonts keep their size
    // against its layout; the device's resolution only sets the "one pixel" of poNone.
    const int deviceResolution = device.resolution();
    const int windowResolution = form->logicalDpiY();

    device.setResolution(windowResolution);
    struct TRestore {
        TDevice& device;
        int resolution;
        ~TRestore() { device.setResolution(resolution); }
    } restore{device, deviceResolution};

    QPainter painter;
    if (!painter.begin(&device)) throw Exception(failure);
    const QRectF page = device.pageLayout().paintRectPixels(windowResolution);
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
    if (!painter.end()) throw Exception(failure);
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
    Sink() = nullptr;
    QPrinter& printer = Printer();
    if (path.empty()) {
        Instance().reset();
        Printer();
        return;
    }
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(path));
}

void SetPrinterOutput(TPdfSink sink) {
    if (!sink) SetPrinterOutputFile("");
    Sink() = std::move(sink);
}

bool PrinterSetupDialog(QWidget* parent) {
    QPageSetupDialog dialog(&Printer(), parent);
    dialog.setObjectName("PrinterSetupDialog1");
    return ShowModal(&dialog) == QDialog::Accepted;
}

void PrintForm(QWidget* form, TPrintScale scale) {
    QPrinter& printer = Printer();
    const QString file = printer.outputFileName();
    if (!Sink() && (printer.outputFormat() != QPrinter::PdfFormat || file.isEmpty())) {
        Paint(printer, form, scale,
              file.isEmpty() ? "The printer cannot be opened"
                             : "Cannot write '" + file.toStdString() + "'");
        return;
    }
    // The document is made in memory, on the printer's page and resolution, and written by the
    // one writer of files.
    QBuffer buffer;
    if (!buffer.open(QIODevice::WriteOnly)) throw Exception("The PDF document cannot be made");
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(printer.resolution());
        if (!writer.setPageLayout(printer.pageLayout()))
            throw Exception("The printer's page does not suit a PDF document");
        Paint(writer, form, scale, "The PDF document cannot be made");
    }
    const QByteArray pdf = buffer.data();
    if (!pdf.trimmed().endsWith("%%EOF")) throw Exception("The PDF document was not completed");
    if (const TPdfSink sink = Sink())
        sink(pdf);
    else
        WriteFileWhole(file, pdf);
}

}  // namespace tav

#include "pages.h"

#include <QDir>
#include <QFileInfo>
#include <exception>

#include "tav/forms.h"
#include "tav/printing.h"
#include "tav/sysutils.h"
#include "tav/tavoutpt.h"
#include "tav/tavreport.h"

namespace tavreg {

std::string ReportText(tav::TTAVRegression& reg) {
    const tav::TReportPage page =
        tav::MakeReportPage(reg.BuildReport(), tav::ReportDataSetName(reg), reg.Description(),
                            tav::DateTimeToStr(tav::Now()), reg.ReportMessage());
    return tav::ReportPageText(page);
}

QString PdfName(const std::string& file, const std::string& name, bool several) {
    const QString f = QString::fromStdString(file);
    if (!several) return f;
    const QFileInfo info(f);
    const QString suffix = info.suffix().isEmpty() ? QString("pdf") : info.suffix();
    return info.dir().filePath(info.completeBaseName() + "-" + QString::fromStdString(name) + "." +
                               suffix);
}

void PrintPdf(tav::TTAVRegression& reg, const QString& pdf, tav::TOutputFiles& files) {
    struct TRestorePrinter {
        ~TRestorePrinter() { tav::SetPrinterOutput(nullptr); }
    } restore;
    ActOnWindows([&] { reg.Output(); },
                 [&](QDialog* dialog) {
                     if (auto* form = dynamic_cast<tav::TRegressionOutputForm*>(dialog)) {
                         files.MakeFolder(QFileInfo(pdf).absolutePath(), "--pdf");
                         tav::SetPrinterOutput([&files, pdf](const QByteArray& bytes) {
                             files.Write(pdf, "--pdf", bytes);
                         });
                         form->Print1Click();
                     }
                 });
}

void ActOnWindows(const std::function<void()>& show, const std::function<void(QDialog*)>& act) {
    std::exception_ptr failure;
    struct TRestoreHook {
        tav::TModalHook previous;
        ~TRestoreHook() { tav::SetModalHook(previous); }
    } restore{tav::SetModalHook([&](QDialog* dialog) {
        try {
            act(dialog);
        } catch (...) {
            failure = std::current_exception();
        }
    })};
    show();
    if (failure) std::rethrow_exception(failure);
}

}  // namespace tavreg

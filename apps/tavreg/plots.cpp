#include "plots.h"

#include <QBuffer>
#include <QDir>

#include "forms/diagplots.h"
#include "forms/tavplot.h"
#include "pages.h"

namespace tavreg {

namespace {

void SavePlots(tav::TTAVPlotForm& form, const QString& dir, const QString& prefix, int m,
               tav::TOutputFiles& files) {
    files.MakeFolder(dir, "--plots");
    auto save = [&](const QString& name) {
        const QString path = QDir(dir).filePath(prefix + name + ".png");
        QByteArray png;
        QBuffer buffer(&png);
        if (!buffer.open(QIODevice::WriteOnly) || !form.grab().save(&buffer, "PNG"))
            throw tav::Exception("Cannot make the picture '" + path.toStdString() + "'");
        files.Write(path, "--plots", png);
    };
    for (int k = 1; k <= m; ++k) {
        form.ScatterItemClick(k);
        save(QString("scatter-X%1").arg(k));
        form.ResidualItemClick(k);
        save(QString("residual-X%1").arg(k));
    }
    form.ResidualvsInputBtnClick();
    save("residual-input-order");
    form.ResidualvsDepVarBtnClick();
    save("residual-response");
    form.ResidualvsFittedBtnClick();
    save("residual-fitted");
    form.ECDFPlotBtnClick();
    save("ecdf");
}

}  // namespace

void DeclareClassicPlots(const QString& dir, const QString& prefix, tav::TOutputFiles& files) {
    // The pictures of each control variable are known once the variables are loaded.
    for (const char* name :
         {"residual-input-order", "residual-response", "residual-fitted", "ecdf"})
        files.Declare(QDir(dir).filePath(prefix + name + ".png"), "--plots");
}

void SaveClassicPlots(tav::TTAVRegression& reg, const QString& dir, const QString& prefix,
                      tav::TOutputFiles& files) {
    ActOnWindows([&] { reg.ShowPlots(); },
                 [&](QDialog* dialog) {
                     if (auto* plot = dynamic_cast<tav::TTAVPlotForm*>(dialog))
                         SavePlots(*plot, dir, prefix, reg.VarCount(), files);
                 });
}

// ---------------------------------------------------------------- the diagnostic plots

namespace {

QString DiagnosticPath(const QString& dir, const QString& prefix, tav::TDiagnosticPlot kind,
                       const QString& extension) {
    return QDir(dir).filePath(prefix + tav::DiagnosticPlotFileName(kind) + "." + extension);
}

}  // namespace

void DeclareDiagnostics(const QString& dir, const QString& prefix, tav::TOutputFiles& files) {
    for (const tav::TDiagnosticPlot kind : tav::kDiagnosticPlots)
        for (const QString extension : {"png", "svg"})
            files.Declare(DiagnosticPath(dir, prefix, kind, extension), "--diagnostics");
}

void SaveDiagnostics(const tav::TTAVRegression& reg, const QString& dir, const QString& prefix,
                     tav::TOutputFiles& files) {
    files.MakeFolder(dir, "--diagnostics");
    for (const tav::TDiagnosticPlot kind : tav::kDiagnosticPlots) {
        for (const QString extension : {"png", "svg"}) {
            const QString path = DiagnosticPath(dir, prefix, kind, extension);
            const QByteArray bytes =
                extension == "png" ? tav::DiagnosticPng(reg, kind) : tav::DiagnosticSvg(reg, kind);
            if (bytes.isEmpty())
                throw tav::Exception("Cannot make the picture '" + path.toStdString() + "'");
            files.Write(path, "--diagnostics", bytes);
        }
    }
}

}  // namespace tavreg

#include "plots.h"

#include <QBuffer>
#include <QDir>
#include <QImage>

#include "pages.h"
#include "tav/diagplots.h"
#include "tav/tavplot.h"

namespace tavreg {

namespace {

// The classic plots drawn once per fit, not per control variable.
constexpr tav::TClassicPlot kOverall[] = {
    tav::TClassicPlot::ResidualVsInputOrder, tav::TClassicPlot::ResidualVsResponse,
    tav::TClassicPlot::ResidualVsFitted, tav::TClassicPlot::ECDF};

// Every classic plot of the plot window `form` as a PNG of the window's picture, in the folder
// `dir`: a scatter and a residual plot per control variable (of `m`), and the other four.
void SavePlots(tav::TTAVPlotForm& form, const QString& dir, const QString& prefix, int m,
               tav::TOutputFiles& files) {
    files.MakeFolder(dir, "--plots");
    auto save = [&](tav::TClassicPlot kind, uint16_t variable) {
        const QString path =
            QDir(dir).filePath(prefix + tav::ClassicPlotFileName(kind, variable) + ".png");
        QImage picture(form.size(), QImage::Format_RGB32);
        form.Render(kind, variable, picture);
        QByteArray png;
        QBuffer buffer(&png);
        if (!buffer.open(QIODevice::WriteOnly) || !picture.save(&buffer, "PNG"))
            throw tav::Exception("Cannot make the picture '" + path.toStdString() + "'");
        files.Write(path, "--plots", png);
    };
    for (uint16_t k = 1; k <= m; ++k) {
        save(tav::TClassicPlot::Scatter, k);
        save(tav::TClassicPlot::ResidualVsVariable, k);
    }
    for (const tav::TClassicPlot kind : kOverall) save(kind, 0);
}

}  // namespace

void DeclareClassicPlots(const QString& dir, const QString& prefix, tav::TOutputFiles& files) {
    // The pictures of each control variable are known once the variables are loaded.
    for (const tav::TClassicPlot kind : kOverall)
        files.Declare(QDir(dir).filePath(prefix + tav::ClassicPlotFileName(kind, 0) + ".png"),
                      "--plots");
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

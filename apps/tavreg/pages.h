// The pages of the classic report as tavreg writes them: as text, and printed to PDF through the
// report window; and how tavreg acts on a window in place of a user.
#pragma once

#include <QString>
#include <functional>
#include <string>

#include "tav/outputfiles.h"
#include "tav/tavcore.h"

class QDialog;

namespace tavreg {

// The report page of the last Execute of `reg` as plain text, dated now.
std::string ReportText(tav::TTAVRegression& reg);

// The PDF file of the component `name`: `file` itself, or with several regressions
// BASE-name.SUFFIX beside it.
QString PdfName(const std::string& file, const std::string& name, bool several);

// Prints the report window's page of `reg` to the PDF file `pdf`.
void PrintPdf(tav::TTAVRegression& reg, const QString& pdf, tav::TOutputFiles& files);

// Runs `show`, which shows windows modally, with `act` acting on each window shown; the window
// closes when `act` returns. What `act` raises is carried out of the window's show and raised
// again when `show` returns: an exception never unwinds through a window.
void ActOnWindows(const std::function<void()>& show, const std::function<void(QDialog*)>& act);

}  // namespace tavreg

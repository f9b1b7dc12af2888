// The process's one printer, and printing a window's image with a print scale.
#pragma once

#include <QByteArray>
#include <functional>
#include <string>

class QPrinter;
class QWidget;

namespace tav {

// How a window's image is laid on the page: one window pixel per printer pixel, the window's
// size on screen, or as large as the page allows (proportions kept).
enum class TPrintScale { poNone, poProportional, poPrintToFit };

// The process's printer, created on first use (a PDF file printer when no other output is set).
QPrinter& Printer();

// Sends the printer's output to a PDF file, written whole or not at all (WriteFileWhole); an
// empty path restores the default printer.
void SetPrinterOutputFile(const std::string& path);

// Hands each printed PDF document to `sink` as bytes, for a writer that commits several files
// together; an empty sink restores the default printer. What the sink raises leaves PrintForm.
using TPdfSink = std::function<void(const QByteArray& pdf)>;
void SetPrinterOutput(TPdfSink sink);

// The printer set-up dialog; returns true when the user accepted it. A modal hook (tests,
// headless runs) receives the dialog like any other modal window.
bool PrinterSetupDialog(QWidget* parent);

// Prints the image of `form` on one page of the printer with the given scale. A PDF is made in
// memory and then written (Qt's printer, writing the file itself, neither reports a full disk
// nor refuses a device node); a document that does not end as a PDF does is an error.
void PrintForm(QWidget* form, TPrintScale scale);

}  // namespace tav

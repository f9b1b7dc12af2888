// TAnalysisMatrix: the matrix window that enlarges the covariance or correlation matrix of a
// report. Created and freed by the output window's Zoom command.
#pragma once

#include <QDialog>
#include <string>

#include "tav/classes.h"

class QPlainTextEdit;
class QPushButton;

namespace tav {

class THeaderControl;
class TPanel;

class TAnalysisMatrix : public QDialog {
  public:
    explicit TAnalysisMatrix(QWidget* parent = nullptr);

    // Shows the matrix lines (the title line replaced by a blank: the title stands in the header)
    // with the title and description in the header and the footer, cut to 78 characters plus
    // "...", in the status strip; returns when the window is closed.
    void Open(const TStringList& Lines, const std::string& Title, const std::string& Descr,
              const std::string& Footer);
    void BitBtn1Click();

  private:
    THeaderControl* header1_;
    QPlainTextEdit* memo1_;
    QPushButton* bitBtn1_;
    TPanel* panel2_;
};

}  // namespace tav

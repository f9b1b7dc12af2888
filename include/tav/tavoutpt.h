// TRegressionOutputForm: the modal report window of a regression component.
//
// Output creates it, hands it the ready-made report texts and waits until the user closes it. The
// window keeps its own copies of the two matrix line lists, switches and enlarges the matrices,
// prints the page and opens the plot window through the component.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "tav/classes.h"
#include "tav/printing.h"
#include "tav/tavreport.h"

class QLabel;
class QMenu;
class QAction;
class QPlainTextEdit;
class QPushButton;

namespace tav {

class TTAVRegression;
class THeaderControl;
class TPanel;

// The window: Open fills it with the report texts and runs its modal loop.
class TRegressionOutputForm : public QDialog {
  public:
    explicit TRegressionOutputForm(QWidget* parent = nullptr);
    ~TRegressionOutputForm() override;

    // A non-empty message replaces the default notice of the status strip.
    void SetReportMessage(const std::string& message);

    // Fills the window and shows it modally; returns when it is closed. The lists are copied.
    void Open(TTAVRegression& InputData, const std::string& Description, const std::string& DepVar,
              const std::string& IndepVars, const std::string& DataCount, const std::string& DOF,
              const std::string& Coeffs, const std::string& SSquared, const std::string& SSE,
              const std::string& SSR, const std::string& Means, const std::string& StdDevs,
              const std::string& StdErrs, const std::string& TValues, const std::string& FStat,
              const TStringList& Covariance, const TStringList& Correlation);

    // Event handlers.
    void bbtnShowMatrixClick();
    void bbtnPrintFormClick();
    void bbtnPlotsClick();
    void bbtnCloseClick();
    void Covariance1Click();
    void Correlation1Click();
    void Zoom1Click();
    void Setup1Click();
    void Print1Click();
    void NoScaling1Click() { printScale_ = TPrintScale::poNone; }
    void Proportional1Click() { printScale_ = TPrintScale::poProportional; }
    void ToFit1Click() { printScale_ = TPrintScale::poPrintToFit; }

    TPrintScale PrintScale() const { return printScale_; }
    const std::string& VisibleMatrix() const { return visibleMatrix_; }
    int MatrixSize() const { return matrixSize_; }
    // The dataset name shown in the header: a query's first SQL line, a table's name.
    const std::string& DataSetName() const { return dataSetName_; }
    QMenu* MatrixPopup() const { return matrixPopup_; }
    QMenu* PrintPopup() const { return printPopup_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    QLabel* MakeLabel(const char* name, int x, int y, int w, int h, const QString& text);
    void ShowLines(const TStringList& lines);
    void ReleaseLines();

    TTAVRegression* inputData_ = nullptr;
    std::string description_;
    std::string dataSetName_;
    TStringList covarianceLines_;
    TStringList correlationLines_;
    std::string visibleMatrix_;
    int matrixSize_ = 0;
    TPrintScale printScale_ = TPrintScale::poProportional;

    TPanel* topPanel_;
    THeaderControl* header1_;
    QWidget* panel1_;
    TPanel* panel2_;
    std::vector<QLabel*> reportLabels_;
    QLabel* labDepVarName_;
    QLabel* labIndepVarNames_;
    QLabel* labDataCount_;
    QLabel* labDOF_;
    QLabel* labMean_;
    QLabel* labStdDev_;
    QLabel* labCoeffs_;
    QLabel* labStdErrCoeff_;
    QLabel* labtValue_;
    QLabel* labSumSquare_;
    QLabel* labSSR_;
    QLabel* labSSE_;
    QLabel* labSST_;
    QLabel* labsSquared_;
    QLabel* labRsqr_;
    QLabel* labFStat_;
    QPlainTextEdit* matrix_;
    QPushButton* bbtnPrintForm_;
    QPushButton* bbtnPlots_;
    QPushButton* bbtnShowMatrix_;
    QPushButton* bbtnClose_;
    QMenu* matrixPopup_;
    QMenu* printPopup_;
};

}  // namespace tav

#include "tav/tavoutpt.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <limits>

#include "forms/matrxdlg.h"
#include "tav/forms.h"
#include "tav/messages.h"
#include "tav/qtstrings.h"
#include "tav/sysutils.h"
#include "tav/tavquery.h"
#include "tav/tavtable.h"

namespace tav {

namespace {

// A text as the window shows it: the stored line breaks made ordinary ones.
QString Shown(const std::string& s) { return Q(DisplayText(s)); }

// The point just above (or below, for a positive offset) a button, from the form's outer
// position, where its popup menu opens.
QPoint PopupPoint(const QWidget* form, const QWidget* button, bool above) {
    const QRect frame = form->frameGeometry();
    const int x = frame.left() + button->x() + button->width() / 2;
    const int y = frame.top() + button->y() + (above ? -button->height() : button->height());
    return {x, y};
}

}  // namespace

TRegressionOutputForm::TRegressionOutputForm(QWidget* parent) : QDialog(parent) {
    setObjectName("RegressionOutputForm");
    setWindowTitle("Multiple Regression Analysis Report");
    setFixedSize(486, 451);

    topPanel_ = new TPanel(this);
    topPanel_->setObjectName("TopPanel");
    topPanel_->setGeometry(0, 0, 486, 25);
    topPanel_->SetBevelOuter(TPanel::TBevel::bvNone);
    header1_ = new THeaderControl(topPanel_);
    header1_->setObjectName("Header1");
    header1_->setGeometry(0, 0, 486, 25);
    QFont headerFont("Arial", 9);
    headerFont.setBold(true);
    header1_->setFont(headerFont);
    header1_->AddSection("Dataset Name", 89);
    header1_->AddSection("Problem Description", 122);
    header1_->AddSection("Date and Time", 89);

    auto* page = new QFrame(this);
    page->setObjectName("Panel1");
    page->setGeometry(5, 30, 475, 370);
    page->setFrameStyle(QFrame::Box | QFrame::Plain);
    page->setAutoFillBackground(true);
    QPalette white = page->palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::Base, Qt::white);
    white.setColor(QPalette::WindowText, Qt::black);
    page->setPalette(white);
    page->setFont(QFont("Arial", 8));
    panel1_ = page;

    labDepVarName_ = MakeLabel("labDepVarName", 4, 0, 210, 31, "Dependent Variable ");
    labIndepVarNames_ = MakeLabel("labIndepVarNames", 213, 0, 240, 125, "Independent Variables ");
    labDataCount_ = MakeLabel("labDataCount", 2, 29, 210, 15, "Data Count");
    labDOF_ = MakeLabel("labDOF", 2, 45, 210, 68, "DOF");
    labMean_ = MakeLabel("labMean", 2, 106, 98, 147, "Mean");
    labStdDev_ = MakeLabel("labStdDev", 104, 106, 98, 147, "Std. Dev.");
    labCoeffs_ = MakeLabel("labCoeffs", 213, 130, 95, 129, "Regression Coefficients");
    labStdErrCoeff_ = MakeLabel("labStdErrCoeff", 309, 130, 98, 137, "Std Error");
    labtValue_ = MakeLabel("labtValue", 397, 130, 70, 135, "t* value");
    labSumSquare_ = MakeLabel("labSumSquare", 4, 251, 134, 14, "Sum of Squares");
    labSSR_ = MakeLabel("labSSR", 16, 266, 196, 14, "SSR:");
    labSSE_ = MakeLabel("labSSE", 16, 280, 196, 14, "SSE:");
    labSST_ = MakeLabel("labSST", 16, 295, 196, 14, "SST:");
    labsSquared_ = MakeLabel("labsSquared", 4, 315, 208, 14, "s  :");
    labRsqr_ = MakeLabel("labRsqr", 4, 335, 208, 14, "R  :");
    labFStat_ = MakeLabel("labFStat", 4, 350, 208, 17, "FStat:");
    // The small "2" exponents of s and R stay out of the font-size rule.
    for (auto [name, y] : {std::pair{"Label1", 312}, std::pair{"labSquared1", 328}}) {
        auto* two = new QLabel("2", page);
        two->setObjectName(name);
        two->setGeometry(10, y, 4, 10);
        QFont small("Arial");
        small.setPixelSize(8);
        two->setFont(small);
        two->setAttribute(Qt::WA_TranslucentBackground);
    }

    matrix_ = new QPlainTextEdit(page);
    matrix_->setObjectName("Matrix");
    matrix_->setGeometry(228, 266, 231, 97);
    matrix_->setFrameShape(QFrame::NoFrame);
    matrix_->setReadOnly(true);
    matrix_->setLineWrapMode(QPlainTextEdit::NoWrap);
    matrix_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    matrix_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    matrix_->setFont(QFont("Arial", 7));
    matrix_->setPalette(white);
    matrix_->setPlainText("Matrix");

    panel2_ = new TPanel(this);
    panel2_->setObjectName("Panel2");
    panel2_->setGeometry(0, 451 - 17, 486, 17);
    panel2_->SetBevelInner(TPanel::TBevel::bvLowered);
    panel2_->SetBevelOuter(TPanel::TBevel::bvRaised);
    panel2_->SetAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    panel2_->setFont(QFont("Arial", 8));
    QPalette maroon = panel2_->palette();
    maroon.setColor(QPalette::WindowText, QColor(128, 0, 0));
    panel2_->setPalette(maroon);
    panel2_->SetCaption(kProductNotice);

    auto makeButton = [this](const char* name, const QString& text, int left) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(name);
        b->setGeometry(left, 402, 87, 28);
        b->setFont(QFont("Arial", 8));
        b->setAutoDefault(false);
        return b;
    };
    bbtnPrintForm_ = makeButton("bbtnPrintForm", "&Print", 39);
    bbtnPlots_ = makeButton("bbtnPlots", "&Plots", 146);
    bbtnShowMatrix_ = makeButton("bbtnShowMatrix", "&Matrix", 252);
    bbtnClose_ = makeButton("bbtnClose", "&Close", 359);
    bbtnClose_->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));

    auto action = [this](QMenu* menu, const char* name, const QString& text, auto handler) {
        QAction* a = menu->addAction(text);
        a->setObjectName(name);
        connect(a, &QAction::triggered, this,
                [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
        return a;
    };
    matrixPopup_ = new QMenu(this);
    matrixPopup_->setObjectName("MatrixPopup");
    action(matrixPopup_, "Covariance1", "Co&variance", &TRegressionOutputForm::Covariance1Click);
    action(matrixPopup_, "Correlation1", "Cor&relation", &TRegressionOutputForm::Correlation1Click);
    matrixPopup_->addSeparator();
    action(matrixPopup_, "Zoom1", "&Zoom...", &TRegressionOutputForm::Zoom1Click);

    printPopup_ = new QMenu(this);
    printPopup_->setObjectName("PrintPopup");
    QMenu* size = printPopup_->addMenu("S&caling");
    size->setObjectName("Size1");
    size->menuAction()->setObjectName("Size1");
    action(size, "NoScaling1", "&None", &TRegressionOutputForm::NoScaling1Click);
    action(size, "Proportional1", "&Proportional", &TRegressionOutputForm::Proportional1Click);
    action(size, "ToFit1", "To &Fit", &TRegressionOutputForm::ToFit1Click);
    action(printPopup_, "Setup1", "&Setup...", &TRegressionOutputForm::Setup1Click);
    printPopup_->addSeparator();
    action(printPopup_, "Print1", "&Print", &TRegressionOutputForm::Print1Click);

    matrix_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(matrix_, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        matrixPopup_->popup(matrix_->viewport()->mapToGlobal(pos));
    });
    for (QPushButton* b : {bbtnPrintForm_, bbtnPlots_}) {
        b->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(b, &QWidget::customContextMenuRequested, this,
                [this, b](const QPoint& pos) { printPopup_->popup(b->mapToGlobal(pos)); });
    }
    connect(bbtnPrintForm_, &QPushButton::clicked, this,
            [this] { Guarded([this] { bbtnPrintFormClick(); }); });
    connect(bbtnPlots_, &QPushButton::clicked, this,
            [this] { Guarded([this] { bbtnPlotsClick(); }); });
    connect(bbtnShowMatrix_, &QPushButton::clicked, this,
            [this] { Guarded([this] { bbtnShowMatrixClick(); }); });
    connect(bbtnClose_, &QPushButton::clicked, this,
            [this] { Guarded([this] { bbtnCloseClick(); }); });

    if (const QWidget* active = QApplication::activeWindow()) {
        move(active->geometry().center() - rect().center());
    }
}

TRegressionOutputForm::~TRegressionOutputForm() = default;

QLabel* TRegressionOutputForm::MakeLabel(const char* name, int x, int y, int w, int h,
                                         const QString& text) {
    auto* label = new QLabel(text, panel1_);
    label->setObjectName(name);
    label->setGeometry(x, y, w, h);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(false);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    reportLabels_.push_back(label);
    return label;
}

void TRegressionOutputForm::SetReportMessage(const std::string& message) {
    if (!message.empty()) panel2_->SetCaption(Shown(message));
}

void TRegressionOutputForm::ShowLines(const TStringList& lines) {
    QStringList shown;
    for (const auto& line : lines.Items()) shown << QString::fromStdString(line);
    matrix_->setPlainText(shown.join('\n'));
}

void TRegressionOutputForm::Open(TTAVRegression& InputData, const std::string& Description,
                                 const std::string& DepVar, const std::string& IndepVars,
                                 const std::string& DataCount, const std::string& DOF,
                                 const std::string& Coeffs, const std::string& SSquared,
                                 const std::string& SSE, const std::string& SSR,
                                 const std::string& Means, const std::string& StdDevs,
                                 const std::string& StdErrs, const std::string& TValues,
                                 const std::string& FStat, const TStringList& Covariance,
                                 const TStringList& Correlation) {
    inputData_ = &InputData;
    dataSetName_ = ReportDataSetName(InputData);

    covarianceLines_.Assign(Covariance);
    correlationLines_.Assign(Correlation);
    ShowLines(Covariance);
    visibleMatrix_ = "Covariance";
    matrixSize_ = Covariance.Count();
    description_ = Description;

    // The labels say what the page of the report says, word for word (MakeReportPage).
    const TRegressionReport report{DepVar,   IndepVars, DataCount, DOF,        Coeffs,
                                   SSquared, SSE,       SSR,       Means,      StdDevs,
                                   StdErrs,  TValues,   FStat,     Covariance, Correlation};
    const TReportPage page =
        MakeReportPage(report, dataSetName_, description_, DateTimeToStr(Now()), std::string());
    header1_->ClearSections();
    header1_->AddSection(Shown("Data: " + page.dataSetName));
    header1_->AddSection(Shown(page.description));
    header1_->AddSection(Shown(page.date));
    topPanel_->SetCaption(
        Shown("Data: " + page.dataSetName + "  " + page.description + "  " + page.date));
    labDepVarName_->setText(Shown(page.depVarName));
    labIndepVarNames_->setText(Shown(page.indepVarNames));
    labDataCount_->setText(Shown(page.dataCount));
    labDOF_->setText(Shown(page.dof));
    labMean_->setText(Shown(page.mean));
    labStdDev_->setText(Shown(page.stdDev));
    labCoeffs_->setText(Shown(page.coeffs));
    labStdErrCoeff_->setText(Shown(page.stdErrCoeff));
    labtValue_->setText(Shown(page.tValue));
    labSSR_->setText(Shown(page.ssr));
    labSSE_->setText(Shown(page.sse));
    labSST_->setText(Shown(page.sst));
    labsSquared_->setText(Shown(page.sSquared));
    labRsqr_->setText(Shown(page.rSquared));
    labFStat_->setText(Shown(page.fStat));

    const int points = matrixSize_ <= 7 ? 8 : 7;
    for (QLabel* label : reportLabels_) label->setFont(QFont("Arial", points));
    matrix_->setFont(QFont("Arial", points));

    UpdateNow(matrix_);
    ShowModal(this);
    ReleaseLines();
}

void TRegressionOutputForm::Covariance1Click() {
    matrixSize_ = covarianceLines_.Count();
    ShowLines(covarianceLines_);
    visibleMatrix_ = "Covariance";
}

void TRegressionOutputForm::Correlation1Click() {
    matrixSize_ = correlationLines_.Count();
    ShowLines(correlationLines_);
    visibleMatrix_ = "Correlation";
}

void TRegressionOutputForm::Zoom1Click() {
    TAnalysisMatrix zoom;
    const std::string footer = panel2_->Caption().toStdString();
    if (visibleMatrix_ == "Covariance")
        zoom.Open(covarianceLines_, "Covariance Matrix", description_, footer);
    else
        zoom.Open(correlationLines_, "Correlation Matrix", description_, footer);
}

void TRegressionOutputForm::bbtnShowMatrixClick() {
    matrixPopup_->popup(PopupPoint(this, bbtnShowMatrix_, true));
}

void TRegressionOutputForm::bbtnPrintFormClick() {
    printPopup_->popup(PopupPoint(this, bbtnPrintForm_, true));
}

void TRegressionOutputForm::bbtnPlotsClick() {
    if (inputData_) inputData_->ShowPlots();
}

void TRegressionOutputForm::bbtnCloseClick() {
    ReleaseLines();
    done(QDialog::Rejected);
}

void TRegressionOutputForm::closeEvent(QCloseEvent* event) {
    // The title-bar box closes the window too: the lists go however it is closed.
    ReleaseLines();
    QDialog::closeEvent(event);
}

void TRegressionOutputForm::ReleaseLines() {
    covarianceLines_.Clear();
    correlationLines_.Clear();
}

void TRegressionOutputForm::Setup1Click() { PrinterSetupDialog(this); }

void TRegressionOutputForm::Print1Click() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const QPalette saved = palette();
    panel2_->SetBevelInner(TPanel::TBevel::bvNone);
    panel2_->SetBevelOuter(TPanel::TBevel::bvNone);
    for (QWidget* w : std::initializer_list<QWidget*>{bbtnPrintForm_, bbtnShowMatrix_, bbtnClose_,
                                                      bbtnPlots_, header1_})
        w->hide();
    QPalette white = saved;
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    auto restore = [&] {
        panel2_->SetBevelInner(TPanel::TBevel::bvLowered);
        panel2_->SetBevelOuter(TPanel::TBevel::bvRaised);
        for (QWidget* w : std::initializer_list<QWidget*>{bbtnPrintForm_, bbtnShowMatrix_,
                                                          bbtnClose_, bbtnPlots_})
            w->show();
        setPalette(saved);
        header1_->show();
        QApplication::restoreOverrideCursor();
    };
    try {
        PrintForm(this, printScale_);
    } catch (...) {
        restore();
        throw;
    }
    restore();
}

}  // namespace tav

#include "forms/matrxdlg.h"

#include <QPlainTextEdit>
#include <QPushButton>

#include "tav/forms.h"

namespace tav {

TAnalysisMatrix::TAnalysisMatrix(QWidget* parent) : QDialog(parent) {
    setObjectName("AnalysisMatrix");
    setWindowTitle("Multivariate Regression Output Matrix");
    setFixedSize(435, 315);

    header1_ = new THeaderControl(this);
    header1_->setObjectName("Header1");
    header1_->setGeometry(0, 0, 435, 26);
    QFont headerFont("Arial", 10);
    headerFont.setBold(true);
    header1_->setFont(headerFont);

    memo1_ = new QPlainTextEdit(this);
    memo1_->setObjectName("Memo1");
    memo1_->setGeometry(4, 30, 427, 231);
    memo1_->setFrameShape(QFrame::NoFrame);
    memo1_->setReadOnly(true);
    memo1_->setLineWrapMode(QPlainTextEdit::NoWrap);
    memo1_->setFont(QFont("Arial", 8));
    memo1_->setPlainText("Covariance or Correlation Matrix");

    bitBtn1_ = new QPushButton("OK", this);
    bitBtn1_->setObjectName("BitBtn1");
    bitBtn1_->setGeometry(179, 265, 77, 27);
    bitBtn1_->setDefault(true);
    connect(bitBtn1_, &QPushButton::clicked, this, [this] { Guarded([this] { BitBtn1Click(); }); });

    panel2_ = new TPanel(this);
    panel2_->setObjectName("Panel2");
    panel2_->setGeometry(0, 315 - 17, 435, 17);
    panel2_->SetBevelInner(TPanel::TBevel::bvLowered);
    panel2_->SetAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    panel2_->setFont(QFont("Arial", 8));
    QPalette pal = panel2_->palette();
    pal.setColor(QPalette::WindowText, QColor(128, 0, 0));
    panel2_->setPalette(pal);
}

void TAnalysisMatrix::Open(const TStringList& Lines, const std::string& Title,
                           const std::string& Descr, const std::string& Footer) {
    header1_->ClearSections();
    header1_->AddSection(QString::fromStdString(Title));
    header1_->AddSection(QString::fromStdString(Descr));
    panel2_->SetCaption(QString::fromStdString(Footer.substr(0, 78) + "..."));

    int points = 8;
    if (Lines.Count() > 6) points = 7;
    if (Lines.Count() > 8) points = 6;
    memo1_->setFont(QFont("Arial", points));

    QStringList shown;
    for (const auto& line : Lines.Items()) shown << QString::fromStdString(line);
    if (!shown.isEmpty()) shown[0] = " ";
    memo1_->setPlainText(shown.join('\n'));
    ShowModal(this);
}

void TAnalysisMatrix::BitBtn1Click() { accept(); }

}  // namespace tav

#include "forms/loadgage.h"

#include <QFont>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QScreen>

#include "tav/forms.h"

namespace tav {

namespace {

// The emblem in the two top corners: a few dots and the line fitted through them.
QPixmap Emblem() {
    QPixmap pm(28, 28);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x80, 0x00, 0x00), 1));
    p.setBrush(QColor(0x80, 0x00, 0x00));
    const QPointF dots[] = {{5, 21}, {9, 19}, {12, 15}, {16, 16}, {19, 10}, {23, 7}};
    for (const auto& d : dots) p.drawEllipse(d, 1.8, 1.8);
    p.setPen(QPen(QColor(0x00, 0x00, 0x80), 1.5));
    p.drawLine(QPointF(3, 23), QPointF(25, 5));
    p.setPen(QPen(Qt::black, 1));
    p.drawLine(2, 26, 26, 26);
    p.drawLine(2, 2, 2, 26);
    return pm;
}

}  // namespace

TTAVGaugeDlg::TTAVGaugeDlg(const TLoadProgress& progress, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName("TAVGaugeDlg");
    setWindowTitle("Percentage Loaded");
    setFixedSize(224, 130);

    const QPixmap emblem = Emblem();
    image1_ = new QLabel(this);
    image1_->setObjectName("Image1");
    image1_->setGeometry(5, 2, 28, 28);
    image1_->setPixmap(emblem);
    image2_ = new QLabel(this);
    image2_->setObjectName("Image2");
    image2_->setGeometry(192, 2, 28, 28);
    image2_->setPixmap(emblem);

    QFont title("Times New Roman");
    title.setPixelSize(15);
    title.setBold(true);
    // The white copy lies under the black one, offset by a pixel, so the title looks embossed.
    label2_ = new QLabel("TAV Dataset Load", this);
    label2_->setObjectName("Label2");
    label2_->setFont(title);
    label2_->setStyleSheet("color: white; background: transparent;");
    label2_->move(49, 29);
    label2_->adjustSize();
    label1_ = new QLabel("TAV Dataset Load", this);
    label1_->setObjectName("Label1");
    label1_->setFont(title);
    label1_->setStyleSheet("color: black; background: transparent;");
    label1_->move(50, 28);
    label1_->adjustSize();

    panel2_ = new QFrame(this);
    panel2_->setObjectName("Panel2");
    panel2_->setGeometry(21, 59, 182, 29);
    panel2_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    gauge1_ = new TGauge(panel2_);
    gauge1_->setObjectName("Gauge1");
    gauge1_->setGeometry(3, 4, 175, 21);
    gauge1_->SetForeColor(QColor(0x00, 0x00, 0x80));
    gauge1_->SetBackColor(palette().color(QPalette::Highlight));
    QFont gaugeFont("Arial");
    gaugeFont.setPointSize(9);
    gauge1_->setFont(gaugeFont);
    QPalette gp = gauge1_->palette();
    gp.setColor(QPalette::WindowText, Qt::black);
    gauge1_->setPalette(gp);

    panel1_ = new QLabel(this);
    panel1_->setObjectName("Panel1");
    panel1_->setGeometry(0, 130 - 19, 224, 19);
    panel1_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    QFont statusFont("Arial");
    statusFont.setPointSize(8);
    panel1_->setFont(statusFont);
    panel1_->setStyleSheet("color: black;");

    gauge1_->SetProgress(progress.GaugeProgress());
    panel1_->setText(QString::fromStdString(progress.GaugeText()));
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

void TTAVGaugeDlg::ProgressChanged(const TLoadProgress& progress) {
    gauge1_->SetProgress(progress.GaugeProgress());
    panel1_->setText(QString::fromStdString(progress.GaugeText()));
    UpdateNow(this);
}

}  // namespace tav

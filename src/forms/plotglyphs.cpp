#include "forms/plotglyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace tav {

namespace {
const QColor kMaroon(128, 0, 0);
const QColor kNavy(0, 0, 128);
}  // namespace

QIcon Glyph(TGlyph kind) {
    QPixmap pm(24, 24);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    auto axes = [&] {
        p.setPen(QPen(QColor(64, 64, 64), 1));
        p.drawLine(QPointF(3.5, 2), QPointF(3.5, 20.5));
        p.drawLine(QPointF(3.5, 20.5), QPointF(22, 20.5));
    };
    auto dots = [&](std::initializer_list<QPointF> points) {
        p.setPen(Qt::NoPen);
        p.setBrush(kMaroon);
        for (const QPointF& d : points) p.drawEllipse(d, 1.7, 1.7);
    };
    auto residuals = [&](const QString& letter) {
        axes();
        p.setPen(QPen(kNavy, 1, Qt::DashLine));
        p.drawLine(QPointF(4, 12.5), QPointF(22, 12.5));
        dots({{7, 10}, {10, 16}, {13, 9}, {16, 15}, {19, 11}});
        QFont f("Arial");
        f.setPixelSize(8);
        f.setBold(true);
        p.setFont(f);
        p.setPen(kNavy);
        p.drawText(QRectF(12, 2, 12, 9), Qt::AlignRight | Qt::AlignTop, letter);
    };
    switch (kind) {
        case TGlyph::Scatter:
            axes();
            dots({{7, 16}, {9, 11}, {12, 15}, {14, 8}, {17, 12}, {19, 5}, {21, 9}});
            break;
        case TGlyph::ResidualInput:
            residuals("#");
            break;
        case TGlyph::ResidualIndep:
            residuals("X");
            break;
        case TGlyph::ResidualDep:
            residuals("Y");
            break;
        case TGlyph::ResidualFitted:
            residuals("Y");
            p.setPen(QPen(kNavy, 1));
            p.drawLine(QPointF(18, 2), QPointF(19.5, 0.5));
            p.drawLine(QPointF(19.5, 0.5), QPointF(21, 2));
            break;
        case TGlyph::ECDF: {
            axes();
            QPainterPath steps(QPointF(4, 19.5));
            const double xs[] = {7, 10, 12, 14, 16, 19};
            const double ys[] = {18.5, 16, 12, 8, 5.5, 4.5};
            for (int k = 0; k < 6; ++k) {
                steps.lineTo(xs[k], steps.currentPosition().y());
                steps.lineTo(xs[k], ys[k]);
            }
            steps.lineTo(22, 4.5);
            p.setPen(QPen(kNavy, 1.2));
            p.drawPath(steps);
            break;
        }
        case TGlyph::Reset:
            p.setPen(QPen(QColor(64, 64, 64), 1));
            p.setBrush(Qt::white);
            p.drawRect(QRectF(4.5, 3.5, 15, 17));
            p.setPen(QPen(QColor(192, 0, 0), 2));
            p.drawLine(QPointF(8, 8), QPointF(16, 16));
            p.drawLine(QPointF(16, 8), QPointF(8, 16));
            break;
        case TGlyph::Close: {
            p.setPen(QPen(QColor(64, 64, 64), 1));
            p.setBrush(QColor(160, 110, 60));
            p.drawRect(QRectF(4.5, 2.5, 10, 19));
            p.setBrush(QColor(255, 215, 0));
            p.drawEllipse(QPointF(12.5, 12), 1, 1);
            p.setPen(QPen(QColor(0, 128, 0), 2));
            p.drawLine(QPointF(15, 12), QPointF(22, 12));
            p.drawLine(QPointF(19, 9), QPointF(22, 12));
            p.drawLine(QPointF(19, 15), QPointF(22, 12));
            break;
        }
    }
    return QIcon(pm);
}

}  // namespace tav

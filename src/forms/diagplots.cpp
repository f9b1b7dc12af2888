#include "tav/diagplots.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QSvgGenerator>
#include <algorithm>
#include <cmath>
#include <numeric>

#include "tav/db.h"
#include "tav/tavcore.h"
#include "tav/tavtypes.h"

namespace tav {

QPointF TPlotFrame::ToDevice(double x, double y) const {
    return {area.left() + (x - xMin) / (xMax - xMin) * area.width(),
            area.bottom() - (y - yMin) / (yMax - yMin) * area.height()};
}

QString DiagnosticPlotFileName(TDiagnosticPlot kind) {
    switch (kind) {
        case TDiagnosticPlot::ResidualsFitted:
            return "residuals-fitted";
        case TDiagnosticPlot::NormalQQ:
            return "normal-qq";
        case TDiagnosticPlot::ScaleLocation:
            return "scale-location";
        case TDiagnosticPlot::ResidualsLeverage:
            break;
    }
    return "residuals-leverage";
}

QString DiagnosticPlotTitle(TDiagnosticPlot kind) {
    switch (kind) {
        case TDiagnosticPlot::ResidualsFitted:
            return "Residuals vs fitted values";
        case TDiagnosticPlot::NormalQQ:
            return "Normal Q-Q plot of the standardized residuals";
        case TDiagnosticPlot::ScaleLocation:
            return "Scale-location";
        case TDiagnosticPlot::ResidualsLeverage:
            break;
    }
    return "Standardized residuals vs leverage";
}

// ---------------------------------------------------------------------------------------------
// The drawing

namespace {

const QColor kInk(0x20, 0x20, 0x20);
const QColor kGrid(0xe6, 0xe6, 0xe6);
const QColor kMark(0x1f, 0x4e, 0x96);
const QColor kReference(0x70, 0x70, 0x70);
const QColor kSmooth(0xd6, 0x27, 0x28);
const QColor kCook(0xd6, 0x27, 0x28);

QFont Font(double pixels, bool bold = false) {
    QFont font("Arial");
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(static_cast<int>(pixels));
    font.setBold(bold);
    return font;
}

// A record as drawn: its number in load order and its coordinates.
struct TMark {
    int record;
    double x, y;
};

struct TContent {
    QString title, xLabel, yLabel;
    std::vector<TMark> marks;
    std::vector<int> labelled;   // indices into marks, most extreme first
    std::vector<QString> names;  // of the labelled marks' records, in the same order
    std::vector<double> yExtra;  // values the vertical range must show besides the marks'
    bool yFromZero = false;
};

// The range of the values widened by 4% on each side (a lone value by 10% of its size, or 1).
std::pair<double, double> Range(const std::vector<double>& values) {
    if (values.empty()) return {0, 1};
    const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
    double a = *lo, b = *hi;
    const double span = b - a;
    if (span > 1e-12 * std::max(std::fabs(a), std::fabs(b)))
        return {a - 0.04 * span, b + 0.04 * span};
    const double pad = a == 0 ? 1.0 : 0.1 * std::fabs(a);
    return {a - pad, b + pad};
}

// The indices of the `count` marks with the largest `key`, largest first.
std::vector<int> MostExtreme(const std::vector<TMark>& marks, const std::vector<double>& key,
                             std::size_t count = 3) {
    std::vector<int> order(marks.size());
    std::iota(order.begin(), order.end(), 0);
    count = std::min(count, order.size());
    std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(count),
                      order.end(),
                      [&](int a, int b) { return key[a] > key[b] || (key[a] == key[b] && a < b); });
    order.resize(count);
    return order;
}

// Cuts the segment from a to b to the rectangle (Liang-Barsky); false when nothing of it is
// inside.
bool ClipSegment(const QRectF& r, QPointF& a, QPointF& b) {
    const double dx = b.x() - a.x(), dy = b.y() - a.y();
    double t0 = 0, t1 = 1;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {a.x() - r.left(), r.right() - a.x(), a.y() - r.top(), r.bottom() - a.y()};
    for (int k = 0; k < 4; ++k) {
        if (p[k] == 0) {
            if (q[k] < 0) return false;
            continue;
        }
        const double t = q[k] / p[k];
        if (p[k] < 0)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
        if (t0 > t1) return false;
    }
    const QPointF start = a;
    a = start + QPointF(dx, dy) * t0;
    b = start + QPointF(dx, dy) * t1;
    return true;
}

// Snaps a coordinate to the middle of its pixel, so that a one-pixel line covers one row or
// column exactly.
double Snap(double v) { return std::floor(v) + 0.5; }

class TPlotDrawer {
  public:
    TPlotDrawer(QPainter& p, const TContent& content, const QString& subtitle)
        : p_(p), content_(content), subtitle_(subtitle) {}

    TPlotFrame& Frame() { return frame_; }

    // Chooses the plot area (room for the tick labels) and draws everything but the data.
    void DrawFrame() {
        p_.fillRect(QRectF(0, 0, kDiagnosticWidth, kDiagnosticHeight), Qt::white);
        xTicks_ = NiceTicks(frame_.xMin, frame_.xMax, 7);
        yTicks_ = NiceTicks(frame_.yMin, frame_.yMax, 6);
        const QFontMetricsF tickMetrics(Font(13));
        double widest = 0;
        for (double v : yTicks_)
            widest = std::max(widest, tickMetrics.horizontalAdvance(YLabel(v)));
        const double left = 22 + 18 + widest + 10;
        frame_.area = QRectF(left, 72, kDiagnosticWidth - left - 28, kDiagnosticHeight - 72 - 68);
        const QRectF& a = frame_.area;

        p_.setFont(Font(19, true));
        p_.setPen(kInk);
        p_.drawText(QRectF(0, 10, kDiagnosticWidth, 28), Qt::AlignHCenter | Qt::AlignVCenter,
                    content_.title);
        p_.setFont(Font(13));
        p_.setPen(QColor(0x60, 0x60, 0x60));
        p_.drawText(QRectF(0, 38, kDiagnosticWidth, 20), Qt::AlignHCenter | Qt::AlignVCenter,
                    subtitle_);

        p_.setRenderHint(QPainter::Antialiasing, false);
        p_.setPen(QPen(kGrid, 1));
        for (double v : xTicks_) {
            const double x = Snap(frame_.ToDevice(v, 0).x());
            p_.drawLine(QPointF(x, a.top()), QPointF(x, a.bottom()));
        }
        for (double v : yTicks_) {
            const double y = Snap(frame_.ToDevice(0, v).y());
            p_.drawLine(QPointF(a.left(), y), QPointF(a.right(), y));
        }
        p_.setPen(QPen(QColor(0x90, 0x90, 0x90), 1));
        p_.setBrush(Qt::NoBrush);
        p_.drawRect(QRectF(Snap(a.left()) - 1, Snap(a.top()) - 1, std::round(a.width()) + 1,
                           std::round(a.height()) + 1));

        p_.setFont(Font(13));
        p_.setPen(kInk);
        for (double v : xTicks_) {
            const double x = Snap(frame_.ToDevice(v, 0).x());
            p_.drawLine(QPointF(x, a.bottom() + 1), QPointF(x, a.bottom() + 6));
            p_.drawText(QRectF(x - 60, a.bottom() + 8, 120, 18), Qt::AlignHCenter | Qt::AlignTop,
                        XLabel(v));
        }
        for (double v : yTicks_) {
            const double y = Snap(frame_.ToDevice(0, v).y());
            p_.drawLine(QPointF(a.left() - 6, y), QPointF(a.left() - 1, y));
            p_.drawText(QRectF(a.left() - 10 - widest - 4, y - 9, widest + 4, 18),
                        Qt::AlignRight | Qt::AlignVCenter, YLabel(v));
        }
        p_.setFont(Font(15));
        p_.drawText(QRectF(a.left(), a.bottom() + 30, a.width(), 24),
                    Qt::AlignHCenter | Qt::AlignVCenter, content_.xLabel);
        p_.save();
        p_.translate(20, a.center().y());
        p_.rotate(-90);
        p_.drawText(QRectF(-a.height() / 2, -12, a.height(), 24),
                    Qt::AlignHCenter | Qt::AlignVCenter, content_.yLabel);
        p_.restore();
        p_.setRenderHint(QPainter::Antialiasing, true);
        if (content_.marks.empty()) {
            p_.setFont(Font(15));
            p_.setPen(QColor(0x60, 0x60, 0x60));
            p_.drawText(a, Qt::AlignCenter, "No record has finite values to plot");
        }
    }

    // Small translucent marks: thousands of records still read as a density.
    void DrawMarks() {
        const std::size_t n = content_.marks.size();
        const double radius = n <= 200 ? 3.2 : n <= 1000 ? 2.6 : 2.2;
        const int alpha = n <= 200 ? 200 : n <= 1000 ? 130 : 90;
        QColor fill = kMark;
        fill.setAlpha(alpha);
        QColor edge = kMark;
        edge.setAlpha(std::min(255, alpha + 40));
        p_.save();
        p_.setClipRect(frame_.area);
        p_.setPen(QPen(edge, 0.8));
        p_.setBrush(fill);
        for (const TMark& m : content_.marks)
            p_.drawEllipse(frame_.ToDevice(m.x, m.y), radius, radius);
        p_.restore();
    }

    // A horizontal reference line at y (pixel exact).
    void HorizontalLine(double y, const QColor& color) {
        const double row = Snap(frame_.ToDevice(0, y).y());
        if (row < frame_.area.top() || row > frame_.area.bottom()) return;
        p_.save();
        p_.setRenderHint(QPainter::Antialiasing, false);
        QPen pen(color, 1, Qt::CustomDashLine);
        pen.setDashPattern({6, 4});
        p_.setPen(pen);
        p_.drawLine(QPointF(frame_.area.left(), row), QPointF(frame_.area.right(), row));
        p_.restore();
    }

    // A curve through data points, clipped to the plot area.
    // The curve is cut to the area here rather than by a clip region, which SVG output drops.
    void Curve(const std::vector<QPointF>& points, const QPen& pen) {
        QPainterPath path;
        bool open = false;
        for (std::size_t i = 1; i < points.size(); ++i) {
            QPointF a = frame_.ToDevice(points[i - 1].x(), points[i - 1].y());
            QPointF b = frame_.ToDevice(points[i].x(), points[i].y());
            const bool whole = frame_.area.contains(a);
            if (!ClipSegment(frame_.area, a, b)) {
                open = false;
                continue;
            }
            if (!open || !whole) path.moveTo(a);
            path.lineTo(b);
            open = frame_.area.contains(frame_.ToDevice(points[i].x(), points[i].y()));
        }
        p_.save();
        p_.setPen(pen);
        p_.setBrush(Qt::NoBrush);
        p_.drawPath(path);
        p_.restore();
    }

    // The names of the most extreme marks' records, beside them, inside the plot area.
    // Right of a mark in the left half, left of one in the right half (away from the edge and
    // from the contour levels written there); a label that would cover one already written moves
    // to the other side, then up or down.
    void LabelExtremes() {
        p_.setFont(Font(12));
        const QFontMetricsF metrics(p_.font());
        p_.setPen(kInk);
        std::vector<QRectF> placed;
        for (std::size_t k = 0; k < content_.labelled.size(); ++k) {
            const TMark& m = content_.marks[content_.labelled[k]];
            const QPointF at = frame_.ToDevice(m.x, m.y);
            // A label from the data may be long: it keeps to the room a label has.
            const QString text = metrics.elidedText(content_.names[k], Qt::ElideRight, 160);
            const double w = metrics.horizontalAdvance(text) + 2;
            const bool leftSide = at.x() > frame_.area.center().x();
            auto box = [&](bool left, double dy) {
                const double y =
                    std::clamp(at.y() - 8 + dy, frame_.area.top(), frame_.area.bottom() - 16);
                return QRectF(left ? at.x() - 5 - w : at.x() + 5, y, w, 16);
            };
            QRectF chosen = box(leftSide, 0);
            bool found = false, moved = false;
            for (double dy : {0.0, -14.0, 14.0, -28.0, 28.0}) {
                for (bool left : {leftSide, !leftSide}) {
                    const QRectF b = box(left, dy);
                    if (std::none_of(placed.begin(), placed.end(),
                                     [&](const QRectF& r) { return r.intersects(b); })) {
                        chosen = b;
                        found = true;
                        moved = dy != 0;
                        break;
                    }
                }
                if (found) break;
            }
            placed.push_back(chosen);
            if (moved) {
                // A thin leader tells which mark a moved label belongs to.
                const QPointF end(chosen.left() > at.x() ? chosen.left() : chosen.right(),
                                  chosen.center().y());
                p_.setPen(QPen(QColor(0x90, 0x90, 0x90), 0.8));
                p_.drawLine(at, end);
                p_.setPen(kInk);
            }
            p_.drawText(chosen, Qt::AlignLeft | Qt::AlignVCenter, text);
        }
    }

    void Text(const QRectF& box, int flags, const QString& text, const QColor& color, double size) {
        p_.setFont(Font(size));
        p_.setPen(color);
        p_.drawText(box, flags, text);
    }

    QPainter& Painter() { return p_; }

  private:
    double Step(const std::vector<double>& ticks) const {
        return ticks.size() > 1 ? ticks[1] - ticks[0] : std::max(std::fabs(ticks[0]), 1.0);
    }
    QString XLabel(double v) const { return QString::fromStdString(TickLabel(v, Step(xTicks_))); }
    QString YLabel(double v) const { return QString::fromStdString(TickLabel(v, Step(yTicks_))); }

    QPainter& p_;
    const TContent& content_;
    QString subtitle_;
    TPlotFrame frame_;
    std::vector<double> xTicks_, yTicks_;
};

std::vector<double> Xs(const std::vector<TMark>& marks) {
    std::vector<double> v;
    for (const TMark& m : marks) v.push_back(m.x);
    return v;
}
std::vector<double> Ys(const std::vector<TMark>& marks) {
    std::vector<double> v;
    for (const TMark& m : marks) v.push_back(m.y);
    return v;
}

void DrawSmooth(TPlotDrawer& d, const std::vector<TMark>& marks) {
    if (marks.size() < 3) return;
    const TSmooth s = Lowess(Xs(marks), Ys(marks));
    std::vector<QPointF> points;
    for (std::size_t i = 0; i < s.x.size(); ++i) points.emplace_back(s.x[i], s.y[i]);
    d.Curve(points, QPen(kSmooth, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
}

QString ResponseTerm(const TTAVRegression& reg) {
    const TDependentVar* y = reg.ResponseVarY();
    return y ? QString::fromStdString(y->OutputTerm()) : QString("the response");
}

// What a plot shows of the fit: the marks, the axes' titles, the records it labels.
TContent Content(const TTAVRegression& reg, TDiagnosticPlot kind) {
    const uint16_t n = reg.DataCount();
    TContent c;
    c.title = DiagnosticPlotTitle(kind);
    const QString fitted = "Fitted values of " + ResponseTerm(reg);
    for (uint16_t i = 1; i <= n; ++i) {
        double x = 0, y = 0;
        switch (kind) {
            case TDiagnosticPlot::ResidualsFitted:
                x = reg.GetyHat(i);
                y = reg.Gete(i);
                break;
            case TDiagnosticPlot::NormalQQ:
                y = reg.GetStandardizedResidual(i);
                break;
            case TDiagnosticPlot::ScaleLocation:
                x = reg.GetyHat(i);
                y = std::sqrt(std::fabs(reg.GetStandardizedResidual(i)));
                break;
            case TDiagnosticPlot::ResidualsLeverage:
                x = reg.GetLeverage(i);
                y = reg.GetStandardizedResidual(i);
                break;
        }
        if (std::isfinite(x) && std::isfinite(y)) c.marks.push_back({i, x, y});
    }
    std::vector<double> key;
    std::vector<double>& yExtra = c.yExtra;
    bool& yFromZero = c.yFromZero;
    switch (kind) {
        case TDiagnosticPlot::ResidualsFitted:
            c.xLabel = fitted;
            c.yLabel = "Residuals";
            for (const TMark& m : c.marks) key.push_back(std::fabs(m.y));
            yExtra.push_back(0);
            break;
        case TDiagnosticPlot::NormalQQ: {
            c.xLabel = "Theoretical quantiles of the standard normal distribution";
            c.yLabel = "Standardized residuals";
            std::stable_sort(c.marks.begin(), c.marks.end(),
                             [](const TMark& a, const TMark& b) { return a.y < b.y; });
            const std::vector<double> q = NormalQuantiles(PlottingPositions(c.marks.size()));
            for (std::size_t k = 0; k < c.marks.size(); ++k) c.marks[k].x = q[k];
            for (const TMark& m : c.marks) key.push_back(std::fabs(m.y));
            break;
        }
        case TDiagnosticPlot::ScaleLocation:
            c.xLabel = fitted;
            c.yLabel = QString::fromUtf8("\u221a|Standardized residuals|");
            for (const TMark& m : c.marks) key.push_back(m.y);
            yFromZero = true;
            break;
        case TDiagnosticPlot::ResidualsLeverage:
            c.xLabel = "Leverage";
            c.yLabel = "Standardized residuals";
            for (const TMark& m : c.marks) {
                const double cook = reg.GetCooksDistance(static_cast<uint16_t>(m.record));
                key.push_back(std::isfinite(cook) ? cook : -1);
            }
            yExtra.push_back(0);
            break;
    }
    c.labelled = MostExtreme(c.marks, key);
    // Named as the data name them, not by their place among the records used.
    for (int index : c.labelled)
        c.names.push_back(QString::fromStdString(reg.GetRecordName(c.marks[index].record)));
    return c;
}

}  // namespace

std::vector<TLabelledRecord> DiagnosticPlotLabels(const TTAVRegression& reg, TDiagnosticPlot kind) {
    const TContent c = Content(reg, kind);
    std::vector<TLabelledRecord> labelled;
    for (std::size_t k = 0; k < c.labelled.size(); ++k)
        labelled.push_back({c.marks[c.labelled[k]].record, c.names[k].toStdString()});
    return labelled;
}

TPlotFrame DrawDiagnosticPlot(QPainter& painter, const TTAVRegression& reg, TDiagnosticPlot kind) {
    const uint16_t n = reg.DataCount();
    const TContent c = Content(reg, kind);

    QString subtitle = QString::fromStdString(reg.DataSet().Name());
    if (!subtitle.isEmpty()) subtitle += ": ";
    subtitle += QString("%1 records, %2 control variable%3")
                    .arg(n)
                    .arg(reg.VarCount())
                    .arg(reg.VarCount() == 1 ? "" : "s");
    if (c.marks.size() < n)
        subtitle += QString("; %1 left out (no finite value)").arg(n - c.marks.size());

    painter.save();
    const QPaintDevice* device = painter.device();
    if (device && (device->width() != kDiagnosticWidth || device->height() != kDiagnosticHeight))
        painter.scale(static_cast<double>(device->width()) / kDiagnosticWidth,
                      static_cast<double>(device->height()) / kDiagnosticHeight);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);

    TPlotDrawer d(painter, c, subtitle);
    TPlotFrame& frame = d.Frame();
    std::vector<double> ys = Ys(c.marks);
    ys.insert(ys.end(), c.yExtra.begin(), c.yExtra.end());
    std::tie(frame.xMin, frame.xMax) = Range(Xs(c.marks));
    std::tie(frame.yMin, frame.yMax) = Range(ys);
    if (c.yFromZero) frame.yMin = 0;
    // Leverage starts at 0, and never exceeds 1.
    if (kind == TDiagnosticPlot::ResidualsLeverage && !c.marks.empty()) {
        frame.xMin = 0;
        frame.xMax = std::min(frame.xMax, 1.0);
        if (!(frame.xMax > 0)) frame.xMax = 1;
    }
    d.DrawFrame();
    d.DrawMarks();

    switch (kind) {
        case TDiagnosticPlot::ResidualsFitted:
            d.HorizontalLine(0, kReference);
            DrawSmooth(d, c.marks);
            break;
        case TDiagnosticPlot::NormalQQ:
            if (c.marks.size() >= 2) {
                // The line through the pairs of quartiles: theoretical against sample.
                const std::vector<double> sorted = Ys(c.marks);
                const double y1 = SampleQuantile(sorted, 0.25), y3 = SampleQuantile(sorted, 0.75);
                const double x1 = NormalQuantiles({0.25})[0], x3 = -x1;
                const double slope = (y3 - y1) / (x3 - x1);
                QPen pen(kReference, 1.5, Qt::DashLine);
                d.Curve({QPointF(frame.xMin, y1 + slope * (frame.xMin - x1)),
                         QPointF(frame.xMax, y1 + slope * (frame.xMax - x1))},
                        pen);
            }
            break;
        case TDiagnosticPlot::ScaleLocation:
            DrawSmooth(d, c.marks);
            break;
        case TDiagnosticPlot::ResidualsLeverage: {
            d.HorizontalLine(0, kReference);
            // Cook's distance contours: D = r^2 h / (p (1 - h)) held at 0.5 and 1.
            int p = reg.VarCount() + 1;
            for (uint16_t k = 1; k <= reg.VarCount(); ++k)
                if (reg.GetAliased(k)) --p;
            if (c.marks.empty() || p < 1) break;
            const double hMax = std::min(frame.xMax, 0.9999);
            bool visible = false;
            for (double level : {0.5, 1.0}) {
                for (double sign : {1.0, -1.0}) {
                    std::vector<QPointF> points;
                    constexpr int kSteps = 400;
                    for (int s = 1; s <= kSteps; ++s) {
                        const double h = hMax * s / kSteps;
                        const double r = sign * std::sqrt(level * p * (1 - h) / h);
                        // Far outside the area the curve only costs path length.
                        if (std::fabs(r) > 10 * (frame.yMax - frame.yMin) + 10) continue;
                        points.emplace_back(h, r);
                    }
                    QPen pen(kCook, 1.5, Qt::DashLine);
                    d.Curve(points, pen);
                    // The label where the curve leaves the area: on the right, on its outer
                    // side; at the top or bottom, beside it.
                    double h = hMax;
                    double r = sign * std::sqrt(level * p * (1 - h) / h);
                    const double edge = sign > 0 ? frame.yMax : frame.yMin;
                    const bool right = std::fabs(r) <= std::fabs(edge);
                    if (!right) {
                        h = level * p / (edge * edge + level * p);
                        r = edge;
                    }
                    if (!(h > frame.xMin && h <= frame.xMax) || r * sign <= 0) continue;
                    visible = true;
                    const QPointF at = frame.ToDevice(h, r);
                    const QString text = level == 1.0 ? "1" : "0.5";
                    QRectF box = right ? QRectF(at.x() - 30, at.y() + (sign > 0 ? -18 : 2), 26, 16)
                                       : QRectF(at.x() + 4, at.y() + (sign > 0 ? 2 : -18), 26, 16);
                    box.moveLeft(std::min(box.left(), frame.area.right() - 28));
                    box.moveTop(
                        std::clamp(box.top(), frame.area.top() + 2, frame.area.bottom() - 18));
                    d.Text(box, (right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter, text,
                           kCook, 12);
                }
            }
            // The key, right of the axis name, out of the data's way; it says so when the
            // contours lie beyond the plotted range (all leverages small).
            QPainter& p2 = d.Painter();
            const QRectF a = frame.area;
            const QString key =
                visible ? "Cook's distance" : "Cook's distance 0.5 and 1: beyond this range";
            const double width = QFontMetricsF(Font(12)).horizontalAdvance(key) + 2;
            const double y = a.bottom() + 42;
            p2.save();
            QPen pen(kCook, 1.5, Qt::DashLine);
            p2.setPen(pen);
            p2.drawLine(QPointF(a.right() - width - 32, y), QPointF(a.right() - width - 6, y));
            p2.restore();
            d.Text(QRectF(a.right() - width, y - 8, width, 16), Qt::AlignLeft | Qt::AlignVCenter,
                   key, kCook, 12);
            break;
        }
    }
    d.LabelExtremes();
    painter.restore();
    return frame;
}

QByteArray DiagnosticPng(const TTAVRegression& reg, TDiagnosticPlot kind) {
    QImage image(kDiagnosticWidth, kDiagnosticHeight, QImage::Format_RGB32);
    constexpr int kDotsPerMeter = 3780;  // 96 dpi
    image.setDotsPerMeterX(kDotsPerMeter);
    image.setDotsPerMeterY(kDotsPerMeter);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        DrawDiagnosticPlot(painter, reg, kind);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QByteArray DiagnosticSvg(const TTAVRegression& reg, TDiagnosticPlot kind) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setSize(QSize(kDiagnosticWidth, kDiagnosticHeight));
    svg.setViewBox(QRect(0, 0, kDiagnosticWidth, kDiagnosticHeight));
    svg.setResolution(96);
    svg.setTitle(DiagnosticPlotTitle(kind));
    {
        QPainter painter(&svg);
        DrawDiagnosticPlot(painter, reg, kind);
    }
    return bytes;
}

}  // namespace tav

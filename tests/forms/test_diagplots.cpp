// The diagnostic plots: the smoother and the quantiles against R's lowess, ppoints and qnorm;
// the round tick values; what each plot draws where, read from the pixels of a known fit; the
// SVG document; and the degenerate fits that leave nothing finite to draw.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <cmath>

#include "support/tav_fit_support.h"
#include "tav/diagplots.h"
#include "tav/tavtable.h"

using namespace tav;

namespace {

void ExpectNear(const std::vector<double>& got, const std::vector<double>& want, double tol) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i)
        EXPECT_NEAR(got[i], want[i], tol * std::max(1.0, std::fabs(want[i]))) << "at " << i;
}

// A straight line in x with noise, an outlier (record 5) and one far point (record 12, high
// leverage), so that every plot has something to show.
const tavtest::TData kKnown = {{"X1", "Y"},
                               {{1, 2.3},
                                {2, 3.8},
                                {3, 6.4},
                                {4, 7.7},
                                {5, 16.0},
                                {6, 12.2},
                                {7, 13.6},
                                {8, 16.3},
                                {9, 18.1},
                                {10, 19.6},
                                {11, 22.4},
                                {30, 57.0}}};

struct Known {
    tavtest::TTempDb db;
    TTAVTable table;
    Known(const tavtest::TData& data = kKnown) {
        tavtest::LoadTable(table, tavtest::WriteTable(db, data), tavtest::PlainControls(data));
        table.Execute();
    }
};

struct Drawn {
    QImage image{kDiagnosticWidth, kDiagnosticHeight, QImage::Format_RGB32};
    TPlotFrame frame;
    Drawn(const TTAVRegression& reg, TDiagnosticPlot kind) {
        QPainter p(&image);
        frame = DrawDiagnosticPlot(p, reg, kind);
    }
    QPoint Pixel(double x, double y) const {
        const QPointF d = frame.ToDevice(x, y);
        return {static_cast<int>(std::floor(d.x())), static_cast<int>(std::floor(d.y()))};
    }
    // Whether a pixel within `radius` of the point of data (x, y) passes `test`.
    template <typename Test>
    bool Near(double x, double y, int radius, Test test) const {
        const QPoint c = Pixel(x, y);
        for (int dy = -radius; dy <= radius; ++dy)
            for (int dx = -radius; dx <= radius; ++dx)
                if (image.rect().contains(c + QPoint(dx, dy)) &&
                    test(QColor(image.pixel(c + QPoint(dx, dy)))))
                    return true;
        return false;
    }
};

bool IsMark(const QColor& c) { return c.blue() > c.red() + 40 && c.blue() > c.green() + 20; }
bool IsGrey(const QColor& c) {
    return c.red() < 190 && std::abs(c.red() - c.green()) < 20 &&
           std::abs(c.green() - c.blue()) < 20;
}
bool IsRed(const QColor& c) { return c.red() > c.green() + 80 && c.red() > c.blue() + 80; }

}  // namespace

TEST(DiagnosticStatistics, LowessMatchesR) {
    // R 4.2: lowess(x, y) (f = 2/3, iter = 3, delta = 1% of the range), and one with other
    // arguments; the second set has ties and unsorted x.
    const std::vector<double> x1 = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    const std::vector<double> y1 = {2.1,  3.9,  6.2,  7.8,  30,   12.1,
                                    13.8, 16.2, 18.1, 19.7, 22.3, 23.9};
    const std::vector<double> x2 = {3, 1, 2, 2, 5, 4, 4, 8, 7, 6};
    const std::vector<double> y2 = {1.5, 0.2, 0.9, 1.4, 2.2, 3.1, 1.9, 0.4, 0.8, 2.7};
    const struct {
        std::vector<double> x, y;
        double f;
        int iterations;
        std::vector<double> want;
    } cases[] = {
        {x1,
         y1,
         2.0 / 3,
         3,
         {2.0517711156169098, 4.0268841612251274, 6.0046624602878023, 7.9902343677560195,
          9.9805788021203590, 11.9850902969722242, 14.0109317425646207, 16.0130576023518039,
          18.0205534058575267, 20.0177616825140454, 22.0059608464773930, 23.9958250381736349}},
        {x2,
         y2,
         2.0 / 3,
         3,
         {0.25070414624759957, 0.94048333643901039, 0.94048333643901039, 1.47971495124114272,
          1.87157014098833874, 1.87157014098833874, 2.19999999999999929, 1.5, 0.93300391547725836,
          0.35115470348993399}},
        {x2, y2, 0.3, 0, {0.2, 1.15, 1.15, 1.5, 2.5, 2.5, 2.2, 2.7, 0.8, 0.4}},
    };
    for (const auto& c : cases) {
        const TSmooth s = Lowess(c.x, c.y, c.f, c.iterations);
        EXPECT_TRUE(std::is_sorted(s.x.begin(), s.x.end()));
        ExpectNear(s.y, c.want, 1e-12);
    }
    // 40 points with many ties in the neighbourhoods and the delta interpolation at work.
    const std::vector<double> x3 = {2.7, 3.7, 5.7, 9.1, 2,   9,   9.4, 6.6, 6.3, 0.6,
                                    2.1, 1.8, 6.9, 3.8, 7.7, 5,   7.2, 9.9, 3.8, 7.8,
                                    9.3, 2.1, 6.5, 1.3, 2.7, 3.9, 0.1, 3.8, 8.7, 3.4,
                                    4.8, 6,   4.9, 1.9, 8.3, 6.7, 7.9, 1.1, 7.2, 4.1};
    const std::vector<double> y3 = {0.734,  -0.269, -0.526, -0.344, 1.116, 0.393, -0.027, -0.179,
                                    -0.143, 0.704,  1.316,  0.94,   0.708, -0.63, 0.529,  -1.097,
                                    0.662,  -0.477, -0.245, 1.253,  0.07,  0.779, 0.447,  1.149,
                                    0.198,  -0.924, 0.221,  -0.356, 0.626, 0.038, -0.863, -0.483,
                                    -0.869, 0.57,   1.38,   1.065,  0.877, 0.543, 0.984,  -0.863};
    const std::vector<double> want3 = {
        1.272224551128304126,  1.090092431088063973,  0.897021255651766714,  0.817520324662272868,
        0.616007774326164159,  0.575563954013765700,  0.535154665952968678,  0.494799392227247059,
        0.494799392227247059,  0.251446382051559725,  0.251446382051559725,  -0.070110550160010346,
        -0.220620600123562494, -0.256639961833978414, -0.256639961833978414, -0.256639961833978414,
        -0.310123826663901037, -0.358921189906275750, -0.397837919861027067, -0.379414104123572071,
        -0.358097715578165388, -0.140194810877287579, -0.024887240346928595, 0.060803022327694536,
        0.156723723136154680,  0.212757207005926929,  0.253322017921871923,  0.300579922932062704,
        0.332401346912122142,  0.332401346912122142,  0.355102795732384846,  0.357839878091738450,
        0.360113272843426757,  0.364385392373086370,  0.359962758486568613,  0.349883416376089162,
        0.345085856854474904,  0.333210687928319649,  0.326124214331729556,  0.279609375272849070};
    ExpectNear(Lowess(x3, y3).y, want3, 1e-12);
    EXPECT_EQ(Lowess({4}, {7}).y, std::vector<double>{7});
    EXPECT_TRUE(Lowess({}, {}).y.empty());
}

TEST(DiagnosticStatistics, QuantilesMatchR) {
    // qnorm(ppoints(5)) (a = 3/8) and qnorm(ppoints(12)) (a = 1/2).
    ExpectNear(
        NormalQuantiles(PlottingPositions(5)),
        {-1.17976111761186031, -0.49720057068155399, 0, 0.49720057068155399, 1.17976111761186031},
        1e-13);
    ExpectNear(
        NormalQuantiles(PlottingPositions(12)),
        {-1.73166439612224510, -1.15034938037600787, -0.81221780149991285, -0.54852228269809800,
         -0.31863936396437514, -0.10463345561407539, 0.10463345561407526, 0.31863936396437514,
         0.54852228269809822, 0.81221780149991285, 1.15034938037600787, 1.73166439612224554},
        1e-13);
    // quantile(c(1, 2, 3, 4, 5, 9), c(0.25, 0.75)): 2.25 4.75
    EXPECT_DOUBLE_EQ(SampleQuantile({1, 2, 3, 4, 5, 9}, 0.25), 2.25);
    EXPECT_DOUBLE_EQ(SampleQuantile({1, 2, 3, 4, 5, 9}, 0.75), 4.75);
    EXPECT_DOUBLE_EQ(SampleQuantile({3}, 0.25), 3);
}

TEST(DiagnosticStatistics, RoundTicksAndTheirLabels) {
    const struct {
        double lo, hi;
        std::vector<std::string> labels;
    } cases[] = {
        {-0.037, 0.081, {"-0.02", "0.00", "0.02", "0.04", "0.06", "0.08"}},
        {0, 1, {"0.0", "0.2", "0.4", "0.6", "0.8", "1.0"}},
        {-3.3, 2.2, {"-3", "-2", "-1", "0", "1", "2"}},
        {11.2, 58.7, {"20", "30", "40", "50"}},
        {1.2e7, 2.9e7, {"1.5e+07", "2e+07", "2.5e+07"}},
    };
    for (const auto& c : cases) {
        const std::vector<double> ticks = NiceTicks(c.lo, c.hi, 5);
        std::vector<std::string> labels;
        for (double t : ticks) {
            EXPECT_GE(t, c.lo);
            EXPECT_LE(t, c.hi);
            labels.push_back(TickLabel(t, ticks[1] - ticks[0]));
        }
        EXPECT_EQ(labels, c.labels) << c.lo << " " << c.hi;
    }
    EXPECT_EQ(NiceTicks(2, 2).size(), 1u);
    EXPECT_EQ(NiceTicks(std::nan(""), 1).size(), 1u);
}

TEST(DiagnosticPlots, ResidualsAgainstFittedValues) {
    Known k;
    const Drawn d(k.table, TDiagnosticPlot::ResidualsFitted);
    // The dashed zero line covers much of the row of y = 0, and only that row.
    const int row = d.Pixel(0, 0).y();
    auto greyInRow = [&](int y) {
        int count = 0;
        for (int x = int(d.frame.area.left()) + 1; x < int(d.frame.area.right()); ++x)
            count += QColor(d.image.pixel(x, y)) == QColor(0x70, 0x70, 0x70);
        return count;
    };
    EXPECT_GT(greyInRow(row), d.frame.area.width() * 0.4);
    EXPECT_EQ(greyInRow(row - 3), 0);
    EXPECT_EQ(greyInRow(row + 3), 0);
    for (uint16_t i = 1; i <= k.table.DataCount(); ++i)
        EXPECT_TRUE(d.Near(k.table.GetyHat(i), k.table.Gete(i), 1, IsMark)) << i;
    // The smoother crosses the middle of the plot, in red.
    const double mid = k.table.GetyHat(8);
    int red = 0;
    for (int y = int(d.frame.area.top()); y < int(d.frame.area.bottom()); ++y)
        red += IsRed(QColor(d.image.pixel(d.Pixel(mid, 0).x(), y)));
    EXPECT_GT(red, 0);
}

TEST(DiagnosticPlots, NormalQQLinePassesThroughTheQuartiles) {
    Known k;
    const Drawn d(k.table, TDiagnosticPlot::NormalQQ);
    std::vector<double> r;
    for (uint16_t i = 1; i <= k.table.DataCount(); ++i)
        r.push_back(k.table.GetStandardizedResidual(i));
    std::sort(r.begin(), r.end());
    const double z = NormalQuantiles({0.75})[0];
    const double q1 = SampleQuantile(r, 0.25), q3 = SampleQuantile(r, 0.75);
    EXPECT_TRUE(d.Near(-z, q1, 1, IsGrey));
    EXPECT_TRUE(d.Near(z, q3, 1, IsGrey));
    // ... and not through points well off it.
    const double off = (d.frame.yMax - d.frame.yMin) / 10;
    EXPECT_FALSE(d.Near(-z, q1 + off, 1, IsGrey));
    EXPECT_FALSE(d.Near(z, q3 - off, 1, IsGrey));
    // The sorted residuals at the normal quantiles of their plotting positions.
    const std::vector<double> q = NormalQuantiles(PlottingPositions(r.size()));
    for (std::size_t i = 0; i < r.size(); ++i) EXPECT_TRUE(d.Near(q[i], r[i], 1, IsMark)) << i;
}

TEST(DiagnosticPlots, ScaleLocationAndLeverage) {
    Known k;
    const Drawn scale(k.table, TDiagnosticPlot::ScaleLocation);
    EXPECT_EQ(scale.frame.yMin, 0);
    for (uint16_t i = 1; i <= k.table.DataCount(); ++i)
        EXPECT_TRUE(scale.Near(k.table.GetyHat(i),
                               std::sqrt(std::fabs(k.table.GetStandardizedResidual(i))), 1, IsMark))
            << i;

    const Drawn lev(k.table, TDiagnosticPlot::ResidualsLeverage);
    EXPECT_EQ(lev.frame.xMin, 0);
    for (uint16_t i = 1; i <= k.table.DataCount(); ++i)
        EXPECT_TRUE(lev.Near(k.table.GetLeverage(i), k.table.GetStandardizedResidual(i), 1, IsMark))
            << i;
    // The contour of Cook's distance 0.5 (two coefficients) where it crosses the plot: a dash
    // within a few pixels at each point along it.
    int hits = 0, inside = 0;
    for (double h = 0.3; h < lev.frame.xMax; h += 0.05) {
        const double r = std::sqrt(0.5 * 2 * (1 - h) / h);
        if (r > lev.frame.yMax) continue;
        ++inside;
        hits += lev.Near(h, r, 4, IsRed);
        EXPECT_FALSE(lev.Near(h, r - 0.25, 1, IsRed)) << h;
    }
    EXPECT_GT(inside, 3);
    EXPECT_EQ(hits, inside);
}

TEST(DiagnosticPlots, SvgIsXmlWithTheTitleAndPngIsTheDrawing) {
    Known k;
    for (TDiagnosticPlot kind : kDiagnosticPlots) {
        const QByteArray svg = DiagnosticSvg(k.table, kind);
        QXmlStreamReader xml(svg);
        QStringList texts;
        QString viewBox;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement) continue;
            if (xml.name() == u"svg") viewBox = xml.attributes().value("viewBox").toString();
            if (xml.name() == u"text") texts << xml.readElementText().trimmed();
        }
        EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
        EXPECT_EQ(viewBox, "0 0 800 600");
        EXPECT_TRUE(texts.contains(DiagnosticPlotTitle(kind))) << texts.join('|').toStdString();
        // The most extreme records are named: the outlier in the Q-Q plot, the far point by its
        // Cook's distance, beside the contours' levels.
        if (kind == TDiagnosticPlot::NormalQQ) {
            EXPECT_TRUE(texts.contains("5"));
        }
        if (kind == TDiagnosticPlot::ResidualsLeverage) {
            for (const char* text : {"12", "0.5", "1", "Cook's distance"})
                EXPECT_TRUE(texts.contains(text)) << text << ": " << texts.join('|').toStdString();
        }

        QImage png;
        ASSERT_TRUE(png.loadFromData(DiagnosticPng(k.table, kind), "PNG"));
        EXPECT_EQ(png.size(), QSize(kDiagnosticWidth, kDiagnosticHeight));
        EXPECT_EQ(png.pixel(2, 2), qRgb(255, 255, 255));
        EXPECT_EQ(png, Drawn(k.table, kind).image.convertToFormat(png.format()));
    }
}

TEST(DiagnosticPlots, SvgCurvesStayInsideThePlotArea) {
    // SVG output keeps no clip region: the smooths, the Q-Q line and the contours of Cook's
    // distance (which run off the known fit's plot at the top and bottom) must be cut by hand.
    Known k;
    const QRegularExpression pair("(-?[0-9.]+),(-?[0-9.]+)");
    for (TDiagnosticPlot kind : kDiagnosticPlots) {
        const QRectF area = Drawn(k.table, kind).frame.area.adjusted(-1, -1, 1, 1);
        QXmlStreamReader xml(DiagnosticSvg(k.table, kind));
        QString stroke;
        int points = 0;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement) continue;
            if (xml.name() == u"g") stroke = xml.attributes().value("stroke").toString();
            if (xml.name() != u"path" || (stroke != "#d62728" && stroke != "#707070")) continue;
            auto it = pair.globalMatch(xml.attributes().value("d").toString());
            while (it.hasNext()) {
                const auto m = it.next();
                const QPointF at(m.captured(1).toDouble(), m.captured(2).toDouble());
                EXPECT_TRUE(area.contains(at)) << DiagnosticPlotFileName(kind).toStdString() << ": "
                                               << at.x() << ", " << at.y();
                ++points;
            }
        }
        EXPECT_GT(points, 1) << DiagnosticPlotFileName(kind).toStdString();
    }
}

TEST(DiagnosticPlots, FitsWithNothingFiniteStillDraw) {
    // Two records, two coefficients: no residual degree of freedom, so no standardized
    // residual; and every residual is 0 with one fitted value each.
    Known exact({{"X1", "Y"}, {{1, 2}, {2, 5}}});
    for (TDiagnosticPlot kind : kDiagnosticPlots) {
        const Drawn d(exact.table, kind);
        EXPECT_TRUE(std::isfinite(d.frame.xMin) && d.frame.xMax > d.frame.xMin);
        EXPECT_TRUE(std::isfinite(d.frame.yMin) && d.frame.yMax > d.frame.yMin);
        EXPECT_EQ(d.image.pixel(2, 2), qRgb(255, 255, 255));
    }
    const Drawn fitted(exact.table, TDiagnosticPlot::ResidualsFitted);
    EXPECT_TRUE(fitted.Near(exact.table.GetyHat(1), 0, 1, IsMark));
    const QByteArray svg = DiagnosticSvg(exact.table, TDiagnosticPlot::NormalQQ);
    EXPECT_TRUE(svg.contains("No record has finite values to plot"));
}

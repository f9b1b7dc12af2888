// The plot window: the positions of the dots read from the pixels of its image, the frame around
// them (labels, caption, menus, colours, hints), the border fill against a plain reference fill,
// and the application hint it relies on.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QEnterEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QToolButton>
#include <cmath>
#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host/widgets/apphint.h"
#include "support/tav_test_support.h"
#include "support/tav_ui_support.h"
#include "tav/formfile.h"
#include "tav/forms.h"
#include "tav/tavclasses.h"
#include "tav/tavplot.h"
#include "tav/tavquery.h"
#include "tav/tavtable.h"

using namespace tav;

namespace {

const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kMaroon = qRgb(128, 0, 0);

struct Row {
    double x1, x2, x3, y;
};

using tavtest::None;

// A table "t" of the given rows, loaded into a component with `controls` of its three control
// columns, and fitted unless told otherwise.
template <typename Component>
class Loaded {
  public:
    explicit Loaded(const std::vector<Row>& rows, int controls = 3, bool execute = true) {
        std::ostringstream sql;
        sql.precision(17);
        sql << "BEGIN; CREATE TABLE t(x1 REAL, x2 REAL, x3 REAL, y REAL);";
        for (const Row& r : rows)
            sql << "INSERT INTO t VALUES (" << r.x1 << ", " << r.x2 << ", " << r.x3 << ", " << r.y
                << ");";
        sql << "COMMIT;";
        tavtest::Point(c, db_.Exec(sql.str()));
        const char* fields[] = {"x1", "x2", "x3"};
        for (int k = 1; k <= controls; ++k) c.SetControl(k, None(fields[k - 1]));
        TDependentVar response;
        response.SetField("y");
        c.SetResponse(response);
        c.Open();
        c.ReLoad();
        if (execute) c.Execute();
    }
    Component c;

  private:
    tavtest::TTempDb db_;
};

// Opens the component's plot window and lets `act` work on it while it is shown.
template <typename Component>
void WithPlots(Component& c, const std::function<void(TTAVPlotForm&)>& act) {
    int shown = 0;
    struct Restore {
        TModalHook previous;
        ~Restore() { SetModalHook(std::move(previous)); }
    } restore{SetModalHook([&](QDialog* dialog) {
        ++shown;
        auto* form = dynamic_cast<TTAVPlotForm*>(dialog);
        ASSERT_NE(form, nullptr);
        ASSERT_TRUE(form->isVisible());
        act(*form);
    })};
    c.ShowPlots();
    EXPECT_EQ(shown, 1);
}

using tavtest::Child;

std::vector<std::string> Labels(const TTAVPlotForm& form) {
    std::vector<std::string> texts;
    for (const char* name : {"xMinLabel", "xMaxLabel", "yMinLabel", "yMaxLabel"})
        texts.push_back(tavtest::LabelText(form, name).toStdString());
    return texts;
}

void Click(const TTAVPlotForm& form, const char* button) {
    Child<QToolButton>(form, button)->click();
}

void Trigger(const TTAVPlotForm& form, const char* item) { Child<QAction>(form, item)->trigger(); }

// The pixels of a dot drawn at (x, y) that fall on a w x h image: the 4 x 4 cell below and to
// the right of the position, less its corners.
std::set<std::pair<int, int>> DotPixels(int x, int y, int w = 327, int h = 185) {
    std::set<std::pair<int, int>> pixels;
    for (int dy = 0; dy < 4; ++dy) {
        for (int dx = 0; dx < 4; ++dx) {
            const bool corner = (dx == 0 || dx == 3) && (dy == 0 || dy == 3);
            const int px = x + dx;
            const int py = y + dy;
            if (!corner && px >= 0 && py >= 0 && px < w && py < h) pixels.insert({px, py});
        }
    }
    return pixels;
}

// The bottom rows of the image hold the tops of dots whose centres lie below it: the fill starts
// off the image, so they keep their black outline. Checks of the dot colour leave them out.
constexpr int kEdgeRows = 3;

// Every pixel of the region that is not the background, which must all be of the dot colour.
std::set<std::pair<int, int>> DotPixelsOf(const QImage& image, QRgb dot, QRgb background,
                                          QRect region = QRect()) {
    if (region.isNull()) region = QRect(0, 0, image.width(), image.height() - kEdgeRows);
    std::set<std::pair<int, int>> pixels;
    for (int y = region.top(); y <= region.bottom(); ++y) {
        for (int x = region.left(); x <= region.right(); ++x) {
            const QRgb c = image.pixel(x, y);
            if (c == background) continue;
            EXPECT_EQ(c, dot) << "pixel " << x << ", " << y;
            pixels.insert({x, y});
        }
    }
    return pixels;
}

// The image shows exactly dots at these positions (on the background), nothing else.
void ExpectDotsAt(const QImage& image, std::initializer_list<QPoint> dots, QRgb dot = kMaroon,
                  QRgb background = kWhite) {
    std::set<std::pair<int, int>> expected;
    for (const QPoint& d : dots)
        expected.merge(DotPixels(d.x(), d.y(), image.width(), image.height() - kEdgeRows));
    EXPECT_EQ(DotPixelsOf(image, dot, background), expected);
}

// The columns and rows the dots cover.
std::set<int> Columns(const QImage& image, QRgb dot = kMaroon) {
    std::set<int> xs;
    for (const auto& [x, y] : DotPixelsOf(image, dot, kWhite)) xs.insert(x);
    return xs;
}
std::set<int> Rows(const QImage& image, QRect region) {
    std::set<int> ys;
    for (const auto& [x, y] : DotPixelsOf(image, kMaroon, kWhite, region)) ys.insert(y);
    return ys;
}

bool Blank(const QImage& image, QRgb background = kWhite) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != background) return false;
    return true;
}

// 100 records: three that the tests look at, the rest at the bottom of the response's range
// (drawn below the image in the scatter plots) with control values inside the ranges.
//   record 1: largest response, x1 = 10 (middle), x2 and x3 at their maxima
//   record 2: x1 at its maximum 15, x2 and x3 at their minima -2.7 and 0.4
//   record 3: x1 at its minimum 5, x2 and x3 in the middle of their ranges
std::vector<Row> ThreeMarkedRecords() {
    std::vector<Row> rows;
    rows.push_back({10, 7.3, 9.4, 100});
    rows.push_back({15, -2.7, 0.4, 60});
    rows.push_back({5, 2.3, 4.9, 30});
    for (int i = 4; i <= 100; ++i) {
        rows.push_back(
            {6 + (i * 37 % 80) / 10.0, -2 + (i * 53 % 90) / 10.0, 1 + (i * 29 % 80) / 10.0, 0});
    }
    return rows;
}

// 100 records with the response only (fitted by the mean).
std::vector<Row> Responses(const std::vector<double>& y) {
    std::vector<Row> rows;
    for (std::size_t i = 0; i < y.size(); ++i)
        rows.push_back({static_cast<double>(i % 7), static_cast<double>(i % 5),
                        static_cast<double>(i % 3), y[i]});
    return rows;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Positions on the design image (327 x 185, n = 100: PlotWidth 323.73, PlotHeight 175.75)

TEST(PlotPositions, ResidualsVersusInputOrder) {
    // Intercept-only fit: residuals are the responses less their mean 0.25. Records 1 and 100
    // share the largest residual (top of the range), record 50 lies at mid height, the others at
    // the bottom of the range, below the image.
    std::vector<double> y(100, 0.0);
    y[0] = y[99] = 10;
    y[49] = 5;
    Loaded<TTAVTable> l(Responses(y), 0);
    WithPlots(l.c, [](TTAVPlotForm& form) {
        Click(form, "ResidualvsInputBtn");
        EXPECT_EQ(form.windowTitle().toStdString(), "Plot of Residual vs. Input Order");
        ExpectDotsAt(form.Image(), {{3, 10}, {161, 98}, {323, 10}});
        EXPECT_EQ(Labels(form), (std::vector<std::string>{"1", "100", "-0.25", "9.75"}));
        EXPECT_EQ(form.Last(), 1);
    });
}

TEST(PlotPositions, EcdfOfStandardizedResiduals) {
    // Residuals +-1, fifty each: standardized -+0.995, two rows of touching dots (Y = 127 and
    // 68) from the smallest at X = 2 to the largest at X = 323.
    std::vector<double> y(100);
    for (int i = 0; i < 100; ++i) y[i] = i % 2 ? 1 : -1;
    Loaded<TTAVQuery> halves(Responses(y), 0);
    WithPlots(halves.c, [](TTAVPlotForm& form) {
        Click(form, "ECDFPlotBtn");
        const std::set<int> xs = Columns(form.Image());
        EXPECT_EQ(*xs.begin(), 2);
        EXPECT_EQ(*xs.rbegin(), 323 + 3);
        EXPECT_EQ(Rows(form.Image(), QRect(0, 0, 6, 185)), (std::set<int>{127, 128, 129, 130}));
        EXPECT_EQ(Rows(form.Image(), QRect(321, 0, 6, 185)), (std::set<int>{68, 69, 70, 71}));
        EXPECT_EQ(form.windowTitle().toStdString(),
                  "Empirical Cumulative Distribution Function Plot");
        EXPECT_EQ(Labels(form), (std::vector<std::string>{"0", "1", "-3.00", "3.00"}));
        EXPECT_EQ(form.Last(), 4);
    });
    // Residuals +-sqrt(2) once each, +-1 nine times each, 0 eighty times: standardized -3,
    // -2.12, 0, 2.12 and 3.
    std::fill(y.begin(), y.end(), 0.0);
    y[10] = std::sqrt(2.0);
    y[20] = -std::sqrt(2.0);
    for (int k = 0; k < 9; ++k) {
        y[30 + k] = 1;
        y[40 + k] = -1;
    }
    Loaded<TTAVTable> levels(Responses(y), 0);
    WithPlots(levels.c, [](TTAVPlotForm& form) {
        Click(form, "ECDFPlotBtn");
        const QImage& image = form.Image();
        // 3 at Y = 10: the largest, alone at the top right.
        EXPECT_EQ(DotPixelsOf(image, kMaroon, kWhite, QRect(0, 0, 327, 30)), DotPixels(323, 10));
        // 0 at Y = 98: the eighty touching dots in the middle.
        EXPECT_EQ(Rows(image, QRect(40, 0, 240, 185)), (std::set<int>{98, 99, 100, 101}));
        // -3 at Y = 185, wholly below the image: nothing under the -2.12 dots at Y = 160.
        EXPECT_EQ(Rows(image, QRect(0, 150, 327, 32)), (std::set<int>{160, 161, 162, 163}));
    });
}

TEST(PlotPositions, PlotsAgainstAControlVariable) {
    Loaded<TTAVTable> l(ThreeMarkedRecords());
    WithPlots(l.c, [](TTAVPlotForm& form) {
        // y from 0 to 100: 100 at Y = 10, 60 at Y = 80, 30 at Y = 133, 0 below the image.
        // x1 from 5 to 15, minimum 5: shifted 1 pixel right; 10 at X = 1 + 161.
        Trigger(form, "X011");
        ExpectDotsAt(form.Image(), {{162, 10}, {1 + 323, 80}, {1 + 0, 133}});
        EXPECT_EQ(form.windowTitle().toStdString(), "Scatter Plot of y vs. x1");
        EXPECT_EQ(Labels(form), (std::vector<std::string>{"5.00", "15.00", "0.00", "100.00"}));
        EXPECT_EQ(form.Last(), 11);
        // x2 from -2.7 to 7.3: 2 pixels left of the range's own positions 323, 0 and 161.
        Trigger(form, "X021");
        ExpectDotsAt(form.Image(), {{323 - 2, 10}, {0 - 2, 80}, {161 - 2, 133}});
        const std::set<int> scatter = Columns(form.Image());
        // x3 from 0.4 to 9.4: not shifted.
        Trigger(form, "X031");
        ExpectDotsAt(form.Image(), {{323, 10}, {0, 80}, {161, 133}});
        EXPECT_EQ(form.Choice(), 3);
        EXPECT_EQ(form.Last(), 31);
        // The residual plot of x2 puts the same records in the same columns.
        Trigger(form, "X022");
        EXPECT_EQ(form.windowTitle().toStdString(),
                  "Plot of Residual vs. Independent Variable (x2)");
        EXPECT_EQ(form.Last(), 22);
        const std::set<int> residual = Columns(form.Image());
        EXPECT_EQ(*residual.rbegin(), 321 + 3);
        EXPECT_TRUE(
            std::includes(residual.begin(), residual.end(), scatter.begin(), scatter.end()));
    });
    // A minimum far below zero would push the dots off the image: the shift stops at 2 pixels.
    std::vector<Row> rows = ThreeMarkedRecords();
    for (Row& r : rows) r.x2 -= 1000;
    tavtest::TMessageRecorder messages;
    Loaded<TTAVTable> far(rows);
    WithPlots(far.c, [](TTAVPlotForm& form) {
        Trigger(form, "X021");
        ExpectDotsAt(form.Image(), {{321, 10}, {-2, 80}, {159, 133}});
    });
}

TEST(PlotPositions, ResidualsVersusResponseAndFittedValues) {
    Loaded<TTAVTable> l(ThreeMarkedRecords());
    WithPlots(l.c, [](TTAVPlotForm& form) {
        // The largest response at X = trunc(323.73) + 1 = 324, the next (60) at X = 195.
        Click(form, "ResidualvsDepVarBtn");
        EXPECT_EQ(form.windowTitle().toStdString(), "Plot of Residual vs. Dep Variable (y)");
        EXPECT_EQ(form.Last(), 2);
        const std::set<int> xs = Columns(form.Image());
        EXPECT_EQ(std::vector<int>(xs.lower_bound(190), xs.end()),
                  (std::vector<int>{195, 196, 197, 198, 324, 325, 326}));
        EXPECT_EQ(Labels(form)[1], "100.00");

        Click(form, "ResidualvsFittedBtn");
        EXPECT_EQ(form.windowTitle().toStdString(), "Plot of Residual vs. Fitted y");
        EXPECT_EQ(form.Last(), 3);
        EXPECT_EQ(*Columns(form.Image()).rbegin(), 324 + 2);
    });
}

// ---------------------------------------------------------------------------------------------
// The frame

TEST(PlotFrame, VariablePopupsClearTheImageAndOfferOnlyExistingVariables) {
    Loaded<TTAVTable> l(ThreeMarkedRecords());
    WithPlots(l.c, [](TTAVPlotForm& form) {
        auto* status = Child<QLabel>(form, "StatusBar");
        for (const bool scatter : {true, false}) {
            const char* button = scatter ? "ScatterButton" : "ResidualvsIndepVarBtn";
            QMenu* popup = Child<QMenu>(form, scatter ? "ScatterPopup" : "ResidualPopup");
            Click(form, "ECDFPlotBtn");
            ASSERT_FALSE(Blank(form.Image()));
            Click(form, button);
            ASSERT_TRUE(popup->isVisible());
            EXPECT_EQ(popup->pos(), form.PopupPoint(Child<QWidget>(form, button)));
            EXPECT_EQ(status->text().toStdString(),
                      scatter ? "Scatter Plots" : "Independent Variable Residual Analysis");
            // The status line follows the highlighted item; X4..X10 are disabled, hint erased.
            auto moveTo = [popup](int k) {
                const QPoint at = popup->actionGeometry(popup->actions()[k - 1]).center();
                QMouseEvent move(QEvent::MouseMove, at, popup->mapToGlobal(at), Qt::NoButton,
                                 Qt::NoButton, Qt::NoModifier);
                QApplication::sendEvent(popup, &move);
            };
            moveTo(2);
            EXPECT_EQ(status->text().toStdString(),
                      scatter ? "Scatter Plot of dependent variable Y vs. independent variable X2"
                              : "Plot residual (Y - fitted Y) vs. independent variable X2");
            moveTo(5);
            EXPECT_EQ(status->text().toStdString(), "");
            moveTo(3);
            EXPECT_NE(status->text().toStdString(), "");
            for (int k = 1; k <= 10; ++k) {
                QAction* item = popup->actions()[k - 1];
                EXPECT_EQ(item->isEnabled(), k <= 3) << button << k;
                EXPECT_EQ(MenuItemHint(item).empty(), k > 3) << button << k;
            }
            // Dismissed without a choice: the image, caption and labels stay cleared.
            popup->hide();
            EXPECT_EQ(status->text().toStdString(), "");
            EXPECT_TRUE(Blank(form.Image()));
            EXPECT_EQ(form.windowTitle().toStdString(), "Multiple Regression Plot Form");
            EXPECT_EQ(Labels(form), (std::vector<std::string>{"", "", "", ""}));
            EXPECT_EQ(form.Last(), 0);
        }
        // Resting on a tool bar button shows the part of its hint after the bar: nothing.
        SetHint("something else");
        EXPECT_EQ(status->text().toStdString(), "something else");
        auto* reset = Child<QToolButton>(form, "ResetButton");
        EXPECT_EQ(reset->toolTip().toStdString(), "Clear Plot");
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), reset->mapToGlobal(QPointF(5, 5)));
        QApplication::sendEvent(reset, &enter);
        EXPECT_EQ(status->text().toStdString(), "");
    });
}

TEST(PlotFrame, ColourChangesRedrawTheCurrentPlot) {
    Loaded<TTAVTable> l(ThreeMarkedRecords());
    const QRgb yellow = qRgb(255, 255, 0), green = qRgb(0, 128, 0), teal = qRgb(0, 128, 128);
    WithPlots(l.c, [&](TTAVPlotForm& form) {
        auto* color = Child<QToolButton>(form, "ColorBtn");
        EXPECT_EQ(color->palette().color(QPalette::ButtonText), QColor(kMaroon));
        // Nothing plotted: a background fills the image, a dot colour recolours only the button.
        Trigger(form, "Yellow1");
        EXPECT_TRUE(Blank(form.Image(), yellow));
        Trigger(form, "mnuBlack");
        EXPECT_TRUE(Blank(form.Image(), yellow));
        EXPECT_EQ(color->palette().color(QPalette::ButtonText), QColor(Qt::black));
        EXPECT_EQ(form.windowTitle().toStdString(), "Multiple Regression Plot Form");
        EXPECT_EQ(form.Last(), 0);

        // The scatter plot of X2, redrawn whole in each new colour.
        Trigger(form, "X021");
        ExpectDotsAt(form.Image(), {{321, 10}, {-2, 80}, {159, 133}}, qRgb(0, 0, 0), yellow);
        Trigger(form, "mnuGreen");
        EXPECT_EQ(form.Last(), 21);
        EXPECT_EQ(form.windowTitle().toStdString(), "Scatter Plot of y vs. x2");
        EXPECT_EQ(Labels(form), (std::vector<std::string>{"-2.70", "7.30", "0.00", "100.00"}));
        ExpectDotsAt(form.Image(), {{321, 10}, {-2, 80}, {159, 133}}, green, yellow);
        EXPECT_EQ(color->palette().color(QPalette::ButtonText), QColor(green));
        Trigger(form, "Teal1");
        ExpectDotsAt(form.Image(), {{321, 10}, {-2, 80}, {159, 133}}, green, teal);

        // A button plot redraws as itself; after a clear there is nothing to redraw.
        Click(form, "ResidualvsInputBtn");
        Trigger(form, "mnuGray");
        EXPECT_EQ(form.Last(), 1);
        EXPECT_EQ(form.windowTitle().toStdString(), "Plot of Residual vs. Input Order");
        Click(form, "ResetButton");
        Trigger(form, "Aqua1");
        EXPECT_TRUE(Blank(form.Image(), qRgb(0, 255, 255)));
        EXPECT_EQ(form.Last(), 0);
    });
    // Each new window starts with maroon dots on white and nothing to redraw.
    WithPlots(l.c, [](TTAVPlotForm& form) {
        EXPECT_EQ(form.DotColor(), QColor(kMaroon));
        EXPECT_EQ(form.CanvasColor(), QColor(kWhite));
        EXPECT_EQ(Child<QToolButton>(form, "ColorBtn")->palette().color(QPalette::ButtonText),
                  QColor(kMaroon));
        Trigger(form, "White1");
        EXPECT_TRUE(Blank(form.Image()));
        Trigger(form, "X031");
        ExpectDotsAt(form.Image(), {{323, 10}, {0, 80}, {161, 133}});
    });
}

TEST(PlotFrame, AxisLabels) {
    // Seven significant digits at most; a longer integer part is written with an exponent.
    std::vector<Row> rows = ThreeMarkedRecords();
    rows[0].y = 12345678.0;
    rows[2].y = -0.004;
    Loaded<TTAVTable> l(rows);
    WithPlots(l.c, [](TTAVPlotForm& form) {
        // Before any plot: the first variable's range and the response's.
        EXPECT_EQ(Labels(form),
                  (std::vector<std::string>{"5.00", "15.00", "0.00", "1.234568E+07"}));
        form.SetAxes(3, 1, 123456.789, -2.5, 0.05, 9999999.4);
        EXPECT_EQ(Labels(form),
                  (std::vector<std::string>{"123456.800", "-2.500", "0.1", "9999999.0"}));
        auto* xMin = Child<QLabel>(form, "xMinLabel");  // sized to its text
        EXPECT_GE(xMin->width(), xMin->fontMetrics().horizontalAdvance("123456.800"));
    });
}

TEST(PlotFrame, WindowLifeAndTheHintHandler) {
    Loaded<TTAVQuery> l(ThreeMarkedRecords());
    int calls = 0;
    const TNotifyEvent before = SetOnHint([&calls] { ++calls; });
    QPointer<TTAVPlotForm> seen;
    WithPlots(l.c, [&](TTAVPlotForm& form) {
        seen = &form;
        SetHint("inside");
        EXPECT_EQ(Child<QLabel>(form, "StatusBar")->text().toStdString(), "inside");
        Click(form, "CloseButton");
        EXPECT_FALSE(form.isVisible());
    });
    EXPECT_TRUE(seen.isNull()) << "freed when its modal loop ends";
    EXPECT_EQ(calls, 0);
    SetHint("outside");  // the previous handler is back
    EXPECT_EQ(calls, 1);
    // A handler of a freed window that was kept and put back calls nothing.
    TNotifyEvent kept;
    WithPlots(l.c, [&](TTAVPlotForm&) { kept = OnHint(); });
    SetOnHint(kept);
    SetHint("after");
    SetOnHint(before);
}

// ---------------------------------------------------------------------------------------------
// Data without a usable range: no division by zero, the values drawn at the bottom or left

TEST(PlotDegenerate, NoRecordsAndZeroRanges) {
    TTAVTable never;  // nothing loaded: n = 0, m = 0
    WithPlots(never, [](TTAVPlotForm& form) {
        for (const char* b : {"ResidualvsInputBtn", "ResidualvsDepVarBtn", "ResidualvsFittedBtn",
                              "ECDFPlotBtn", "ScatterButton", "ResidualvsIndepVarBtn"}) {
            Click(form, b);
            EXPECT_TRUE(Blank(form.Image())) << b;
        }
        for (const char* name : {"ScatterPopup", "ResidualPopup"}) {
            QMenu* popup = Child<QMenu>(form, name);
            for (QAction* item : popup->actions()) EXPECT_FALSE(item->isEnabled());
            popup->hide();
        }
        Click(form, "ResidualvsInputBtn");
        EXPECT_EQ(Labels(form), (std::vector<std::string>{"1", "0", "0.00", "0.00"}));
        form.ScatterItemClick(4);  // a variable that does not exist, chosen by code
        EXPECT_TRUE(Blank(form.Image()));
    });
    // Loaded, not fitted: residuals, fitted values and the standard error are all 0.
    Loaded<TTAVTable> unfitted(ThreeMarkedRecords(), 3, false);
    WithPlots(unfitted.c, [](TTAVPlotForm& form) {
        Click(form, "ResidualvsFittedBtn");  // both ranges 0..0: at the bottom, unseen
        EXPECT_TRUE(Blank(form.Image()));
        Click(form, "ECDFPlotBtn");  // standardized residuals 0, not 0 / 0: Y = 98
        EXPECT_EQ(Rows(form.Image(), form.Image().rect()), (std::set<int>{98, 99, 100, 101}));
    });
    // An intercept-only fit: every fitted value is the mean, drawn at X = 0 + 1.
    std::vector<double> y(100);
    for (int i = 0; i < 100; ++i) y[i] = i % 4;
    Loaded<TTAVQuery> mean(Responses(y), 0);
    WithPlots(mean.c, [](TTAVPlotForm& form) {
        Click(form, "ResidualvsFittedBtn");
        EXPECT_EQ(Columns(form.Image()), (std::set<int>{1, 2, 3, 4}));
    });
    // A constant column (the load is refused; its values stay): at the left edge.
    tavtest::TMessageRecorder messages;
    std::vector<Row> rows = ThreeMarkedRecords();
    for (Row& r : rows) r.x3 = 4;
    Loaded<TTAVTable> constant(rows, 3, false);
    ASSERT_FALSE(constant.c.ValuesLoaded());
    WithPlots(constant.c, [](TTAVPlotForm& form) {
        form.ScatterItemClick(3);
        EXPECT_EQ(Columns(form.Image()), (std::set<int>{1, 2, 3, 4}));
    });
}

// ---------------------------------------------------------------------------------------------
// The canvas against plain drawing

namespace {

// What the canvas must do, done the plain way: QPainter draws each ellipse on the bitmap and a
// search visits every pixel of the region.
struct PlainCanvas {
    QImage image{327, 185, QImage::Format_RGB32};
    QColor brush = Qt::white;

    void FillRect(const QRect& r) { QPainter(&image).fillRect(r, brush); }
    void Ellipse(int x1, int y1, int x2, int y2) {
        QPainter p(&image);
        p.setBrush(brush);
        p.drawEllipse(QRectF(x1 + 0.5, y1 + 0.5, x2 - x1 - 1, y2 - y1 - 1));
    }
    void FloodFill(int x, int y, QRgb border) {
        if (!image.rect().contains(x, y) || image.pixel(x, y) == border) return;
        std::vector<uint8_t> seen(static_cast<std::size_t>(image.width() * image.height()));
        std::vector<QPoint> todo{{x, y}};
        seen[static_cast<std::size_t>(y * image.width() + x)] = 1;
        while (!todo.empty()) {
            const QPoint p = todo.back();
            todo.pop_back();
            image.setPixel(p, brush.rgb());
            for (const QPoint& q :
                 {p + QPoint(1, 0), p - QPoint(1, 0), p + QPoint(0, 1), p - QPoint(0, 1)}) {
                if (!image.rect().contains(q)) continue;
                auto& s = seen[static_cast<std::size_t>(q.y() * image.width() + q.x())];
                if (s || image.pixel(q) == border) continue;
                s = 1;
                todo.push_back(q);
            }
        }
    }
};

}  // namespace

TEST(PlotCanvas, DenseDotsMatchAPlainFill) {
    // 2500 dots in clusters, many touching, many across the edges, as a plot of a full dataset
    // draws them. Later rounds change the brush (the border colour too), fill parts of the
    // bitmap and start fills anywhere, against any border.
    std::mt19937 random(12345);
    const QRgb colours[] = {qRgb(128, 0, 0), qRgb(0, 0, 0), qRgb(0, 128, 0), qRgb(255, 255, 255),
                            qRgb(0, 128, 128)};
    for (int round = 0; round < 3; ++round) {
        TPlotCanvas canvas(327, 185);
        PlainCanvas plain;
        auto brush = [&](QRgb c) {
            canvas.SetBrushColor(QColor::fromRgb(c));
            plain.brush = QColor::fromRgb(c);
        };
        brush(kWhite);
        canvas.FillRect(QRect(0, 0, 327, 185));
        plain.FillRect(QRect(0, 0, 327, 185));
        brush(kMaroon);
        std::normal_distribution<double> cluster(0, 18);
        std::uniform_int_distribution<int> anywhere(-5, 330);
        std::uniform_int_distribution<int> pick(0, 999);
        int cx = 160, cy = 90;
        for (int i = 0; i < 2500; ++i) {
            if (pick(random) < 20) {
                cx = anywhere(random);
                cy = anywhere(random) * 185 / 330;
            }
            const int x = cx + static_cast<int>(cluster(random));
            const int y = cy + static_cast<int>(cluster(random) / 2);
            canvas.Ellipse(x, y, x + 4, y + 4);
            plain.Ellipse(x, y, x + 4, y + 4);
            canvas.FloodFill(x + 2, y + 2, Qt::white);
            plain.FloodFill(x + 2, y + 2, kWhite);
            if (round > 0 && pick(random) < 8) brush(colours[pick(random) % 5]);
            if (round == 2 && pick(random) < 3) {
                const QRect r(anywhere(random), anywhere(random) / 2, 20, 12);
                canvas.FillRect(r);
                plain.FillRect(r);
            }
            if (round == 2 && pick(random) < 5) {
                const int fx = anywhere(random), fy = anywhere(random) / 2;
                const QRgb border = colours[pick(random) % 5];
                canvas.FloodFill(fx, fy, QColor::fromRgb(border));
                plain.FloodFill(fx, fy, border);
            }
            if (i % 250 == 249) {
                ASSERT_EQ(canvas.Image(), plain.image) << round << ", " << i;
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// The application's hint

TEST(AppHint, PartsOfAHintAndWhatSetsIt) {
    EXPECT_EQ(GetShortHint("tip|status text"), "tip");
    EXPECT_EQ(GetLongHint("tip|status text"), "status text");
    EXPECT_EQ(GetLongHint("Clear Plot|"), "");
    EXPECT_EQ(GetShortHint("no bar"), "no bar");
    EXPECT_EQ(GetLongHint("no bar"), "no bar");
    EXPECT_EQ(GetLongHint("a|b|c"), "b|c");

    std::vector<std::string> seen;
    const TNotifyEvent previous = SetOnHint([&seen] { seen.push_back(Hint()); });
    SetHint("one");
    SetHint("one");  // unchanged: no event
    SetHint("two");
    EXPECT_EQ(seen, (std::vector<std::string>{"one", "two"}));

    // Resting on a control gives its long hint, or its nearest parent's; leaving it for the
    // parent gives the parent's; leaving the window clears it.
    QWidget window;
    auto* panel = new QWidget(&window);
    auto* inner = new QWidget(panel);
    auto* plain = new QWidget(panel);
    SetControlHint(panel, "Panel|Panel status");
    SetControlHint(inner, "Inner tip|Inner status");
    EXPECT_EQ(inner->toolTip().toStdString(), "Inner tip");
    auto cross = [](QWidget* w, bool enter) {
        QEnterEvent in(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
        QEvent out(QEvent::Leave);
        QApplication::sendEvent(w, enter ? static_cast<QEvent*>(&in) : &out);
    };
    cross(inner, true);
    EXPECT_EQ(Hint(), "Inner status");
    cross(inner, false);
    EXPECT_EQ(Hint(), "Panel status");
    cross(plain, true);
    EXPECT_EQ(Hint(), "Panel status");
    cross(&window, false);
    EXPECT_EQ(Hint(), "");
    SetOnHint(previous);
}

// ---------------------------------------------------------------------------------------------
// The pictures of the documentation: the report, matrix and plot windows of the bundled example's
// SalesTable. scripts/pictures.sh runs it:
//   TAV_EXAMPLE_FORM=<build>/examples/sales.dfm TAV_PICTURES=docs/images
//     test_forms --gtest_also_run_disabled_tests --gtest_filter='*Pictures*'

TEST(Pictures, DISABLED_TheExample) {
    const QString form = qEnvironmentVariable("TAV_EXAMPLE_FORM");
    const QString folder = qEnvironmentVariable("TAV_PICTURES");
    if (form.isEmpty() || folder.isEmpty()) GTEST_SKIP() << "TAV_EXAMPLE_FORM and TAV_PICTURES";
    TFormContents contents =
        ReadForm(TAVClassRegistry(), ReadTextFile(form.toStdString()), [&](TComponent& c) {
            dynamic_cast<TDataSet&>(c).SetBaseDirectory(
                QFileInfo(form).absolutePath().toStdString());
        });
    auto& sales = dynamic_cast<TTAVTable&>(*contents.components.at(0));
    if (!sales.Active()) sales.Open();
    sales.ReLoad();
    sales.Execute();
    {
        // The report window, and the matrix window its Matrix menu opens on the correlations.
        tavtest::TModalDriver driver([&](QDialog* d) {
            const bool report = d->objectName() == "RegressionOutputForm";
            d->show();
            QApplication::processEvents();
            EXPECT_TRUE(d->grab().save(folder + (report ? "/report.png" : "/matrix.png")));
            if (!report) return;
            tavtest::Child<QAction>(*d, "Correlation1")->trigger();
            tavtest::Child<QAction>(*d, "Zoom1")->trigger();
        });
        sales.Output();
    }
    WithPlots(sales, [&](TTAVPlotForm& form) {
        const std::pair<const char*, std::function<void()>> pictures[] = {
            {"plot_scatter.png", [&] { Trigger(form, "X011"); }},
            {"plot_residual_input.png", [&] { Click(form, "ResidualvsInputBtn"); }},
            {"plot_residual_indep.png", [&] { Trigger(form, "X022"); }},
            {"plot_residual_dep.png", [&] { Click(form, "ResidualvsDepVarBtn"); }},
            {"plot_residual_fitted.png", [&] { Click(form, "ResidualvsFittedBtn"); }},
            {"plot_ecdf.png", [&] { Click(form, "ECDFPlotBtn"); }}};
        for (const auto& [name, plot] : pictures) {
            plot();
            QApplication::processEvents();
            EXPECT_TRUE(form.grab().save(folder + "/" + name)) << name;
        }
    });
}

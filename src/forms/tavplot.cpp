#include "forms/tavplot.h"

#include <QAction>
#include <QFrame>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QScreen>
#include <QToolButton>
#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <utility>

#include "engine/tavquery.h"
#include "engine/tavtable.h"
#include "host/apphint.h"
#include "host/forms.h"
#include "host/sysutils.h"
#include "matrix/matrix.h"

namespace tav {

namespace {

constexpr int kImageWidth = 327;
constexpr int kImageHeight = 185;
constexpr uint16_t kDotSize = 4;
constexpr const char* kDesignCaption = "Multiple Regression Plot Form";

const QColor kMaroon(128, 0, 0);
const QColor kNavy(0, 0, 128);

// The unit's data: one copy per process, filled by TablePlot / QueryPlot each time a window
// opens and read by every plot. Modality guarantees one window at a time.
struct TPlotData {
    uint16_t n = 0;  // records
    uint16_t m = 0;  // control variables in use
    mbynp x;
    mvector y, e, g, yHat;  // g: standardized residuals, sorted ascending
    npvector xMin, xMax;
    double ymin = 0, ymax = 0, emin = 0, emax = 0, yHatmin = 0, yHatmax = 0;
    double WidthScale = 0, HeightScale = 0.95, PlotWidth = 0, PlotHeight = 0;
    std::string ResponseStr;
    std::array<std::string, MaxTerms + 1> ControlStr;
    uint16_t iChoice = 0;
    uint16_t last = 0;
    QColor DotColor = kMaroon;
    QColor CanvasColor = Qt::white;
    QColor FontColor = kNavy;
};

TPlotData& Data() {
    static TPlotData data;
    return data;
}

// The whole part of a pixel offset, toward zero. Offsets are held within a million pixels of the
// image, far outside it, so that huge or undefined values still give a position to clip; a NaN
// lands on 0.
int32_t TruncPixel(long double v) {
    if (std::isnan(v)) return 0;
    constexpr long double kLimit = 1.0e6L;
    return static_cast<int32_t>(std::clamp(v, -kLimit, kLimit));
}

// trunc((v - lo) * extent / (hi - lo)), in extended precision. A range of zero width would divide
// by zero: every value of it sits at offset 0, the bottom or left edge of the plot.
int32_t Scaled(double v, double lo, double hi, double extent) {
    const long double range = static_cast<long double>(hi) - lo;
    if (range == 0) return 0;
    return TruncPixel((static_cast<long double>(v) - lo) * extent / range);
}

// The horizontal shift of the plots against a control variable: trunc(min(1, xMin)), so 1 pixel
// for a minimum of 1 or more, none between 0 and 1 and the whole part of a negative minimum. A
// minimum below -2 would push whole columns of dots off the left edge (a variable starting at
// -50 would lose the leftmost 50 pixels of its plot), so the shift stops at -2, the last one that
// keeps the centre of a dot, and with it the fill, on the image.
int32_t VariableShift(double xMin) { return std::max(-2, TruncPixel(std::min(1.0, xMin))); }

std::string Fixed(double value, uint16_t decimals) {
    return FloatToStrF(value, TFloatFormat::ffFixed, 7, decimals);
}

// Forwards the application's hint event to the window while it lives.
struct THintForwarder {
    TTAVPlotForm* form;
    std::shared_ptr<bool> alive;
    void operator()() const {
        if (*alive) form->ShowHint();
    }
};

// ---------------------------------------------------------------------------------------------
// Glyphs of the tool bar buttons

enum class TGlyph {
    Scatter,
    ResidualInput,
    ResidualIndep,
    ResidualDep,
    ResidualFitted,
    ECDF,
    Reset,
    Close
};

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

QFont ArialFont(int pointSize) {
    QFont f("Arial");
    f.setPointSize(pointSize);
    return f;
}

QLabel* AxisLabel(const char* name, const char* text, const QRect& geometry,
                  Qt::Alignment alignment, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setFont(ArialFont(8));
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(pal);
    label->setAlignment(alignment | Qt::AlignVCenter);
    label->setGeometry(geometry);
    label->setText(text);
    return label;
}

void SetLabel(QLabel* label, const std::string& text) {
    label->setText(QString::fromStdString(text));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TPlotCanvas

TPlotCanvas::TPlotCanvas(int width, int height)
    : image_(width, height, QImage::Format_RGB32),
      brush_(qRgb(255, 255, 255)),
      pen_(qRgb(0, 0, 0)) {
    image_.fill(Qt::white);
    const auto pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    parent_.resize(pixels);
    size_.resize(pixels);
    head_.resize(pixels);
    tail_.resize(pixels);
    next_.resize(pixels);
    pending_.resize(pixels);
}

void TPlotCanvas::SetBrushColor(const QColor& color) { brush_ = color.rgb(); }

void TPlotCanvas::FillRect(const QRect& rect) {
    const QRect r = rect.intersected(image_.rect());
    if (r.isEmpty()) return;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image_.scanLine(y));
        std::fill(line + r.left(), line + r.right() + 1, brush_);
    }
    // A bitmap of one colour holds no pixels to track against that colour as border.
    tracked_ = r == image_.rect();
    trackBorder_ = brush_;
    nonBorder_ = 0;
}

// The pixels of an ellipse depend only on its size and colours, not on where it lies, so each
// shape is drawn once with QPainter on a scratch bitmap and then copied. Drawing it twice, on two
// different backgrounds, tells the pixels drawn from those left alone.
const TPlotCanvas::Stamp& TPlotCanvas::EllipseStamp(int width, int height) {
    if (stamp_.width == width && stamp_.height == height && stamp_.pen == pen_ &&
        stamp_.brush == brush_)
        return stamp_;
    constexpr int kMargin = 2;
    const QRgb backgrounds[2] = {qRgb(1, 2, 3), qRgb(254, 253, 252)};
    QImage scratch[2];
    for (int k = 0; k < 2; ++k) {
        scratch[k] = QImage(width + 2 * kMargin, height + 2 * kMargin, QImage::Format_RGB32);
        scratch[k].fill(backgrounds[k]);
        QPainter p(&scratch[k]);
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setPen(QPen(QColor::fromRgb(pen_)));
        p.setBrush(QColor::fromRgb(brush_));
        // The classic rectangle excludes its right and bottom edges: the outline runs through the
        // centres of the first and last pixels inside it.
        p.drawEllipse(QRectF(kMargin + 0.5, kMargin + 0.5, width - 1, height - 1));
    }
    stamp_.pixels.clear();
    for (int y = 0; y < scratch[0].height(); ++y) {
        for (int x = 0; x < scratch[0].width(); ++x) {
            const QRgb a = scratch[0].pixel(x, y);
            const QRgb b = scratch[1].pixel(x, y);
            if (a == backgrounds[0] && b == backgrounds[1]) continue;
            stamp_.pixels.push_back({x - kMargin, y - kMargin, a != backgrounds[0] ? a : b});
        }
    }
    stamp_.width = width;
    stamp_.height = height;
    stamp_.pen = pen_;
    stamp_.brush = brush_;
    return stamp_;
}

void TPlotCanvas::Ellipse(int x1, int y1, int x2, int y2) {
    if (x2 < x1) std::swap(x1, x2);
    if (y2 < y1) std::swap(y1, y2);
    const int64_t w = int64_t{x2} - x1;
    const int64_t h = int64_t{y2} - y1;
    if (w <= 0 || h <= 0) return;
    // Nothing of an ellipse wholly outside the bitmap is drawn; this also keeps huge ones away
    // from the scratch bitmap.
    if (x2 < 0 || y2 < 0 || x1 >= Width() || y1 >= Height()) return;
    if (w > 4 * int64_t{Width()} + 16 || h > 4 * int64_t{Height()} + 16) {
        QPainter p(&image_);
        p.setPen(QPen(QColor::fromRgb(pen_)));
        p.setBrush(QColor::fromRgb(brush_));
        p.drawEllipse(
            QRectF(x1 + 0.5, y1 + 0.5, static_cast<double>(w - 1), static_cast<double>(h - 1)));
        tracked_ = false;
        return;
    }
    if (tracked_ && nonBorder_ == 0) trackFill_ = brush_;
    for (const StampPixel& s : EllipseStamp(static_cast<int>(w), static_cast<int>(h)).pixels) {
        const int x = x1 + s.dx;
        const int y = y1 + s.dy;
        if (x >= 0 && y >= 0 && x < Width() && y < Height()) Put(x, y, s.color);
    }
}

void TPlotCanvas::Put(int x, int y, QRgb color) {
    auto* px = reinterpret_cast<QRgb*>(image_.bits());
    const int w = Width();
    const int32_t p = y * w + x;
    const QRgb old = px[p];
    px[p] = color;
    if (!tracked_ || old == color) return;
    if (color == trackBorder_) {
        // A pixel turning into the border may split its set: start again from the pixels.
        tracked_ = false;
        return;
    }
    if (old == trackBorder_) {
        MakeSet(p);
        if (x > 0 && px[p - 1] != trackBorder_) Union(p, p - 1);
        if (x + 1 < w && px[p + 1] != trackBorder_) Union(p, p + 1);
        if (y > 0 && px[p - w] != trackBorder_) Union(p, p - w);
        if (y + 1 < Height() && px[p + w] != trackBorder_) Union(p, p + w);
    }
    if (color != trackFill_) AddPending(p);
}

void TPlotCanvas::FloodFill(int x, int y, const QColor& border) {
    if (x < 0 || y < 0 || x >= Width() || y >= Height()) return;
    const QRgb b = border.rgb();
    auto* px = reinterpret_cast<QRgb*>(image_.bits());
    const int32_t start = y * Width() + x;
    if (px[start] == b) return;
    if (brush_ == b) {
        // Filling with the border colour turns the region into border: no sets survive it.
        PlainFill(x, y, b);
        tracked_ = false;
        return;
    }
    if (!tracked_ || trackBorder_ != b || trackFill_ != brush_) Rebuild(b, brush_);
    const int32_t root = Find(start);
    for (int32_t q = head_[root]; q >= 0; q = next_[q]) {
        px[q] = brush_;
        pending_[q] = 0;
    }
    head_[root] = tail_[root] = -1;
}

void TPlotCanvas::PlainFill(int x, int y, QRgb border) {
    auto* px = reinterpret_cast<QRgb*>(image_.bits());
    const int w = Width();
    const int h = Height();
    std::vector<uint8_t> seen(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    std::vector<int32_t> stack{y * w + x};
    seen[static_cast<std::size_t>(y * w + x)] = 1;
    while (!stack.empty()) {
        const int32_t p = stack.back();
        stack.pop_back();
        px[p] = brush_;
        const int32_t px0 = p % w;
        const int32_t py0 = p / w;
        const int32_t around[4][2] = {
            {px0 - 1, py0}, {px0 + 1, py0}, {px0, py0 - 1}, {px0, py0 + 1}};
        for (const auto& a : around) {
            if (a[0] < 0 || a[1] < 0 || a[0] >= w || a[1] >= h) continue;
            const int32_t q = a[1] * w + a[0];
            if (seen[static_cast<std::size_t>(q)] || px[q] == border) continue;
            seen[static_cast<std::size_t>(q)] = 1;
            stack.push_back(q);
        }
    }
}

void TPlotCanvas::Rebuild(QRgb border, QRgb fill) {
    tracked_ = true;
    trackBorder_ = border;
    trackFill_ = fill;
    nonBorder_ = 0;
    const auto* px = reinterpret_cast<const QRgb*>(image_.constBits());
    const int w = Width();
    const int32_t count = w * Height();
    for (int32_t p = 0; p < count; ++p) {
        if (px[p] == border) continue;
        MakeSet(p);
        if (p % w > 0 && px[p - 1] != border) Union(p, p - 1);
        if (p >= w && px[p - w] != border) Union(p, p - w);
    }
    for (int32_t p = 0; p < count; ++p) {
        if (px[p] != border && px[p] != fill) AddPending(p);
    }
}

void TPlotCanvas::MakeSet(int32_t p) {
    parent_[p] = p;
    size_[p] = 1;
    head_[p] = tail_[p] = -1;
    pending_[p] = 0;
    ++nonBorder_;
}

int32_t TPlotCanvas::Find(int32_t p) {
    while (parent_[p] != p) {
        parent_[p] = parent_[parent_[p]];
        p = parent_[p];
    }
    return p;
}

void TPlotCanvas::Union(int32_t a, int32_t b) {
    int32_t ra = Find(a);
    int32_t rb = Find(b);
    if (ra == rb) return;
    if (size_[ra] < size_[rb]) std::swap(ra, rb);
    parent_[rb] = ra;
    size_[ra] += size_[rb];
    if (head_[rb] < 0) return;
    if (head_[ra] < 0)
        head_[ra] = head_[rb];
    else
        next_[tail_[ra]] = head_[rb];
    tail_[ra] = tail_[rb];
    head_[rb] = tail_[rb] = -1;
}

void TPlotCanvas::AddPending(int32_t p) {
    if (pending_[p]) return;
    pending_[p] = 1;
    next_[p] = -1;
    const int32_t r = Find(p);
    if (head_[r] < 0)
        head_[r] = p;
    else
        next_[tail_[r]] = p;
    tail_[r] = p;
}

// ---------------------------------------------------------------------------------------------
// TPlotImage

TPlotImage::TPlotImage(int width, int height, QWidget* parent)
    : QWidget(parent), canvas_(width, height) {
    resize(width, height);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPlotImage::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(0, 0, canvas_.Image());
}

// ---------------------------------------------------------------------------------------------
// TTAVPlotForm: the window

TTAVPlotForm::TTAVPlotForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      alive_(std::make_shared<bool>(true)) {
    setObjectName("TAVPlotForm");
    setWindowTitle(kDesignCaption);
    setFixedSize(394, 282);

    Panel1 = new QFrame(this);
    Panel1->setObjectName("Panel1");
    Panel1->setGeometry(0, 0, 394, 45);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);

    ScatterButton = AddButton("ScatterButton", 14, "Draw Scatter Plot|");
    ResidualvsInputBtn = AddButton("ResidualvsInputBtn", 56, "Draw Residual vs. Input Order|");
    ResidualvsIndepVarBtn =
        AddButton("ResidualvsIndepVarBtn", 97, "Draw Residual vs. Independent Variable|");
    ResidualvsDepVarBtn =
        AddButton("ResidualvsDepVarBtn", 139, "Draw Residual vs. Dependent Variable|");
    ResidualvsFittedBtn =
        AddButton("ResidualvsFittedBtn", 181, "Draw Residual vs. Fitted Variable|");
    ECDFPlotBtn =
        AddButton("ECDFPlotBtn", 222, "Draw Empirical Cumulative Distribution Function Plot|");
    ResetButton = AddButton("ResetButton", 264, "Clear Plot|");
    ColorBtn = AddButton("ColorBtn", 305, "Set Plot Colors|");
    CloseButton = AddButton("CloseButton", 347, "Close Plot Form|");

    const std::pair<QToolButton*, TGlyph> glyphs[] = {
        {ScatterButton, TGlyph::Scatter},
        {ResidualvsInputBtn, TGlyph::ResidualInput},
        {ResidualvsIndepVarBtn, TGlyph::ResidualIndep},
        {ResidualvsDepVarBtn, TGlyph::ResidualDep},
        {ResidualvsFittedBtn, TGlyph::ResidualFitted},
        {ECDFPlotBtn, TGlyph::ECDF},
        {ResetButton, TGlyph::Reset},
        {CloseButton, TGlyph::Close}};
    for (const auto& [button, glyph] : glyphs) {
        button->setIcon(Glyph(glyph));
        button->setIconSize(QSize(24, 24));
    }
    ColorBtn->setText("Color");
    ColorBtn->setToolButtonStyle(Qt::ToolButtonTextOnly);
    QFont colorFont("SwitzerlandCondBlack");
    colorFont.setPointSize(8);
    ColorBtn->setFont(colorFont);
    QPalette colorPal = ColorBtn->palette();
    colorPal.setColor(QPalette::ButtonText, kMaroon);
    ColorBtn->setPalette(colorPal);

    auto click = [this](QToolButton* button, void (TTAVPlotForm::*handler)()) {
        connect(button, &QToolButton::clicked, this,
                [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
    };
    click(ScatterButton, &TTAVPlotForm::ScatterButtonClick);
    click(ResidualvsInputBtn, &TTAVPlotForm::ResidualvsInputBtnClick);
    click(ResidualvsIndepVarBtn, &TTAVPlotForm::ResidualvsIndepVarBtnClick);
    click(ResidualvsDepVarBtn, &TTAVPlotForm::ResidualvsDepVarBtnClick);
    click(ResidualvsFittedBtn, &TTAVPlotForm::ResidualvsFittedBtnClick);
    click(ECDFPlotBtn, &TTAVPlotForm::ECDFPlotBtnClick);
    click(ResetButton, &TTAVPlotForm::ResetPlotEnv);
    click(ColorBtn, &TTAVPlotForm::ColorBtnClick);
    click(CloseButton, &TTAVPlotForm::CloseButtonClick);

    Panel2 = new QFrame(this);
    Panel2->setObjectName("Panel2");
    Panel2->setGeometry(3, 48, 387, 212);
    Panel2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    PlotImage = new TPlotImage(kImageWidth, kImageHeight, Panel2);
    PlotImage->setObjectName("PlotImage");
    PlotImage->move(50, 11);
    yMaxLabel = AxisLabel("yMaxLabel", "yMax", QRect(2, 8, 47, 14), Qt::AlignRight, Panel2);
    yMinLabel = AxisLabel("yMinLabel", "yMin", QRect(3, 182, 46, 14), Qt::AlignRight, Panel2);
    xMinLabel = AxisLabel("xMinLabel", "xMin", QRect(51, 196, 0, 14), Qt::AlignLeft, Panel2);
    xMinLabel->adjustSize();
    xMaxLabel = AxisLabel("xMaxLabel", "xMax", QRect(295, 196, 83, 14), Qt::AlignRight, Panel2);

    StatusBar = new QLabel(this);
    StatusBar->setObjectName("StatusBar");
    StatusBar->setGeometry(0, 282 - 19, 394, 19);
    StatusBar->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    StatusBar->setTextFormat(Qt::PlainText);
    StatusBar->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    StatusBar->setFont(ArialFont(8));
    QPalette statusPal = StatusBar->palette();
    statusPal.setColor(QPalette::WindowText, Qt::black);
    StatusBar->setPalette(statusPal);

    ScatterPopup = AddVariablePopup(
        "ScatterPopup", '1', "Scatter Plot of dependent variable Y vs. independent variable X",
        &TTAVPlotForm::ScatterItemClick);
    ResidualPopup = AddVariablePopup("ResidualPopup", '2',
                                     "Plot residual (Y - fitted Y) vs. independent variable X",
                                     &TTAVPlotForm::ResidualItemClick);
    connect(ScatterPopup, &QMenu::aboutToShow, this,
            [this] { Guarded([this] { ScatterPopupPopup(); }); });
    connect(ResidualPopup, &QMenu::aboutToShow, this,
            [this] { Guarded([this] { ResidualPopupPopup(); }); });

    ColorPopup = new QMenu(this);
    ColorPopup->setObjectName("ColorPopup");
    QMenu* plots = ColorPopup->addMenu("&Plots");
    plots->menuAction()->setObjectName("Plots1");
    SetMenuItemHint(plots->menuAction(), "Set color of plot scatter dots");
    ColorPopup->addSeparator();
    QMenu* background = ColorPopup->addMenu("&Background");
    background->menuAction()->setObjectName("Background1");
    SetMenuItemHint(background->menuAction(), "Set plot background colors");
    struct ColorItem {
        QMenu* menu;
        const char* name;
        const char* caption;
        const char* hint;
        void (TTAVPlotForm::*handler)();
    };
    const ColorItem items[] = {
        {plots, "mnuBlack", "&Black", "Set plot scatter dots to black",
         &TTAVPlotForm::mnuBlackClick},
        {plots, "mnuMaroon", "&Maroon", "Set plot scatter dots to maroon",
         &TTAVPlotForm::mnuMaroonClick},
        {plots, "mnuGray", "&Gray", "Set plot scatter dots to dark gray",
         &TTAVPlotForm::mnuGrayClick},
        {plots, "mnuBlue", "Bl&ue", "Set plot scatter dots to navy blue",
         &TTAVPlotForm::mnuBlueClick},
        {plots, "mnuGreen", "G&reen", "Set plot scatter dots to green",
         &TTAVPlotForm::mnuGreenClick},
        {background, "White1", "&White", "Set plot background to white",
         &TTAVPlotForm::White1Click},
        {background, "Yellow1", "&Yellow", "Set plot background to yellow",
         &TTAVPlotForm::Yellow1Click},
        {background, "Aqua1", "&Aqua", "Set plot background to light blue",
         &TTAVPlotForm::Aqua1Click},
        {background, "Teal1", "&Teal", "Set plot background to teal green",
         &TTAVPlotForm::Teal1Click},
    };
    for (const ColorItem& item : items) {
        QAction* action = item.menu->addAction(item.caption);
        action->setObjectName(item.name);
        SetMenuItemHint(action, item.hint);
        connect(action, &QAction::triggered, this, [this, handler = item.handler] {
            Guarded([this, handler] { (this->*handler)(); });
        });
    }

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }

    FormCreate();
}

TTAVPlotForm::~TTAVPlotForm() {
    *alive_ = false;
    const auto* forwarder = OnHint().target<THintForwarder>();
    if (forwarder != nullptr && forwarder->form == this) SetOnHint(std::move(previousOnHint_));
}

QToolButton* TTAVPlotForm::AddButton(const char* name, int left, const char* hint) {
    auto* button = new QToolButton(Panel1);
    button->setObjectName(name);
    button->setAutoRaise(true);
    button->setGeometry(left, 6, 33, 34);
    SetControlHint(button, hint);
    return button;
}

QMenu* TTAVPlotForm::AddVariablePopup(const char* name, char suffix, const char* hint,
                                      void (TTAVPlotForm::*click)(uint16_t)) {
    auto* menu = new QMenu(this);
    menu->setObjectName(name);
    for (uint16_t k = 1; k <= 10; ++k) {
        const QString caption = k < 10 ? QString("X&%1").arg(k) : QString("X1&0");
        QAction* item = menu->addAction(caption);
        item->setObjectName(QString("X%1%2").arg(k, 2, 10, QChar('0')).arg(QChar(suffix)));
        SetMenuItemHint(item, hint + IntToStr(k));
        connect(item, &QAction::triggered, this,
                [this, click, k] { Guarded([this, click, k] { (this->*click)(k); }); });
    }
    return menu;
}

void TTAVPlotForm::FormCreate() {
    previousOnHint_ = SetOnHint(THintForwarder{this, alive_});
    TPlotData& d = Data();
    d.DotColor = ColorBtn->palette().color(QPalette::ButtonText);
    d.CanvasColor = Qt::white;
    // Every window starts blank: a plot code or variable left by an earlier window would redraw
    // that window's plot on a colour change, possibly of a variable this regression lacks.
    d.last = 0;
    d.iChoice = 0;
    PlotImage->Canvas().Refresh();
}

// ---------------------------------------------------------------------------------------------
// Taking the data

void TTAVPlotForm::TablePlot(TTAVTable& table) {
    std::unique_ptr<TTAVPlotForm> owner(this);
    TakeData(table);
    Run();
}

void TTAVPlotForm::QueryPlot(TTAVQuery& query) {
    std::unique_ptr<TTAVPlotForm> owner(this);
    TakeData(query);
    Run();
}

void TTAVPlotForm::TakeData(TTAVRegression& r) {
    TPlotData& d = Data();
    d.n = std::min<uint16_t>(r.DataCount(), MaxData);
    d.m = std::min<uint16_t>(r.VarCount(), MaxTerms - 1);
    // With no records the scale 1 - 1/n is undefined; no dot is drawn then anyway.
    d.WidthScale = d.n > 0 ? static_cast<double>(1.0L - 1.0L / d.n) : 0.0;
    d.HeightScale = 0.95;
    d.PlotWidth = Canvas().Width() * d.WidthScale;
    d.PlotHeight = Canvas().Height() * d.HeightScale;
    // A zero standard error of estimate (a perfect fit) leaves every residual 0; their
    // standardized values are 0 too instead of a division by zero.
    const double syx = r.GetSyx();
    for (int32_t i = 1; i <= d.n; ++i) {
        d.y[i] = r.Gety(static_cast<uint16_t>(i));
        d.e[i] = r.Gete(static_cast<uint16_t>(i));
        d.g[i] = syx != 0 ? d.e[i] / syx : 0.0;
        d.yHat[i] = r.GetyHat(static_cast<uint16_t>(i));
        for (uint16_t j = 1; j <= d.m; ++j) d.x(i, j) = r.Getx(static_cast<uint16_t>(i), j);
    }
    d.ymin = r.GetyMin();
    d.ymax = r.GetyMax();
    // Variables beyond m keep nothing of an earlier window (the first range is shown even when
    // there are no control variables).
    d.xMin.Fill(0);
    d.xMax.Fill(0);
    for (auto& s : d.ControlStr) s.clear();
    for (uint16_t j = 1; j <= d.m; ++j) {
        d.ControlStr[j] = r.GetcVar(j)->OutputTerm();
        d.xMin[j] = r.GetxMin(j);
        d.xMax[j] = r.GetxMax(j);
    }
    sortmvector(d.g, d.n);
    d.emin = d.n > 0 ? minmvector(d.e, d.n) : 0.0;
    d.emax = d.n > 0 ? maxmvector(d.e, d.n) : 0.0;
    d.yHatmin = d.n > 0 ? minmvector(d.yHat, d.n) : 0.0;
    d.yHatmax = d.n > 0 ? maxmvector(d.yHat, d.n) : 0.0;
    SetAxes(2, 2, d.xMin[1], d.xMax[1], d.ymin, d.ymax);
    d.ResponseStr = r.ResponseVarY()->OutputTerm();
    d.FontColor = kNavy;
}

void TTAVPlotForm::Run() { ShowModal(this); }

// ---------------------------------------------------------------------------------------------
// Operations of the frame

void TTAVPlotForm::SetAxes(uint16_t xDecimals, uint16_t yDecimals, double xMin, double xMax,
                           double yMin, double yMax) {
    SetLabel(xMinLabel, Fixed(xMin, xDecimals));
    xMinLabel->adjustSize();
    SetLabel(xMaxLabel, Fixed(xMax, xDecimals));
    SetLabel(yMaxLabel, Fixed(yMax, yDecimals));
    SetLabel(yMinLabel, Fixed(yMin, yDecimals));
}

void TTAVPlotForm::SetCanvas() {
    const TPlotData& d = Data();
    PlotImage->setVisible(true);
    TPlotCanvas& canvas = Canvas();
    canvas.Refresh();
    canvas.SetBrushColor(d.DotColor);
    canvas.SetFontColor(d.FontColor);
    canvas.SetFont(ArialFont(5));
}

void TTAVPlotForm::SetCanvasColor(const QColor& color) {
    Data().CanvasColor = color;
    TPlotCanvas& canvas = Canvas();
    canvas.SetBrushColor(color);
    canvas.FillRect(QRect(0, 0, canvas.Width(), canvas.Height()));
    PlotImage->update();
}

void TTAVPlotForm::ResetPlotEnv() {
    setWindowTitle(kDesignCaption);
    for (QLabel* label : {yMaxLabel, yMinLabel, xMinLabel, xMaxLabel}) label->clear();
    xMinLabel->adjustSize();
    SetCanvasColor(Data().CanvasColor);
    SetCanvas();
    Data().last = 0;
}

void TTAVPlotForm::DrawDots(int32_t x, int32_t y, uint16_t size, const QColor& background) {
    // Positions this far out are off the image whatever the size; holding them there keeps the
    // corner arithmetic in range.
    constexpr int32_t kFar = 1 << 24;
    x = std::clamp(x, -kFar, kFar);
    y = std::clamp(y, -kFar, kFar);
    TPlotCanvas& canvas = Canvas();
    canvas.Ellipse(x, y, x + size, y + size);
    canvas.FloodFill(x + size / 2, y + size / 2, background);
    canvas.Refresh();
}

void TTAVPlotForm::LastProc() {
    const TPlotData& d = Data();
    QPalette pal = ColorBtn->palette();
    pal.setColor(QPalette::ButtonText, d.DotColor);
    ColorBtn->setPalette(pal);
    switch (d.last) {
        case 1:
            ResidualvsInputBtnClick();
            return;
        case 2:
            ResidualvsDepVarBtnClick();
            return;
        case 3:
            ResidualvsFittedBtnClick();
            return;
        case 4:
            ECDFPlotBtnClick();
            return;
        default:
            break;
    }
    const uint16_t k = d.last / 10;
    if (k < 1 || k > 10) return;
    if (d.last % 10 == 1)
        ScatterItemClick(k);
    else if (d.last % 10 == 2)
        ResidualItemClick(k);
}

void TTAVPlotForm::EnableMenuItem(QAction* item, bool enabled) {
    item->setEnabled(enabled);
    if (!item->isEnabled()) SetMenuItemHint(item, "");
}

// ---------------------------------------------------------------------------------------------
// Event handlers

void TTAVPlotForm::ShowHint() { StatusBar->setText(QString::fromStdString(Hint())); }

QPoint TTAVPlotForm::PopupPoint(const QWidget* button) const {
    const QPoint outer = frameGeometry().topLeft();
    return {outer.x() + button->x() + button->width() / 2,
            outer.y() + button->y() + button->height()};
}

void TTAVPlotForm::ScatterButtonClick() {
    SetHint("Scatter Plots");
    ScatterPopup->popup(PopupPoint(ScatterButton));
}

void TTAVPlotForm::ResidualvsIndepVarBtnClick() {
    SetHint("Independent Variable Residual Analysis");
    ResidualPopup->popup(PopupPoint(ResidualvsIndepVarBtn));
}

void TTAVPlotForm::ColorBtnClick() { ColorPopup->popup(PopupPoint(ColorBtn)); }

void TTAVPlotForm::CloseButtonClick() { close(); }

void TTAVPlotForm::ScatterPopupPopup() {
    ResetPlotEnv();
    const QList<QAction*> items = ScatterPopup->actions();
    for (int k = 1; k <= 10 && k <= items.size(); ++k) EnableMenuItem(items[k - 1], Data().m >= k);
}

void TTAVPlotForm::ResidualPopupPopup() {
    ResetPlotEnv();
    const QList<QAction*> items = ResidualPopup->actions();
    for (int k = 1; k <= 10 && k <= items.size(); ++k) EnableMenuItem(items[k - 1], Data().m >= k);
}

void TTAVPlotForm::ScatterItemClick(uint16_t k) {
    Data().iChoice = k;
    ScatterPlot();
    Data().last = static_cast<uint16_t>(10 * k + 1);
}

void TTAVPlotForm::ResidualItemClick(uint16_t k) {
    Data().iChoice = k;
    ResidualvsIndepVariable();
    Data().last = static_cast<uint16_t>(10 * k + 2);
}

void TTAVPlotForm::SetDotColor(const QColor& color) {
    Data().DotColor = color;
    LastProc();
}

void TTAVPlotForm::SetBackground(const QColor& color) {
    SetCanvasColor(color);
    LastProc();
}

void TTAVPlotForm::mnuBlackClick() { SetDotColor(QColor(0, 0, 0)); }
void TTAVPlotForm::mnuMaroonClick() { SetDotColor(QColor(128, 0, 0)); }
void TTAVPlotForm::mnuGrayClick() { SetDotColor(QColor(128, 128, 128)); }
void TTAVPlotForm::mnuBlueClick() { SetDotColor(QColor(0, 0, 128)); }
void TTAVPlotForm::mnuGreenClick() { SetDotColor(QColor(0, 128, 0)); }
void TTAVPlotForm::White1Click() { SetBackground(QColor(255, 255, 255)); }
void TTAVPlotForm::Yellow1Click() { SetBackground(QColor(255, 255, 0)); }
void TTAVPlotForm::Aqua1Click() { SetBackground(QColor(0, 255, 255)); }
void TTAVPlotForm::Teal1Click() { SetBackground(QColor(0, 128, 128)); }

// ---------------------------------------------------------------------------------------------
// The plot kinds

template <typename Position>
void TTAVPlotForm::DrawAll(Position position) {
    const TPlotData& d = Data();
    for (int32_t i = 1; i <= d.n; ++i) {
        const QPoint at = position(i);
        DrawDots(at.x(), at.y(), kDotSize, d.CanvasColor);
    }
    // The image is repainted once, with all its dots.
    PlotImage->update();
}

void TTAVPlotForm::ScatterPlot() {
    const TPlotData& d = Data();
    const uint16_t j = d.iChoice;
    ResetPlotEnv();
    if (j < 1 || j > d.m) return;
    SetAxes(2, 2, d.xMin[j], d.xMax[j], d.ymin, d.ymax);
    setWindowTitle(
        QString::fromStdString("Scatter Plot of " + d.ResponseStr + " vs. " + d.ControlStr[j]));
    const int32_t h = Canvas().Height();
    const int32_t shift = VariableShift(d.xMin[j]);
    DrawAll([&](int32_t i) {
        return QPoint(shift + Scaled(d.x(i, j), d.xMin[j], d.xMax[j], d.PlotWidth),
                      h - Scaled(d.y[i], d.ymin, d.ymax, d.PlotHeight));
    });
}

void TTAVPlotForm::ResidualvsInputBtnClick() {
    const TPlotData& d = Data();
    ResetPlotEnv();
    SetAxes(0, 2, 1, d.n, d.emin, d.emax);
    setWindowTitle("Plot of Residual vs. Input Order");
    const int32_t h = Canvas().Height();
    DrawAll([&](int32_t i) {
        return QPoint(TruncPixel(static_cast<long double>(i) / d.n * d.PlotWidth),
                      h - Scaled(d.e[i], d.emin, d.emax, d.PlotHeight));
    });
    Data().last = 1;
}

void TTAVPlotForm::ResidualvsIndepVariable() {
    const TPlotData& d = Data();
    const uint16_t j = d.iChoice;
    ResetPlotEnv();
    if (j < 1 || j > d.m) return;
    SetAxes(2, 2, d.xMin[j], d.xMax[j], d.emin, d.emax);
    setWindowTitle(QString::fromStdString("Plot of Residual vs. Independent Variable (" +
                                          d.ControlStr[j] + ")"));
    const int32_t h = Canvas().Height();
    const int32_t shift = VariableShift(d.xMin[j]);
    DrawAll([&](int32_t i) {
        return QPoint(shift + Scaled(d.x(i, j), d.xMin[j], d.xMax[j], d.PlotWidth),
                      h - Scaled(d.e[i], d.emin, d.emax, d.PlotHeight));
    });
}

void TTAVPlotForm::ResidualvsDepVarBtnClick() {
    const TPlotData& d = Data();
    ResetPlotEnv();
    SetAxes(2, 2, d.ymin, d.ymax, d.emin, d.emax);
    setWindowTitle(
        QString::fromStdString("Plot of Residual vs. Dep Variable (" + d.ResponseStr + ")"));
    const int32_t h = Canvas().Height();
    DrawAll([&](int32_t i) {
        return QPoint(Scaled(d.y[i], d.ymin, d.ymax, d.PlotWidth) + 1,
                      h - Scaled(d.e[i], d.emin, d.emax, d.PlotHeight));
    });
    Data().last = 2;
}

void TTAVPlotForm::ResidualvsFittedBtnClick() {
    const TPlotData& d = Data();
    ResetPlotEnv();
    SetAxes(2, 2, d.yHatmin, d.yHatmax, d.emin, d.emax);
    setWindowTitle(QString::fromStdString("Plot of Residual vs. Fitted " + d.ResponseStr));
    const int32_t h = Canvas().Height();
    DrawAll([&](int32_t i) {
        return QPoint(Scaled(d.yHat[i], d.yHatmin, d.yHatmax, d.PlotWidth) + 1,
                      h - Scaled(d.e[i], d.emin, d.emax, d.PlotHeight));
    });
    Data().last = 3;
}

void TTAVPlotForm::ECDFPlotBtnClick() {
    const TPlotData& d = Data();
    ResetPlotEnv();
    SetAxes(0, 2, 0, 1, -3, 3);
    setWindowTitle("Empirical Cumulative Distribution Function Plot");
    const int32_t h = Canvas().Height();
    // The fixed range -3..3 standard errors, multiplied by one sixth rather than divided by it.
    DrawAll([&](int32_t i) {
        return QPoint(TruncPixel((i - 0.5L) * d.PlotWidth / d.n) + 1,
                      h - TruncPixel((3.0L + d.g[i]) * d.PlotHeight * (1.0L / 6.0L)));
    });
    Data().last = 4;
}

// ---------------------------------------------------------------------------------------------
// Accessors

const QImage& TTAVPlotForm::Image() const { return PlotImage->Canvas().Image(); }
TPlotCanvas& TTAVPlotForm::Canvas() { return PlotImage->Canvas(); }
uint16_t TTAVPlotForm::Last() const { return Data().last; }
uint16_t TTAVPlotForm::Choice() const { return Data().iChoice; }
QColor TTAVPlotForm::DotColor() const { return Data().DotColor; }
QColor TTAVPlotForm::CanvasColor() const { return Data().CanvasColor; }

// ---------------------------------------------------------------------------------------------
// The components' entry point

void TTAVTable::ShowPlots() { (new TTAVPlotForm())->TablePlot(*this); }

void TTAVQuery::ShowPlots() { (new TTAVPlotForm())->QueryPlot(*this); }

}  // namespace tav

#include "tav/tavplot.h"

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

#include "forms/plotglyphs.h"
#include "host/widgets/apphint.h"
#include "tav/forms.h"
#include "tav/matrix.h"
#include "tav/sysutils.h"
#include "tav/tavquery.h"
#include "tav/tavtable.h"

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
    TakeData(table);
    Run();
}

void TTAVPlotForm::QueryPlot(TTAVQuery& query) {
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
// Pictures

QString ClassicPlotFileName(TClassicPlot kind, uint16_t variable) {
    switch (kind) {
        case TClassicPlot::Scatter:
            return QString("scatter-X%1").arg(variable);
        case TClassicPlot::ResidualVsVariable:
            return QString("residual-X%1").arg(variable);
        case TClassicPlot::ResidualVsInputOrder:
            return "residual-input-order";
        case TClassicPlot::ResidualVsResponse:
            return "residual-response";
        case TClassicPlot::ResidualVsFitted:
            return "residual-fitted";
        case TClassicPlot::ECDF:
            break;
    }
    return "ecdf";
}

void TTAVPlotForm::Plot(TClassicPlot kind, uint16_t variable) {
    switch (kind) {
        case TClassicPlot::Scatter:
            ScatterItemClick(variable);
            return;
        case TClassicPlot::ResidualVsVariable:
            ResidualItemClick(variable);
            return;
        case TClassicPlot::ResidualVsInputOrder:
            ResidualvsInputBtnClick();
            return;
        case TClassicPlot::ResidualVsResponse:
            ResidualvsDepVarBtnClick();
            return;
        case TClassicPlot::ResidualVsFitted:
            ResidualvsFittedBtnClick();
            return;
        case TClassicPlot::ECDF:
            ECDFPlotBtnClick();
            return;
    }
}

void TTAVPlotForm::Render(TClassicPlot kind, uint16_t variable, QPaintDevice& device) {
    Plot(kind, variable);
    // What QWidget::grab paints: the background, every control, the window's mask ignored.
    const RenderFlags flags(DrawWindowBackground | DrawChildren | IgnoreMask);
    if (device.width() == width() && device.height() == height()) {
        render(&device, QPoint(), QRegion(), flags);
        return;
    }
    QPainter painter(&device);
    painter.scale(static_cast<double>(device.width()) / width(),
                  static_cast<double>(device.height()) / height());
    render(&painter, QPoint(), QRegion(), flags);
}

// ---------------------------------------------------------------------------------------------
// Accessors

const QImage& TTAVPlotForm::Image() const { return PlotImage->Canvas().Image(); }
TPlotCanvas& TTAVPlotForm::Canvas() { return PlotImage->Canvas(); }
uint16_t TTAVPlotForm::Last() const { return Data().last; }
uint16_t TTAVPlotForm::Choice() const { return Data().iChoice; }
QColor TTAVPlotForm::DotColor() const { return Data().DotColor; }
QColor TTAVPlotForm::CanvasColor() const { return Data().CanvasColor; }

}  // namespace tav

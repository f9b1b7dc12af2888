// Tavplot: the plot window of the two components.
//
// TTAVPlotForm is the modal window in which the user looks at the data and residuals of the last
// regression as dot plots. A component's ShowPlots creates the window with new and hands itself to
// TablePlot or QueryPlot, which copy what the plots need into the unit's own data, run the modal
// loop and free the window. Only one plot window exists at a time (it is modal), so the unit's
// data (counts, values, ranges, colours, the code of the plot on the image) are shared by all
// windows of the process and refilled each time one opens.
//
// A plot is made of dots only, drawn on a 327 x 185 bitmap (the control PlotImage); the extremes
// of the axes are in four labels around it and the title of the plot is the window caption.
#pragma once

#include <QColor>
#include <QDialog>
#include <QFont>
#include <QImage>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QToolButton;

namespace tav {

class TTAVQuery;
class TTAVRegression;
class TTAVTable;

// The canvas of a bitmap with the classic drawing tools: a brush, a pen that stays the framework
// default (black, one pixel) and a font. Pixels are exact: nothing is antialiased.
//
// FloodFill is a border fill. It gives every pixel 4-connected to the start point whose colour is
// not the border colour the brush colour, exactly as a plain scanline fill would, but it costs
// only the pixels it changes: the canvas keeps the non-border pixels in connected sets, each with
// the list of its pixels that are not yet of the brush colour, and updates both as the ellipses are
// drawn. Drawing that does not fit this bookkeeping (a partial FillRect, a pen or brush of the
// border colour, another border or brush colour) drops it; the next fill rebuilds it from the
// pixels.
class TPlotCanvas {
  public:
    TPlotCanvas(int width, int height);

    int Width() const { return image_.width(); }
    int Height() const { return image_.height(); }
    // The bitmap, Format_RGB32.
    const QImage& Image() const { return image_; }

    QColor BrushColor() const { return QColor::fromRgb(brush_); }
    void SetBrushColor(const QColor& color);
    QColor PenColor() const { return QColor::fromRgb(pen_); }
    const QFont& Font() const { return font_; }
    void SetFont(const QFont& font) { font_ = font; }
    QColor FontColor() const { return fontColor_; }
    void SetFontColor(const QColor& color) { fontColor_ = color; }

    // Fills the rectangle (clipped to the bitmap) with the brush colour.
    void FillRect(const QRect& rect);
    // Outlines with the pen and fills with the brush the ellipse inscribed in the rectangle from
    // (x1, y1) to (x2, y2), right and bottom edges excluded; drawing outside the bitmap is clipped.
    void Ellipse(int x1, int y1, int x2, int y2);
    // Border fill from (x, y). A start outside the bitmap or of the border colour fills nothing.
    void FloodFill(int x, int y, const QColor& border);
    // The classic canvas refresh re-selects the drawing tools into the device; here the tools are
    // read afresh at every use, so there is nothing to do. It is not a repaint.
    void Refresh() {}

  private:
    struct StampPixel {
        int dx, dy;
        QRgb color;
    };
    struct Stamp {
        int width = -1, height = -1;
        QRgb pen = 0, brush = 0;
        std::vector<StampPixel> pixels;
    };

    const Stamp& EllipseStamp(int width, int height);
    void Put(int x, int y, QRgb color);
    void PlainFill(int x, int y, QRgb border);
    void Rebuild(QRgb border, QRgb fill);
    void MakeSet(int32_t p);
    int32_t Find(int32_t p);
    void Union(int32_t a, int32_t b);
    void AddPending(int32_t p);

    QImage image_;
    QRgb brush_;
    QRgb pen_;
    QFont font_;
    QColor fontColor_ = Qt::black;
    Stamp stamp_;

    // The connected sets of non-border pixels. Valid only while `tracked_`; `trackFill_` is the
    // colour that needs no filling; `nonBorder_` counts the pixels in sets.
    bool tracked_ = false;
    QRgb trackBorder_ = 0;
    QRgb trackFill_ = 0;
    int32_t nonBorder_ = 0;
    std::vector<int32_t> parent_, size_, head_, tail_, next_;
    std::vector<uint8_t> pending_;
};

// The drawing surface PlotImage: shows its canvas.
class TPlotImage : public QWidget {
  public:
    TPlotImage(int width, int height, QWidget* parent);
    TPlotCanvas& Canvas() { return canvas_; }
    const TPlotCanvas& Canvas() const { return canvas_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    TPlotCanvas canvas_;
};

class TTAVPlotForm : public QDialog {
  public:
    explicit TTAVPlotForm(QWidget* parent = nullptr);
    ~TTAVPlotForm() override;

    // Fill the unit's data from the component, show the window modally and free it when the
    // modal loop ends (also when it ends by an exception). The window must have been created with
    // new and is not to be touched afterwards.
    void TablePlot(TTAVTable& table);
    void QueryPlot(TTAVQuery& query);

    // Operations of the frame.
    void SetAxes(uint16_t xDecimals, uint16_t yDecimals, double xMin, double xMax, double yMin,
                 double yMax);
    void SetCanvas();
    void SetCanvasColor(const QColor& color);
    void ResetPlotEnv();
    void DrawDots(int32_t x, int32_t y, uint16_t size, const QColor& background);
    void LastProc();
    void EnableMenuItem(QAction* item, bool enabled);

    // The plot kinds. The two plots against a control variable use the one last chosen.
    void ScatterPlot();
    void ResidualvsInputBtnClick();
    void ResidualvsIndepVariable();
    void ResidualvsDepVarBtnClick();
    void ResidualvsFittedBtnClick();
    void ECDFPlotBtnClick();

    // Event handlers. ScatterButtonClick, ResidualvsIndepVarBtnClick and ColorBtnClick open their
    // popup menus without waiting; the two variable popups run their opening handlers
    // (ScatterPopupPopup, ResidualPopupPopup) as they open.
    void ShowHint();
    void ScatterButtonClick();
    void ResidualvsIndepVarBtnClick();
    void ColorBtnClick();
    void CloseButtonClick();
    void ScatterPopupPopup();
    void ResidualPopupPopup();
    void X011Click() { ScatterItemClick(1); }
    void X021Click() { ScatterItemClick(2); }
    void X031Click() { ScatterItemClick(3); }
    void X041Click() { ScatterItemClick(4); }
    void X051Click() { ScatterItemClick(5); }
    void X061Click() { ScatterItemClick(6); }
    void X071Click() { ScatterItemClick(7); }
    void X081Click() { ScatterItemClick(8); }
    void X091Click() { ScatterItemClick(9); }
    void X101Click() { ScatterItemClick(10); }
    void X012Click() { ResidualItemClick(1); }
    void X022Click() { ResidualItemClick(2); }
    void X032Click() { ResidualItemClick(3); }
    void X042Click() { ResidualItemClick(4); }
    void X052Click() { ResidualItemClick(5); }
    void X062Click() { ResidualItemClick(6); }
    void X072Click() { ResidualItemClick(7); }
    void X082Click() { ResidualItemClick(8); }
    void X092Click() { ResidualItemClick(9); }
    void X102Click() { ResidualItemClick(10); }
    void mnuBlackClick();
    void mnuMaroonClick();
    void mnuGrayClick();
    void mnuBlueClick();
    void mnuGreenClick();
    void White1Click();
    void Yellow1Click();
    void Aqua1Click();
    void Teal1Click();

    // Item k (1..10) of the scatter and residual popups: the variable chosen, the plot drawn and
    // its code kept for redrawing.
    void ScatterItemClick(uint16_t k);
    void ResidualItemClick(uint16_t k);

    // What is on the window, for hosts and tests.
    const QImage& Image() const;
    TPlotCanvas& Canvas();
    uint16_t Last() const;
    uint16_t Choice() const;
    QColor DotColor() const;
    QColor CanvasColor() const;
    // The screen point under a tool bar button at which its popup menu opens.
    QPoint PopupPoint(const QWidget* button) const;

  private:
    void FormCreate();
    void TakeData(TTAVRegression& regression);
    void Run();
    void SetDotColor(const QColor& color);
    void SetBackground(const QColor& color);
    // One dot per record at the given positions, then the image shows them.
    template <typename Position>
    void DrawAll(Position position);
    QToolButton* AddButton(const char* name, int left, const char* hint);
    QMenu* AddVariablePopup(const char* name, char suffix, const char* hint,
                            void (TTAVPlotForm::*click)(uint16_t));

    QFrame* Panel1;
    QToolButton* ScatterButton;
    QToolButton* ResidualvsInputBtn;
    QToolButton* ResidualvsIndepVarBtn;
    QToolButton* ResidualvsDepVarBtn;
    QToolButton* ResidualvsFittedBtn;
    QToolButton* ECDFPlotBtn;
    QToolButton* ResetButton;
    QToolButton* ColorBtn;
    QToolButton* CloseButton;
    QFrame* Panel2;
    TPlotImage* PlotImage;
    QLabel* yMaxLabel;
    QLabel* yMinLabel;
    QLabel* xMinLabel;
    QLabel* xMaxLabel;
    QLabel* StatusBar;
    QMenu* ScatterPopup;
    QMenu* ResidualPopup;
    QMenu* ColorPopup;

    // Cleared when the window is being freed, so that a hint handler of this window that is still
    // installed somewhere calls nothing.
    std::shared_ptr<bool> alive_;
    std::function<void()> previousOnHint_;
};

}  // namespace tav

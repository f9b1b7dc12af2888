// Tavplot: the plot window of the two components.
//
// TTAVPlotForm is the modal window in which the user looks at the data and residuals of the last
// regression as dot plots. A component's ShowPlots makes the window (on its stack, as the report
// window is made) and hands itself to TablePlot or QueryPlot, which copy what the plots need into
// the unit's own data and run the modal loop. Only one plot window exists at a time (it is modal),
// so the unit's data (counts, values, ranges, colours, the code of the plot on the image) are
// shared by all windows of the process and refilled each time one opens.
//
// A plot is made of dots only, drawn on a 327 x 185 bitmap (the control PlotImage); the extremes
// of the axes are in four labels around it and the title of the plot is the window caption.
// Render draws a plot as the window's buttons do and paints the window's picture on any paint
// device (an image, a PDF, an SVG document): tavreg writes its plot files so.
#pragma once

#include <QColor>
#include <QDialog>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "tav/plotcanvas.h"

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QPaintDevice;
class QToolButton;

namespace tav {

class TTAVQuery;
class TTAVRegression;
class TTAVTable;

// The plots of the window: the scatter plot and the residuals against a control variable (of
// the variable chosen, 1..10), and the four that need none.
enum class TClassicPlot {
    Scatter,
    ResidualVsVariable,
    ResidualVsInputOrder,
    ResidualVsResponse,
    ResidualVsFitted,
    ECDF
};

// The name of a plot's file without its extension: "scatter-X1", "residual-X1",
// "residual-input-order", "residual-response", "residual-fitted", "ecdf".
QString ClassicPlotFileName(TClassicPlot kind, uint16_t variable = 0);

// The window: TablePlot and QueryPlot fill it from a component and run its modal loop; Render
// draws one plot without showing it.
class TTAVPlotForm : public QDialog {
  public:
    explicit TTAVPlotForm(QWidget* parent = nullptr);
    ~TTAVPlotForm() override;

    // Fill the unit's data from the component and show the window modally; return when it is
    // closed. The caller owns the window (ShowPlots makes it on its stack).
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

    // Draws the plot as its button or popup item does (`variable` is that of the scatter and
    // residual popups; the others need none), then paints the window's picture on `device`: at
    // the window's size the pixels the screen shows, on a device of another size scaled to it.
    // A variable the regression lacks draws no dots, as the popups' disabled items would.
    void Render(TClassicPlot kind, uint16_t variable, QPaintDevice& device);
    void Plot(TClassicPlot kind, uint16_t variable);

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

// The drawing surface of the plot window: a bitmap canvas with the classic drawing tools, and the
// widget that shows it.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QWidget>
#include <cstdint>
#include <vector>

namespace tav {

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

}  // namespace tav

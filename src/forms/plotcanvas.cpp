#include "tav/plotcanvas.h"

#include <QPainter>
#include <algorithm>
#include <array>
#include <utility>

namespace tav {

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

}  // namespace tav

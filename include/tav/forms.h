// Widgets of the host layer that several windows share: the bar gauge, the header bar and the
// bevelled panel. The window behaviours (modal show and its hook, immediate repaint, the guard of
// event handlers) are in tav/modal.h, which this header includes.
#pragma once

#include <QColor>
#include <QWidget>
#include <functional>
#include <vector>

#include "tav/modal.h"

namespace tav {

// A horizontal bar gauge from MinValue to MaxValue that shows its percentage as text.
class TGauge : public QWidget {
  public:
    explicit TGauge(QWidget* parent = nullptr);

    int Progress() const { return progress_; }
    void SetProgress(int value);
    int MinValue() const { return minValue_; }
    int MaxValue() const { return maxValue_; }
    int PercentDone() const;
    void SetForeColor(const QColor& c) { foreColor_ = c; }
    void SetBackColor(const QColor& c) { backColor_ = c; }
    QColor ForeColor() const { return foreColor_; }
    QColor BackColor() const { return backColor_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    int progress_ = 0;
    int minValue_ = 0;
    int maxValue_ = 100;
    QColor foreColor_ = Qt::black;
    QColor backColor_ = Qt::white;
};

// A header bar: a row of sections, each a text of its own width.
class THeaderControl : public QWidget {
  public:
    explicit THeaderControl(QWidget* parent = nullptr);

    void ClearSections();
    // A width of 0 sizes the section to its text.
    void AddSection(const QString& text, int width = 0);
    int SectionCount() const { return static_cast<int>(sections_.size()); }
    QString SectionText(int index) const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    struct Section {
        QString text;
        int width;
    };
    std::vector<Section> sections_;
};

// A panel with the classic inner and outer bevels and a caption; used as status line.
class TPanel : public QWidget {
  public:
    enum class TBevel { bvNone, bvLowered, bvRaised };
    explicit TPanel(QWidget* parent = nullptr);

    void SetCaption(const QString& text);
    QString Caption() const { return caption_; }
    void SetBevelInner(TBevel b);
    void SetBevelOuter(TBevel b);
    TBevel BevelInner() const { return inner_; }
    TBevel BevelOuter() const { return outer_; }
    void SetAlignment(Qt::Alignment a);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString caption_;
    TBevel inner_ = TBevel::bvNone;
    TBevel outer_ = TBevel::bvRaised;
    Qt::Alignment alignment_ = Qt::AlignCenter;
};

}  // namespace tav

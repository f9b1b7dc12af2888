// Window behaviours of the host layer: modal and non-modal show, immediate repaint, the bar gauge,
// and the guard that keeps exceptions out of Qt's event loop.
#pragma once

#include <QColor>
#include <QWidget>
#include <functional>
#include <vector>

class QDialog;

namespace tav {

// The modal-show hook receives each window once it is shown (non-modally), may act on it, and the
// window is closed when the hook returns. Tests and headless runs install one; without a hook a
// window runs its real modal loop. Installing returns the previous hook.
using TModalHook = std::function<void(QDialog* form)>;
TModalHook SetModalHook(TModalHook hook);
bool HasModalHook();

// Shows `form` modally and returns its result (the modal result the window ended with).
int ShowModal(QDialog* form);

// Shows a window without waiting for it.
void ShowNonModal(QWidget* form);

// Repaints a window at once, without returning to the event loop (the framework's Update).
void UpdateNow(QWidget* form);

// Runs an event handler; an Exception (or any std::exception) it raises is shown in an error
// message box instead of unwinding through Qt's event loop.
void Guarded(const std::function<void()>& handler);

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

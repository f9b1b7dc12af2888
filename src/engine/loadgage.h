// The load progress dialog: a small non-modal window that a component creates for every load and
// frees afterwards. The loader runs on the user-interface thread without returning to the event
// loop, so every change repaints the dialog at once.
#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>
#include <string>

class QLabel;
class QFrame;

namespace tav {

class TGauge;

class TTAVGaugeDlg;

// Observes every progress dialog: called after each change and just before the dialog is freed
// (`freed` true). Lets tests and tools follow a load without a screen. Returns the previous one.
using TGaugeObserver = std::function<void(const TTAVGaugeDlg& dialog, bool freed)>;
TGaugeObserver SetGaugeObserver(TGaugeObserver observer);

class TTAVGaugeDlg : public QDialog {
  public:
    explicit TTAVGaugeDlg(QWidget* parent = nullptr);
    ~TTAVGaugeDlg() override;

    void SetGaugeProgress(uint16_t percent);
    void SetGaugeText(const std::string& text);
    // SetGaugeText("Records Loaded: " + count), the text made only when it is shown or asked for.
    void SetGaugeRecords(int count);

    int GaugeProgress() const;
    std::string GaugeText() const;

    void setVisible(bool visible) override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void Build();
    void FormActivate();

    QLabel* image1_ = nullptr;
    QLabel* image2_ = nullptr;
    QLabel* label1_ = nullptr;
    QLabel* label2_ = nullptr;
    QFrame* panel2_ = nullptr;
    TGauge* gauge1_ = nullptr;
    QLabel* panel1_ = nullptr;
    int progress_ = 0;
    mutable std::string text_;
    mutable int records_ = -1;  // a count not yet made into text_, or -1
};

}  // namespace tav

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

    int GaugeProgress() const;
    std::string GaugeText() const;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void FormActivate();

    QLabel* image1_;
    QLabel* image2_;
    QLabel* label1_;
    QLabel* label2_;
    QFrame* panel2_;
    TGauge* gauge1_;
    QLabel* panel1_;
    std::string text_;
};

}  // namespace tav

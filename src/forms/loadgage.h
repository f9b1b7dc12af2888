// The load progress dialog: a small non-modal window that shows a load's progress (the engine's
// TLoadProgress). The windows library makes it only for a load that shows its progress, and the
// load frees it when it ends. The loader runs on the user-interface thread without returning to
// the event loop, so every change repaints the dialog at once.
#pragma once

#include <QDialog>

#include "tav/tavprogress.h"

class QLabel;
class QFrame;

namespace tav {

class TGauge;

class TTAVGaugeDlg : public QDialog, public TLoadProgressView {
  public:
    explicit TTAVGaugeDlg(const TLoadProgress& progress, QWidget* parent = nullptr);

    void ProgressChanged(const TLoadProgress& progress) override;

  private:
    QLabel* image1_ = nullptr;
    QLabel* image2_ = nullptr;
    QLabel* label1_ = nullptr;
    QLabel* label2_ = nullptr;
    QFrame* panel2_ = nullptr;
    TGauge* gauge1_ = nullptr;
    QLabel* panel1_ = nullptr;
};

}  // namespace tav

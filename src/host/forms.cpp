#include "host/forms.h"

#include <QApplication>
#include <QDialog>
#include <QPainter>
#include <exception>
#include <utility>

#include "host/dialogs.h"
#include "host/sysutils.h"

namespace tav {

namespace {
TModalHook& Hook() {
    static TModalHook hook;
    return hook;
}
}  // namespace

TModalHook SetModalHook(TModalHook hook) { return std::exchange(Hook(), std::move(hook)); }

bool HasModalHook() { return static_cast<bool>(Hook()); }

int ShowModal(QDialog* form) {
    if (!Hook()) return form->exec();
    form->setResult(0);
    form->show();
    QApplication::processEvents();
    // The hook runs once; a hook that installs itself again is not re-entered for this window.
    TModalHook hook = Hook();
    hook(form);
    const int result = form->result();
    form->hide();
    return result;
}

void ShowNonModal(QWidget* form) { form->show(); }

void UpdateNow(QWidget* form) {
    if (form->isVisible()) form->repaint();
}

void Guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        MessageDlg(e.what(), TMsgDlgType::mtError, mbOK, 0);
    }
}

TGauge::TGauge(QWidget* parent) : QWidget(parent) {}

void TGauge::SetProgress(int value) {
    value = std::clamp(value, minValue_, maxValue_);
    if (value == progress_) return;
    progress_ = value;
    update();
}

int TGauge::PercentDone() const {
    if (maxValue_ == minValue_) return 0;
    return static_cast<int>(static_cast<long long>(progress_ - minValue_) * 100 /
                            (maxValue_ - minValue_));
}

void TGauge::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect r = rect();
    p.fillRect(r, backColor_);
    const int filled = r.width() * PercentDone() / 100;
    p.fillRect(QRect(r.left(), r.top(), filled, r.height()), foreColor_);
    const QString text = QString::number(PercentDone()) + QLatin1Char('%');
    // The text is drawn in the gauge's colours, inverted where the bar covers it.
    p.setPen(palette().color(QPalette::WindowText));
    p.setClipRect(QRect(r.left() + filled, r.top(), r.width() - filled, r.height()));
    p.drawText(r, Qt::AlignCenter, text);
    p.setPen(backColor_);
    p.setClipRect(QRect(r.left(), r.top(), filled, r.height()));
    p.drawText(r, Qt::AlignCenter, text);
}

}  // namespace tav

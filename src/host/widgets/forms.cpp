#include "tav/forms.h"

#include <QApplication>
#include <QDialog>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionHeader>
#include <exception>
#include <utility>

#include "tav/dialogs.h"
#include "tav/modal.h"
#include "tav/sysutils.h"

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
    InstallMessageBoxes();
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
    InstallMessageBoxes();
    try {
        handler();
    } catch (const std::exception& e) {
        MessageDlg(ErrorMessage(e), TMsgDlgType::mtError, mbOK, 0);
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

THeaderControl::THeaderControl(QWidget* parent) : QWidget(parent) {}

void THeaderControl::ClearSections() {
    sections_.clear();
    update();
}

void THeaderControl::AddSection(const QString& text, int width) {
    if (width <= 0) width = fontMetrics().horizontalAdvance(text) + 12;
    sections_.push_back({text, width});
    update();
}

QString THeaderControl::SectionText(int index) const {
    if (index < 0 || index >= SectionCount()) return {};
    return sections_[static_cast<std::size_t>(index)].text;
}

void THeaderControl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    int left = 0;
    auto drawSection = [&](const QString& text, int width,
                           QStyleOptionHeader::SectionPosition pos) {
        QStyleOptionHeader opt;
        opt.initFrom(this);
        opt.rect = QRect(left, 0, width, height());
        opt.text = text;
        opt.position = pos;
        opt.textAlignment = Qt::AlignLeft | Qt::AlignVCenter;
        style()->drawControl(QStyle::CE_Header, &opt, &p, this);
        left += width;
    };
    for (std::size_t i = 0; i < sections_.size(); ++i)
        drawSection(sections_[i].text, sections_[i].width, QStyleOptionHeader::Middle);
    if (left < width()) drawSection(QString(), width() - left, QStyleOptionHeader::End);
}

TPanel::TPanel(QWidget* parent) : QWidget(parent) {}

void TPanel::SetCaption(const QString& text) {
    caption_ = text;
    update();
}

void TPanel::SetBevelInner(TBevel b) {
    inner_ = b;
    update();
}

void TPanel::SetBevelOuter(TBevel b) {
    outer_ = b;
    update();
}

void TPanel::SetAlignment(Qt::Alignment a) {
    alignment_ = a;
    update();
}

void TPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QRect r = rect();
    if (autoFillBackground()) p.fillRect(r, palette().color(backgroundRole()));
    const QColor light = palette().color(QPalette::Light);
    const QColor dark = palette().color(QPalette::Dark);
    auto bevel = [&](TBevel b) {
        if (b == TBevel::bvNone) return;
        const bool raised = b == TBevel::bvRaised;
        p.setPen(raised ? light : dark);
        p.drawLine(r.topLeft(), r.topRight());
        p.drawLine(r.topLeft(), r.bottomLeft());
        p.setPen(raised ? dark : light);
        p.drawLine(r.bottomLeft(), r.bottomRight());
        p.drawLine(r.topRight(), r.bottomRight());
        r.adjust(1, 1, -1, -1);
    };
    bevel(outer_);
    bevel(inner_);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(r.adjusted(2, 0, -2, 0), static_cast<int>(alignment_), caption_);
}

}  // namespace tav

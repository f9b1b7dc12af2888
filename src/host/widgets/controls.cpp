#include "tav/controls.h"

#include <QButtonGroup>
#include <QFocusEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRadioButton>
#include <algorithm>

#include "tav/forms.h"

namespace tav {

namespace {

void Run(const TNotifyEvent& handler) {
    if (handler) Guarded(handler);
}

// Focus that moves inside the form counts as entering or leaving a control; a drop-down list
// opening, or the whole window losing the focus, does not.
bool CountsAsFocusMove(QEvent* e) {
    const auto reason = static_cast<QFocusEvent*>(e)->reason();
    return reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason;
}

bool FocusEvent(QEvent* e, const TNotifyEvent& enter, const TNotifyEvent& exit) {
    if (e->type() == QEvent::FocusIn && CountsAsFocusMove(e)) Run(enter);
    if (e->type() == QEvent::FocusOut && CountsAsFocusMove(e)) Run(exit);
    return false;
}

// The small pictures of the bitmap buttons, drawn rather than loaded.
QIcon Glyph(TBitBtn::TKind kind) {
    QPixmap pixmap(18, 18);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    switch (kind) {
        case TBitBtn::TKind::bkOK:
            p.setPen(QPen(QColor(0, 128, 0), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.drawPolyline(QPolygonF({QPointF(3, 9), QPointF(7, 14), QPointF(15, 4)}));
            break;
        case TBitBtn::TKind::bkCancel:
            p.setPen(QPen(QColor(192, 0, 0), 3, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(4, 4, 14, 14);
            p.drawLine(14, 4, 4, 14);
            break;
        case TBitBtn::TKind::bkHelp: {
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(0, 0, 160));
            p.drawEllipse(QRectF(1, 1, 16, 16));
            QFont f("Arial");
            f.setPixelSize(13);
            f.setBold(true);
            p.setFont(f);
            p.setPen(Qt::white);
            p.drawText(QRectF(1, 1, 16, 16), Qt::AlignCenter, "?");
            break;
        }
        case TBitBtn::TKind::bkClose:
            p.setPen(QPen(QColor(128, 64, 0), 2));
            p.drawRect(QRectF(4, 2, 10, 14));
            p.drawPoint(11, 9);
            break;
    }
    return QIcon(pixmap);
}

// An item of a radio group answers a click anywhere in its cell, not only on its text.
class TRadioItem : public QRadioButton {
  public:
    using QRadioButton::QRadioButton;

  protected:
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};

}  // namespace

// ----------------------------------------------------------------------------- TRadioGroup

TRadioGroup::TRadioGroup(QWidget* parent) : QGroupBox(parent), group_(new QButtonGroup(this)) {}

void TRadioGroup::SetItems(const QStringList& items, int columns) {
    for (QRadioButton* b : buttons_) delete b;
    buttons_.clear();
    columns_ = std::max(1, columns);
    itemIndex_ = -1;
    for (int i = 0; i < items.size(); ++i) {
        auto* b = new TRadioItem(items[i], this);
        b->setObjectName(QString("Item%1").arg(i));
        group_->addButton(b, i);
        connect(b, &QRadioButton::clicked, this,
                [this, i] { Guarded([this, i] { SetItemIndex(i); }); });
        buttons_.push_back(b);
    }
    Layout();
}

QRadioButton* TRadioGroup::Button(int index) const {
    return index >= 0 && index < Count() ? buttons_[static_cast<std::size_t>(index)] : nullptr;
}

void TRadioGroup::SetItemIndex(int index) {
    if (index < -1 || index >= Count()) index = -1;
    if (index == itemIndex_) return;
    itemIndex_ = index;
    group_->setExclusive(false);
    for (int i = 0; i < Count(); ++i) buttons_[static_cast<std::size_t>(i)]->setChecked(i == index);
    group_->setExclusive(true);
    Run(OnClick);
}

void TRadioGroup::resizeEvent(QResizeEvent* e) {
    QGroupBox::resizeEvent(e);
    Layout();
}

// Items fill the columns top to bottom, below the caption.
void TRadioGroup::Layout() {
    if (buttons_.empty()) return;
    const int rows = (Count() + columns_ - 1) / columns_;
    const QRect inner = contentsRect().adjusted(6, 0, -2, -2);
    const int w = inner.width() / columns_;
    const int h = std::max(1, inner.height() / rows);
    for (int i = 0; i < Count(); ++i)
        buttons_[static_cast<std::size_t>(i)]->setGeometry(inner.left() + (i / rows) * w,
                                                           inner.top() + (i % rows) * h, w - 2, h);
}

// ------------------------------------------------------------------------------- TComboBox

TComboBox::TComboBox(QWidget* parent, TStyle style) : QComboBox(parent) {
    setEditable(style == TStyle::csDropDown);
    setInsertPolicy(QComboBox::NoInsert);
    setCurrentIndex(-1);
    connect(this, &QComboBox::activated, this, [this](int index) {
        itemIndex_ = index;
        Run(OnClick);
        Run(OnChange);
    });
    if (QLineEdit* edit = lineEdit()) {
        edit->setCompleter(nullptr);
        connect(edit, &QLineEdit::textEdited, this, [this] {
            itemIndex_ = -1;
            Run(OnChange);
        });
    }
}

void TComboBox::SetItemIndex(int index) {
    if (index < -1 || index >= count()) index = -1;
    itemIndex_ = index;
    setCurrentIndex(index);
    if (index < 0 && isEditable()) setEditText(QString());
}

void TComboBox::SetText(const QString& text) {
    itemIndex_ = -1;
    if (isEditable()) {
        setCurrentIndex(-1);
        setEditText(text);
    } else {
        setCurrentIndex(IndexOf(text));
        itemIndex_ = currentIndex();
    }
}

void TComboBox::ClearItems() {
    const QString text = currentText();
    clear();
    itemIndex_ = -1;
    if (isEditable()) setEditText(text);
}

// Qt makes the first entry added to an empty box the current one; the classic box does not.
void TComboBox::AddItem(const QString& item) {
    const QString text = currentText();
    addItem(item);
    if (itemIndex_ < 0) {
        setCurrentIndex(-1);
        if (isEditable()) setEditText(text);
    }
}

int TComboBox::IndexOf(const QString& text) const {
    return findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
}

bool TComboBox::event(QEvent* e) {
    FocusEvent(e, OnEnter, OnExit);
    return QComboBox::event(e);
}

// ----------------------------------------------------------------------------------- TEdit

TEdit::TEdit(QWidget* parent) : QLineEdit(parent) {
    connect(this, &QLineEdit::textEdited, this, [this] { Run(OnChange); });
}

bool TEdit::event(QEvent* e) {
    FocusEvent(e, OnEnter, OnExit);
    return QLineEdit::event(e);
}

// --------------------------------------------------------------------------------- TBitBtn

TBitBtn::TBitBtn(TKind kind, QWidget* parent) : QPushButton(parent), kind_(kind) {
    switch (kind) {
        case TKind::bkOK:
            setText("OK");
            modalResult_ = mrOk;
            break;
        case TKind::bkCancel:
            setText("Cancel");
            modalResult_ = mrCancel;
            break;
        case TKind::bkHelp:
            setText("&Help");
            modalResult_ = mrNone;
            break;
        case TKind::bkClose:
            setText("&Close");
            modalResult_ = mrNone;
            break;
    }
    setIcon(Glyph(kind));
    setDefault(kind == TKind::bkOK);
    setAutoDefault(kind == TKind::bkOK);
    connect(this, &QPushButton::clicked, this, [this] {
        Run(OnClick);
        QWidget* top = window();
        if (kind_ == TKind::bkClose)
            top->close();
        else if (auto* form = dynamic_cast<QDialog*>(top); form && modalResult_ != mrNone)
            form->done(modalResult_);
    });
}

// ----------------------------------------------------------------------------------- TForm

TForm::TForm(QWidget* parent) : QDialog(parent) {}

void TForm::reject() {
    for (TBitBtn* b : findChildren<TBitBtn*>())
        if (b->Cancel() && b->isEnabled()) {
            b->click();
            return;
        }
    done(mrCancel);
}

bool TForm::event(QEvent* e) {
    const bool handled = QDialog::event(e);
    if (e->type() == QEvent::Show || e->type() == QEvent::WindowActivate) Run(OnActivate);
    return handled;
}

}  // namespace tav

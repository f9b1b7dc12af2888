#include "design/dlgparts.h"

#include <QFrame>
#include <QLabel>
#include <QPainter>

#include "tav/controls.h"
#include "tav/forms.h"

namespace tav::dlgparts {

namespace {

// The two pictures of the panel: a scatter of points with its fitted line, and the sum sign.
QPixmap Picture(int which) {
    QPixmap pixmap(28, 28);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    if (which == 1) {
        p.setPen(QPen(QColor(0, 0, 128), 1));
        p.setBrush(QColor(255, 255, 224));
        p.drawRect(QRectF(0.5, 0.5, 27, 27));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(192, 0, 0));
        for (const QPointF pt : {QPointF(5, 21), QPointF(9, 18), QPointF(12, 19), QPointF(15, 13),
                                 QPointF(19, 12), QPointF(22, 7)})
            p.drawEllipse(pt, 1.6, 1.6);
        p.setPen(QPen(QColor(0, 0, 128), 1.5));
        p.drawLine(QPointF(3, 24), QPointF(25, 5));
    } else {
        p.setPen(QPen(QColor(0, 0, 128), 1));
        p.setBrush(QColor(224, 236, 255));
        p.drawRect(QRectF(0.5, 0.5, 27, 27));
        p.setPen(QPen(QColor(0, 0, 128), 2.2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPolyline(QPolygonF(
            {QPointF(20, 6), QPointF(7, 6), QPointF(14, 14), QPointF(7, 22), QPointF(20, 22)}));
    }
    return pixmap;
}

}  // namespace

QFont PixelFont(const char* family, int pixels, bool bold) {
    QFont f(family);
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

void MakeTitle(QWidget* form) {
    auto make = [form](const char* name, int x, int y, const QColor& colour) {
        auto* label = MakeLabel(form, name, "Multivariate Regression", x, y, 197, 22);
        label->setFont(PixelFont("Times New Roman", 19, true));
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, colour);
        label->setPalette(palette);
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
    };
    make("Label3", 70, 8, Qt::white);
    make("Label2", 71, 7, QColor(0, 0, 128));
}

void MakePicturePanel(QWidget* form) {
    auto* panel = new TPanel(form);
    panel->setObjectName("Panel1");
    panel->setGeometry(1, 4, 58, 46);
    panel->SetBevelInner(TPanel::TBevel::bvLowered);
    for (const auto& [name, x, y, which] :
         {std::tuple{"Image1", 2, 2, 1}, std::tuple{"Image2", 28, 16, 2}}) {
        auto* image = new QLabel(panel);
        image->setObjectName(name);
        image->setGeometry(x, y, 28, 28);
        image->setPixmap(Picture(which));
    }
}

QFrame* MakeBevel(QWidget* form, int x, int y, int w, int h) {
    auto* bevel = new QFrame(form);
    bevel->setObjectName("Bevel1");
    bevel->setFrameStyle(QFrame::Box | QFrame::Sunken);
    bevel->setGeometry(x, y, w, h);
    return bevel;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int x, int y, int w,
                  int h) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setGeometry(x, y, w, h);
    label->setTextFormat(Qt::PlainText);
    return label;
}

TPanel* MakePanel(QWidget* parent, const char* name, int x, int y, int w, int h) {
    auto* panel = new TPanel(parent);
    panel->setObjectName(name);
    panel->setGeometry(x, y, w, h);
    panel->setAutoFillBackground(true);
    return panel;
}

QStringList ChoiceCaptions(TRole role) {
    QStringList captions;
    for (int i = 0; const TTransformationKind* kind = ChoiceKind(i, role); ++i)
        captions << QString::fromUtf8(kind->Caption(role));
    return captions;
}

TRadioGroup* MakeChoices(QWidget* form, int x, int y, int w, int h, const QString& title,
                         const QStringList& items) {
    auto* group = new TRadioGroup(form);
    group->setObjectName("RadioGroup1");
    group->setGeometry(x, y, w, h);
    group->setFont(PixelFont("Arial", 12));
    group->setTitle(title);
    group->SetItems(items, 2);
    return group;
}

TComboBox* MakeComboBox(QWidget* parent, const char* name, int x, int y, int w,
                        const QStringList& entries, const QString& text) {
    auto* box = new TComboBox(parent);
    box->setObjectName(name);
    box->setGeometry(x, y, w, 21);
    for (const QString& entry : entries) box->AddItem(entry);
    box->SetText(text);
    return box;
}

void ShowStored(TComboBox* box, const QString& value) {
    const int index = box->IndexOf(value);
    if (index >= 0)
        box->SetItemIndex(index);
    else
        box->SetText(value);
}

TEdit* MakeEdit(QWidget* parent, const char* name, int x, int y, int w) {
    auto* edit = new TEdit(parent);
    edit->setObjectName(name);
    edit->setGeometry(x, y, w, 21);
    return edit;
}

TButtons MakeButtons(QWidget* form, int top, int okLeft, int cancelLeft, int helpLeft) {
    auto make = [&](TBitBtn::TKind kind, const char* name, int left) {
        auto* b = new TBitBtn(kind, form);
        b->setObjectName(name);
        b->setGeometry(left, top, 75, 30);
        return b;
    };
    return {make(TBitBtn::TKind::bkOK, "bbtnOK", okLeft),
            make(TBitBtn::TKind::bkCancel, "bbtnCancel", cancelLeft),
            make(TBitBtn::TKind::bkHelp, "bbtnHelp", helpLeft)};
}

TPanel* MakeStatusPanel(QWidget* form, int top, int width) {
    auto* status = new TPanel(form);
    status->setObjectName("Panel2");
    status->setGeometry(0, top, width, 15);
    status->SetBevelInner(TPanel::TBevel::bvLowered);
    status->SetAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    status->setFont(PixelFont("Arial", 11));
    return status;
}

}  // namespace tav::dlgparts

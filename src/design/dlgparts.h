// The parts the two definition dialogs share: the shadowed title, the picture panel, the frame,
// the OK, Cancel and Help buttons and the status line, placed as each dialog gives them.
#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

#include "tav/transformations.h"

class QLabel;
class QFrame;
class QWidget;

namespace tav {

class TBitBtn;
class TComboBox;
class TEdit;
class TPanel;
class TRadioGroup;

namespace dlgparts {

// A font of the given family and size in pixels.
QFont PixelFont(const char* family, int pixels, bool bold = false);

// "Multivariate Regression" twice: Label3 in white at (70, 8), Label2 in navy one pixel up and
// right over it.
void MakeTitle(QWidget* form);

// Panel1 at (1, 4), 58 x 46, lowered, with the two 28 x 28 pictures Image1 and Image2.
void MakePicturePanel(QWidget* form);

// Bevel1, a lowered box.
QFrame* MakeBevel(QWidget* form, int x, int y, int w, int h);

// A label at (x, y) of `parent`.
QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int x, int y, int w,
                  int h = 17);

// A panel of the classic kind (raised outer bevel) with an opaque background.
TPanel* MakePanel(QWidget* parent, const char* name, int x, int y, int w, int h);

// The captions of the choices of a role's definition dialog, in their order.
QStringList ChoiceCaptions(TRole role);

// RadioGroup1: the choices in two columns, Arial 12 pixels.
TRadioGroup* MakeChoices(QWidget* form, int x, int y, int w, int h, const QString& title,
                         const QStringList& items);

// An editable combo box 21 pixels high, with its entries and its text.
TComboBox* MakeComboBox(QWidget* parent, const char* name, int x, int y, int w,
                        const QStringList& entries = {}, const QString& text = {});

// Shows a stored value in an editable box: its entry when the list has one, else as typed text
// (a divisor typed once reopens as it was, not as an empty box).
void ShowStored(TComboBox* box, const QString& value);

// An edit box 21 pixels high.
TEdit* MakeEdit(QWidget* parent, const char* name, int x, int y, int w);

struct TButtons {
    TBitBtn* ok;
    TBitBtn* cancel;
    TBitBtn* help;
};
// bbtnOK, bbtnCancel and bbtnHelp, 75 x 30, at `top` and the three lefts.
TButtons MakeButtons(QWidget* form, int top, int okLeft, int cancelLeft, int helpLeft);

// Panel2: the status line at the bottom, Arial 11 pixels, text from the left.
TPanel* MakeStatusPanel(QWidget* form, int top, int width);

}  // namespace dlgparts
}  // namespace tav

// The classic framework's input controls, as the definition dialogs use them: radio groups, combo
// boxes, edit boxes, bitmap buttons and a modal form that answers Esc with its Cancel button.
//
// Event handlers are plain callables set by the form that owns the control. A handler runs when
// the user acts (a click, a pick from a list, typing, focus moving in or out) and, for a radio
// group, when code sets a new item index; setting a text or an index from code otherwise runs
// nothing. Every handler runs guarded: an exception it raises is shown in the framework's error
// box and goes no further.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <functional>
#include <vector>

#include "tav/messages.h"

class QButtonGroup;
class QRadioButton;

namespace tav {

using TNotifyEvent = std::function<void()>;

// A group of radio buttons laid out in columns under a caption. ItemIndex is -1 while none is
// selected.
class TRadioGroup : public QGroupBox {
  public:
    explicit TRadioGroup(QWidget* parent = nullptr);

    void SetItems(const QStringList& items, int columns);
    int Count() const { return static_cast<int>(buttons_.size()); }
    QRadioButton* Button(int index) const;
    int ItemIndex() const { return itemIndex_; }
    // Selects item `index` (-1 for none); runs OnClick when the index changes.
    void SetItemIndex(int index);

    TNotifyEvent OnClick;

  protected:
    void resizeEvent(QResizeEvent* e) override;

  private:
    void Layout();
    std::vector<QRadioButton*> buttons_;
    QButtonGroup* group_;
    int columns_ = 1;
    int itemIndex_ = -1;
};

// A combo box: csDropDown lets the user type any text beside picking an entry, csDropDownList
// only picks. ItemIndex is the entry picked, -1 once the user types or when none is.
class TComboBox : public QComboBox {
  public:
    enum class TStyle { csDropDown, csDropDownList };
    explicit TComboBox(QWidget* parent = nullptr, TStyle style = TStyle::csDropDown);

    int ItemIndex() const { return itemIndex_; }
    // Selects entry `index` (its text becomes the box's text); -1 selects none and empties it.
    void SetItemIndex(int index);
    QString Text() const { return currentText(); }
    // Shows `text` with no entry selected.
    void SetText(const QString& text);
    void ClearItems();
    void AddItem(const QString& item);
    // The index of the entry equal to `text` (exactly), or -1.
    int IndexOf(const QString& text) const;

    TNotifyEvent OnChange, OnClick, OnEnter, OnExit;

  protected:
    bool event(QEvent* e) override;

  private:
    int itemIndex_ = -1;
};

// A one-line edit box.
class TEdit : public QLineEdit {
  public:
    explicit TEdit(QWidget* parent = nullptr);
    TNotifyEvent OnChange, OnEnter, OnExit;

  protected:
    bool event(QEvent* e) override;
};

// A push button with a small picture of its kind and, for OK and Cancel, a modal result that
// closes its form. A Cancel button answers Esc.
class TBitBtn : public QPushButton {
  public:
    enum class TKind { bkOK, bkCancel, bkHelp, bkClose };
    TBitBtn(TKind kind, QWidget* parent = nullptr);

    TKind Kind() const { return kind_; }
    uint16_t ModalResult() const { return modalResult_; }
    bool Cancel() const { return kind_ == TKind::bkCancel; }

    TNotifyEvent OnClick;

  private:
    TKind kind_;
    uint16_t modalResult_;
};

// A modal form of the classic framework: its result is the modal result of the button that closed
// it (mrOk, mrCancel), Esc presses its Cancel button, closing it otherwise gives mrCancel.
// OnActivate runs when it is shown and on every later activation.
class TForm : public QDialog {
  public:
    explicit TForm(QWidget* parent = nullptr);
    void reject() override;

    TNotifyEvent OnActivate;

  protected:
    bool event(QEvent* e) override;
};

}  // namespace tav

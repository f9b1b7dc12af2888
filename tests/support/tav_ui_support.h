// Shared helpers of the window tests: a driver for the modal hook, children by name, and the
// user's actions on controls (clicks, picks from a list, typing, Esc).
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QStringList>
#include <functional>

#include "tav/forms.h"

namespace tavtest {

// Runs `body` on each window the modal hook receives while it lives.
class TModalDriver {
  public:
    explicit TModalDriver(std::function<void(QDialog*)> body);
    ~TModalDriver();
    TModalDriver(const TModalDriver&) = delete;
    TModalDriver& operator=(const TModalDriver&) = delete;

  private:
    tav::TModalHook previous_;
};

// The child of that name; a missing one fails the test (and returns null).
QObject* FindChild(const QObject& parent, const char* name);
template <typename T>
T* Child(const QObject& parent, const char* name) {
    return dynamic_cast<T*>(FindChild(parent, name));
}

// The text of the label of that name; a missing one fails the test (and reads "<missing NAME>").
QString LabelText(const QObject& parent, const char* name);

// A mouse click in the middle of the widget (nothing happens on a disabled one).
void Click(QWidget* widget);
// Picks the entry `text` from the box's drop-down list, with the mouse.
void Pick(QComboBox* box, const QString& text);
// Replaces the text of an edit box or an editable combo box by typing `text`.
void Type(QWidget* box, const QString& text);
void PressEsc(QWidget* window);
// Of the sibling widgets named, the one in front (brought to the front last).
QString Front(const QWidget* parent, const QStringList& names);

}  // namespace tavtest

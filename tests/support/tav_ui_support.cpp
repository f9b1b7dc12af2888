#include "support/tav_ui_support.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

namespace tavtest {

TModalDriver::TModalDriver(std::function<void(QDialog*)> body)
    : previous_(tav::SetModalHook(std::move(body))) {}

TModalDriver::~TModalDriver() { tav::SetModalHook(previous_); }

QObject* FindChild(const QObject& parent, const char* name) {
    QObject* child = parent.findChild<QObject*>(name);
    EXPECT_NE(child, nullptr) << name;
    return child;
}

QString LabelText(const QObject& parent, const char* name) {
    const auto* label = Child<QLabel>(parent, name);
    return label ? label->text() : QString("<missing %1>").arg(name);
}

void Click(QWidget* widget) {
    QTest::mouseClick(widget, Qt::LeftButton, {}, widget->rect().center());
}

void Pick(QComboBox* box, const QString& text) {
    const int index = box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    ASSERT_GE(index, 0) << text.toStdString();
    box->showPopup();
    QAbstractItemView* view = box->view();
    const QRect item = view->visualRect(box->model()->index(index, box->modelColumn()));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, item.center());
    QApplication::processEvents();
}

void Type(QWidget* box, const QString& text) {
    QWidget* target = box;
    if (auto* combo = qobject_cast<QComboBox*>(box); combo && combo->lineEdit())
        target = combo->lineEdit();
    box->setFocus();
    QTest::keyClick(target, Qt::Key_A, Qt::ControlModifier);
    if (text.isEmpty())
        QTest::keyClick(target, Qt::Key_Delete);
    else
        QTest::keyClicks(target, text);
}

void PressEsc(QWidget* window) { QTest::keyClick(window, Qt::Key_Escape); }

QString Front(const QWidget* parent, const QStringList& names) {
    const QObjectList& children = parent->children();
    for (auto it = children.rbegin(); it != children.rend(); ++it)
        if (names.contains((*it)->objectName())) return (*it)->objectName();
    return {};
}

}  // namespace tavtest

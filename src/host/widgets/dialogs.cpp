// The Qt side of the message boxes: QMessageBox as the presenter of MessageDlg.
#include "tav/dialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <utility>

namespace tav {

namespace {

struct ButtonMap {
    TMsgDlgBtn btn;
    QMessageBox::StandardButton qt;
    TModalResult result;
};

constexpr ButtonMap kButtons[] = {
    {mbYes, QMessageBox::Yes, mrYes},
    {mbNo, QMessageBox::No, mrNo},
    {mbOK, QMessageBox::Ok, mrOk},
    {mbCancel, QMessageBox::Cancel, mrCancel},
    {mbAbort, QMessageBox::Abort, mrAbort},
    {mbRetry, QMessageBox::Retry, mrRetry},
    {mbIgnore, QMessageBox::Ignore, mrIgnore},
    {mbAll, QMessageBox::YesToAll, mrAll},
    {mbHelp, QMessageBox::Help, mrNone},
};

}  // namespace

// The window library's message box: a real QMessageBox with its own modal loop.
static uint16_t ShowMessageBox(const std::string& msg, TMsgDlgType type, TMsgDlgButtons buttons) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(type == TMsgDlgType::mtCustom ? QApplication::applicationName()
                                                     : QString::fromStdString(MsgDlgCaption(type)));
    box.setText(QString::fromStdString(DisplayText(msg)));
    switch (type) {
        case TMsgDlgType::mtWarning:
            box.setIcon(QMessageBox::Warning);
            break;
        case TMsgDlgType::mtError:
            box.setIcon(QMessageBox::Critical);
            break;
        case TMsgDlgType::mtInformation:
            box.setIcon(QMessageBox::Information);
            break;
        case TMsgDlgType::mtConfirmation:
            box.setIcon(QMessageBox::Question);
            break;
        case TMsgDlgType::mtCustom:
            break;
    }
    QMessageBox::StandardButtons qtButtons;
    for (const auto& b : kButtons)
        if (buttons & b.btn) qtButtons |= b.qt;
    if (!qtButtons) qtButtons = QMessageBox::Ok;
    box.setStandardButtons(qtButtons);
    box.exec();
    const auto pressed = box.standardButton(box.clickedButton());
    for (const auto& b : kButtons)
        if (b.qt == pressed) return b.result;
    return mrNone;
}

void InstallMessageBoxes() {
    if (!HasMessageDlgPresenter()) SetMessageDlgPresenter(&ShowMessageBox);
}

}  // namespace tav

#include "host/dialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <utility>

namespace tav {

namespace {

TMessageDlgHook& Hook() {
    static TMessageDlgHook hook;
    return hook;
}

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

std::string DisplayText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\n' && i + 1 < text.size() && text[i + 1] == '\r') {
            out += '\n';
            ++i;
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            out += '\n';
            ++i;
        } else if (c == '\r') {
            out += '\n';
        } else {
            out += c;
        }
    }
    return out;
}

std::string MsgDlgCaption(TMsgDlgType type) {
    switch (type) {
        case TMsgDlgType::mtWarning:
            return "Warning";
        case TMsgDlgType::mtError:
            return "Error";
        case TMsgDlgType::mtInformation:
            return "Information";
        case TMsgDlgType::mtConfirmation:
            return "Confirm";
        case TMsgDlgType::mtCustom:
            break;
    }
    return QApplication::applicationName().toStdString();
}

TMessageDlgHook SetMessageDlgHook(TMessageDlgHook hook) {
    return std::exchange(Hook(), std::move(hook));
}

uint16_t MessageDlg(const std::string& msg, TMsgDlgType type, TMsgDlgButtons buttons,
                    int32_t /*helpCtx*/) {
    if (Hook()) return Hook()(msg, type, buttons);

    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(QString::fromStdString(MsgDlgCaption(type)));
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

}  // namespace tav

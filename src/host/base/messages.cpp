// Message boxes without a window library: the hook, the presenter a window library installs,
// and the texts. The matrix and variable libraries report through MessageDlg here.
#include "tav/messages.h"

#include <utility>

namespace tav {

namespace {

TMessageDlgHook& Hook() {
    static TMessageDlgHook hook;
    return hook;
}

TMessageDlgHook& Presenter() {
    static TMessageDlgHook presenter;
    return presenter;
}

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
    return "Message";
}

TMessageDlgHook SetMessageDlgHook(TMessageDlgHook hook) {
    return std::exchange(Hook(), std::move(hook));
}

void SetMessageDlgPresenter(TMessageDlgHook presenter) { Presenter() = std::move(presenter); }

bool HasMessageDlgPresenter() { return static_cast<bool>(Presenter()); }

uint16_t MessageDlg(const std::string& msg, TMsgDlgType type, TMsgDlgButtons buttons,
                    int32_t /*helpCtx*/) {
    if (Hook()) return Hook()(msg, type, buttons);
    if (Presenter()) return Presenter()(msg, type, buttons);
    return mrNone;
}

}  // namespace tav

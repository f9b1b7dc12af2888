// Message boxes of the host layer, without a window library.
//
// MessageDlg is the classic framework's standard message box. It shows a real QMessageBox and
// runs its modal loop, unless the application has installed a hook (tests and headless runs do):
// the hook then receives the message and answers it. The message side needs no window library;
// the QMessageBox is the widget library's presenter (tav/dialogs.h). The header exposes
// no Qt types, so that the matrix and variable libraries can report through it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace tav {

enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

enum TMsgDlgBtn : uint16_t {
    mbYes = 1 << 0,
    mbNo = 1 << 1,
    mbOK = 1 << 2,
    mbCancel = 1 << 3,
    mbAbort = 1 << 4,
    mbRetry = 1 << 5,
    mbIgnore = 1 << 6,
    mbAll = 1 << 7,
    mbHelp = 1 << 8,
};
using TMsgDlgButtons = uint16_t;

// Modal results, as the classic framework numbers them.
enum TModalResult : uint16_t {
    mrNone = 0,
    mrOk = 1,
    mrCancel = 2,
    mrAbort = 3,
    mrRetry = 4,
    mrIgnore = 5,
    mrYes = 6,
    mrNo = 7,
    mrAll = 8,
};

// Text of a message box as it is stored: line breaks are LF followed by CR. The box itself shows
// ordinary line breaks.
std::string DisplayText(const std::string& text);

// Shows a modal message box and returns the modal result of the button pressed.
uint16_t MessageDlg(const std::string& msg, TMsgDlgType type, TMsgDlgButtons buttons,
                    int32_t helpCtx);

// A hook receives every message box instead of the user and returns the modal result to answer
// with. Installing a hook returns the previous one, so that scoped installers can restore it.
using TMessageDlgHook =
    std::function<uint16_t(const std::string& msg, TMsgDlgType type, TMsgDlgButtons buttons)>;
TMessageDlgHook SetMessageDlgHook(TMessageDlgHook hook);

// Caption of the classic message box for a dialog type ("Warning", "Error", ...).
std::string MsgDlgCaption(TMsgDlgType type);

// Who shows a message when no hook is installed: the widget library installs a real message box
// (InstallMessageBoxes, done as soon as its windows are used or the regression windows are
// registered). Without one, as in a program of the matrix library alone, MessageDlg shows nothing
// and answers mrNone.
void SetMessageDlgPresenter(TMessageDlgHook presenter);
bool HasMessageDlgPresenter();

}  // namespace tav

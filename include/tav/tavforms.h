// The components' message wrapper: warnings and notes are shown only when the component's
// ShowWarnings is true.
#pragma once

#include <cstdint>
#include <string>

#include "tav/messages.h"

namespace tav {

// With Show true, shows MessageDlg and returns its modal result; otherwise shows nothing and
// returns 0.
uint16_t TavMessageDlg(bool Show, const std::string& Msg, TMsgDlgType DlgType,
                       TMsgDlgButtons Buttons, int32_t HelpCtx);

}  // namespace tav

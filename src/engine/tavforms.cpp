#include "tav/tavforms.h"

namespace tav {

uint16_t TavMessageDlg(bool Show, const std::string& Msg, TMsgDlgType DlgType,
                       TMsgDlgButtons Buttons, int32_t HelpCtx) {
    if (!Show) return 0;
    return MessageDlg(Msg, DlgType, Buttons, HelpCtx);
}

}  // namespace tav

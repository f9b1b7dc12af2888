#include "tav/tavprogress.h"

#include <algorithm>
#include <utility>

namespace tav {

namespace {

TGaugeObserver& Observer() {
    static TGaugeObserver observer;
    return observer;
}

TLoadProgressWindows*& Windows() {
    static TLoadProgressWindows* windows = nullptr;
    return windows;
}

}  // namespace

void SetLoadProgressWindows(TLoadProgressWindows* windows) { Windows() = windows; }

TGaugeObserver SetGaugeObserver(TGaugeObserver observer) {
    return std::exchange(Observer(), std::move(observer));
}

TLoadProgress::~TLoadProgress() {
    if (Observer()) Observer()(*this, true);
}

void TLoadProgress::SetGaugeProgress(uint16_t percent) {
    progress_ = std::min<int>(percent, 100);
    Changed();
}

void TLoadProgress::SetGaugeText(const std::string& text) {
    text_ = text;
    records_ = -1;
    Changed();
}

void TLoadProgress::SetGaugeRecords(int count) {
    records_ = count;
    Changed();
}

void TLoadProgress::Show() {
    visible_ = true;
    if (!view_ && Windows()) view_ = Windows()->ShowLoadProgress(*this);
}

std::string TLoadProgress::GaugeText() const {
    if (records_ >= 0) {
        text_ = "Records Loaded: " + std::to_string(records_);
        records_ = -1;
    }
    return text_;
}

void TLoadProgress::Changed() {
    if (view_) view_->ProgressChanged(*this);
    if (Observer()) Observer()(*this, false);
}

}  // namespace tav

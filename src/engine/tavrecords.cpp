#include "tav/tavrecords.h"

#include <stdexcept>

#include "tav/sysutils.h"

namespace tav {

int32_t TLoadAccount::Skipped() const {
    int32_t total = 0;
    for (const auto& variable : skipped)
        for (const int32_t count : variable) total += count;
    return total;
}

TTAVRecords::TTAVRecords() : identity_(AllocateZeroed<TIdentity>()) {}

void TTAVRecords::Start() {
    account_ = TLoadAccount();
    count_ = 0;
    labels_.clear();
    labelled_ = false;
}

void TTAVRecords::Add(int64_t position, const std::string& label) {
    ++count_;
    identity_->position[count_] = position;
    labels_ += label;
    identity_->labelEnd[count_] = labels_.size();
}

int64_t TTAVRecords::Position(int32_t i) const {
    if (i < 1 || i > count_)
        throw std::out_of_range("record " + IntToStr(i) + " of 1.." + IntToStr(count_));
    return identity_->position[i];
}

std::string TTAVRecords::Label(int32_t i) const {
    Position(i);  // the range check
    const std::size_t start = i == 1 ? 0 : identity_->labelEnd[i - 1];
    return labels_.substr(start, identity_->labelEnd[i] - start);
}

std::string TTAVRecords::Name(int32_t i) const {
    std::string label = Label(i);
    return label.empty() ? IntToStr(Position(i)) : label;
}

std::string AccountText(int64_t used, int64_t read, int variables,
                        const std::function<int64_t(int, int)>& skipped,
                        const std::function<std::string(int)>& term) {
    std::string out = std::to_string(used) + " of " + std::to_string(read) + " records used";
    int64_t total = 0;
    for (int v = 0; v <= variables; ++v)
        for (int k = 1; k < kSkipReasonCount; ++k) total += skipped(v, k);
    if (total > 0) {
        out += "; " + std::to_string(total) + " skipped:";
        const char* separator = " ";
        for (int v = 0; v <= variables; ++v)
            for (int k = 1; k < kSkipReasonCount; ++k)
                if (const int64_t count = skipped(v, k)) {
                    out += separator + std::to_string(count) + " for " + term(v) + " (" +
                           SkipReasonText(static_cast<TSkipReason>(k)) + ")";
                    separator = ", ";
                }
    }
    return out;
}

std::string TTAVRecords::Summary(int variables, const std::function<std::string(int)>& term) const {
    const TLoadAccount& a = account_;
    std::string out = AccountText(
        a.used, a.read, variables, [&a](int v, int k) { return int64_t{a.skipped[v][k]}; }, term);
    if (a.Capped())
        out += "; only the first " + std::to_string(a.read) + " of " +
               std::to_string(a.recordCount) + " records were read";
    return out;
}

}  // namespace tav

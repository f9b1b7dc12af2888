#include "tav/fixedarray.h"

namespace tav {

void RaiseIndexError(const char* what, int64_t index, int64_t lo, int64_t hi) {
    throw std::out_of_range(std::string(what) + " index " + std::to_string(index) + " is outside " +
                            std::to_string(lo) + ".." + std::to_string(hi));
}

}  // namespace tav

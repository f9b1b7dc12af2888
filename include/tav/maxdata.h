// Capacity of the regression: records and model terms (the intercept and up to ten controls).
#pragma once

#include <cstdint>

namespace tav {

inline constexpr int32_t MaxData = 2500;
inline constexpr int32_t MaxTerms = 11;

}  // namespace tav

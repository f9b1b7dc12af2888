// What the QR fit and the factorisation behind the inference share: the Eigen types over the
// component's fixed-size storage, and the one rule that decides whether a column is aliased.
#pragma once

#include <Eigen/Dense>
#include <cstdint>

#include "tav/maxdata.h"

namespace tav::factor {

using ext = long double;
using Design =
    Eigen::Matrix<ext, Eigen::Dynamic, Eigen::Dynamic, Eigen::ColMajor, MaxData, MaxTerms>;
using Records = Eigen::Matrix<ext, Eigen::Dynamic, 1, Eigen::ColMajor, MaxData, 1>;
using Square =
    Eigen::Matrix<ext, Eigen::Dynamic, Eigen::Dynamic, Eigen::ColMajor, MaxTerms, MaxTerms>;
using Terms = Eigen::Matrix<ext, Eigen::Dynamic, 1, Eigen::ColMajor, MaxTerms, 1>;
// Factorises the columns it is given in place.
using TQr = Eigen::ColPivHouseholderQR<Eigen::Ref<Design>>;

// A centred, scaled column whose distance from the span of the others is at most this (its own
// length being 1) counts as dependent on them. The data are doubles: a column that reproduces a
// combination of others up to their rounding stays about 1E-16 away, while the hardest certified
// polynomial design (degree 10) keeps its smallest pivot near 1E-13 of the largest after scaling.
// (A looser tolerance such as 1E-7 would alias a term of that certified design.)
constexpr ext kRankTolerance = 1.0E-14L;

}  // namespace tav::factor

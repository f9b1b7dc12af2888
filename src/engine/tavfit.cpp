// The least-squares fit by the normal equations, and the statistics around it.
//
// Sums run in record order; every product or quotient that feeds a sum is formed in extended
// precision and each partial sum is stored back to double, so that results are reproducible to
// the bit. Divisions by a count that is zero (no residual degrees of freedom, no control variable)
// give NaN rather than a trap; divisions of data by an exact zero follow IEEE arithmetic.
#include <cfloat>
#include <cmath>
#include <limits>

#include "engine/tavcore.h"
#include "engine/tavforms.h"
#include "host/sysutils.h"

namespace tav {

namespace {

using ext = long double;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double g_conditionLimit = 1.0 / DBL_EPSILON;

// a / count, or NaN when the count is zero.
ext PerCount(ext a, int64_t count) { return count == 0 ? ext(kNaN) : a / ext(count); }

// Condition number in the 1-norm of X'X after scaling its rows and columns to a unit diagonal.
// The scaling is what makes the figure meaningful: a control variable measured in millions has a
// huge raw X'X without losing any digit of its coefficient, while nearly collinear columns stay
// ill conditioned whatever their units.
double ScaledConditionNumber(const npbynp& XtX, const npbynp& inverse, int32_t q) {
    // S = D X'X D and S^-1 = D^-1 (X'X)^-1 D^-1 with D = diag(1 / sqrt(X'X[i, i])).
    npvector scale;
    for (int32_t i = 1; i <= q; ++i) scale[i] = std::sqrt(XtX(i, i));
    double normS = 0.0, normInverse = 0.0;
    for (int32_t j = 1; j <= q; ++j) {
        double column = 0.0, inverseColumn = 0.0;
        for (int32_t i = 1; i <= q; ++i) {
            column += std::fabs(XtX(i, j)) / (scale[i] * scale[j]);
            inverseColumn += std::fabs(inverse(i, j)) * (scale[i] * scale[j]);
        }
        if (!(column <= normS)) normS = column;
        if (!(inverseColumn <= normInverse)) normInverse = inverseColumn;
    }
    return normS * normInverse;
}

}  // namespace

double TTAVRegression::ConditionLimit() { return g_conditionLimit; }
void TTAVRegression::SetConditionLimit(double limit) { g_conditionLimit = limit; }

void TTAVRegression::Execute() {
    if (!valuesLoaded_) {
        if (variant_.notLoadedIsWarning)
            TavMessageDlg(showWarnings_, variant_.notLoadedText, variant_.notLoadedType, mbOK, 0);
        else
            MessageDlg(variant_.notLoadedText, variant_.notLoadedType, mbOK, 0);
        return;
    }
    // With fewer records than model terms the coefficients are not determined at all.
    if (dataCount_ < varCount_ + 1) {
        MessageDlg("There are 0 degrees of freedom.", TMsgDlgType::mtError, mbOK, 0);
        return;
    }
    ComputexBar(d_->x);
    ComputexStdErr(d_->x);
    ComputeyBar();
    ComputeyStdErr();
    ComputebVector();
    ComputeResiduals();
    ComputeSSE();
    ComputeSSR();
    ComputeCovarMatrix();
    ComputeCorrMatrix();
    if (!(conditionEstimate_ < g_conditionLimit)) {
        MessageDlg("The regression matrix is numerically singular\n\r(estimated condition number " +
                       FormatFloat("0.0E+0", conditionEstimate_) +
                       ").\n\rThe coefficients have no correct digit:\n\rthe results cannot be "
                       "trusted.",
                   TMsgDlgType::mtError, mbOK, 0);
    }
}

// The column sums below run records-outer so that the ten independent sums advance together;
// each still adds its own terms in record order, so the result is that of one column at a time.
void TTAVRegression::ComputexBar(const mbynp& X) {
    const int n = dataCount_;
    const int p = varCount_;
    double sums[MaxTerms] = {};
    for (int i = 1; i <= n; ++i) {
        const double* row = X.row(i);
        for (int j = 0; j < p; ++j) sums[j] = static_cast<double>(sums[j] + ext(row[j]) / ext(n));
    }
    for (int j = 1; j <= p; ++j) d_->xBar[j] = sums[j - 1];
}

void TTAVRegression::ComputexStdErr(const mbynp& X) {
    const int n = dataCount_;
    const int p = varCount_;
    double means[MaxTerms] = {};
    double sums[MaxTerms] = {};
    for (int j = 0; j < p; ++j) means[j] = d_->xBar[j + 1];
    for (int i = 1; i <= n; ++i) {
        const double* row = X.row(i);
        for (int j = 0; j < p; ++j) {
            const ext dev = ext(row[j]) - ext(means[j]);
            sums[j] = static_cast<double>(sums[j] + PerCount(dev * dev, n - 1));
        }
    }
    for (int j = 1; j <= p; ++j) d_->xStdErr[j] = std::sqrt(sums[j - 1]);
}

void TTAVRegression::ComputeyBar() {
    const int n = dataCount_;
    double sum = 0.0;
    for (int i = 1; i <= n; ++i) sum = static_cast<double>(sum + ext(d_->y[i]) / ext(n));
    yBar_ = sum;
}

void TTAVRegression::ComputeyStdErr() {
    const int n = dataCount_;
    double sum = 0.0;
    for (int i = 1; i <= n; ++i) {
        const ext dev = ext(d_->y[i]) - ext(yBar_);
        sum = static_cast<double>(sum + PerCount(dev * dev, n - 1));
    }
    yStdErr_ = std::sqrt(sum);
}

void TTAVRegression::ComputebVector() {
    Arrays& d = *d_;
    const int32_t n = dataCount_;
    const int32_t q = varCount_ + 1;
    addunitmbynp(d.x, d.XDesign, n, q);
    transposembynp(d.XDesign, d.XDesignT, n, q);
    multnpbymmbynp(d.XDesignT, d.XDesign, d.XtX, n, q);
    shownpbynpmatrix(d.XtX, q, "c", 0);
    const npbynp normalEquations = d.XtX;  // the inversion leaves its LU factors in XtX
    invertnpbynp(d.XtX, d.XtXInv, q);
    shownpbynpmatrix(d.XtXInv, q, "c inverse", 0);
    conditionEstimate_ = ScaledConditionNumber(normalEquations, d.XtXInv, q);
    multnpbynpnpbym(d.XtXInv, d.XDesignT, d.XtXInvXt, n, q);
    shownpbymmatrix(d.XtXInvXt, n, q, "(xtx)inv(x)", 0);
    multnpbymmvector(d.XtXInvXt, d.y, d.b, n, q);
    shownpvector(d.b, q, "b", 0);
    mult1bynpbynpbym(d.v, d.b, d.XDesignT, n, q);
    showmvector(d.v, n, "v (bt*xt)", 0);
    zeroshiftnpvector(d.b, q);
}

double TTAVRegression::Predict(const npvector& Values, uint16_t Count) const {
    if (Count > MaxTerms - 1) RaiseIndexError("Predict count", Count, 0, MaxTerms - 1);
    const npvector& b = d_->b;
    double sum = 0.0;
    for (int k = 1; k <= Count; ++k) sum = AddProduct(sum, b.raw(k), Values.raw(k));
    return static_cast<double>(ext(b.raw(0)) + ext(sum));
}

// The fitted value of every record, as Predict forms it: the sum of b[k] * x[i, k] in k order,
// then the intercept added; all records' sums advance together.
void TTAVRegression::ComputeyHat() {
    Arrays& d = *d_;
    multmbynpnpvector(d.x, d.b, d.yHat, dataCount_, varCount_);
    const ext intercept = d.b[0];
    for (int i = 1; i <= dataCount_; ++i)
        d.yHat.raw(i) = static_cast<double>(intercept + ext(d.yHat.raw(i)));
}

void TTAVRegression::ComputeResiduals() {
    ComputeyHat();
    Arrays& d = *d_;
    for (int i = 1; i <= dataCount_; ++i)
        d.e[i] = static_cast<double>(ext(d.y[i]) - ext(d.yHat[i]));
}

void TTAVRegression::ComputeSSE() {
    const int32_t n = dataCount_;
    const double yy = multmvectors(d_->y, d_->y, n);
    const double vy = multmvectors(d_->v, d_->y, n);
    SSE_ = static_cast<double>(ext(yy) - ext(vy));
    // The difference of two nearly equal sums can come out below zero for a (numerically) exact
    // fit; a sum of squares cannot, and a negative one would turn every derived statistic into
    // nonsense.
    if (SSE_ < 0.0) SSE_ = 0.0;
    MSE_ = static_cast<double>(PerCount(SSE_, int64_t{n} - (varCount_ + 1)));
}

void TTAVRegression::ComputeSSR() {
    const double vy = multmvectors(d_->v, d_->y, dataCount_);
    SSR_ = static_cast<double>(ext(vy) - ext(yBar_) * ext(yBar_) * ext(dataCount_));
}

void TTAVRegression::ComputeSST() { SST_ = GetSSE() + GetSSR(); }

void TTAVRegression::ComputeRSquared() {
    if (GetSST() > 0.0) RSquared_ = static_cast<double>(ext(GetSSR()) / ext(SST_));
}

void TTAVRegression::ComputeSyx() { Syx_ = std::sqrt(MSE_); }

void TTAVRegression::ComputeF() {
    const ext regression = PerCount(GetSSR(), varCount_);
    const ext residual = PerCount(GetSSE(), int64_t{dataCount_} - (varCount_ + 1));
    F_ = static_cast<double>(regression / residual);
}

void TTAVRegression::ComputeCovarMatrix() {
    const int q = varCount_ + 1;
    for (int i = 1; i <= q; ++i)
        for (int j = 1; j <= q; ++j)
            d_->Covar(i, j) = static_cast<double>(ext(d_->XtXInv(i, j)) * ext(MSE_));
}

void TTAVRegression::ComputeCorrMatrix() {
    const int q = varCount_ + 1;
    for (int i = 1; i <= q; ++i)
        for (int j = 1; j <= q; ++j)
            d_->Corr(i, j) = static_cast<double>(
                ext(d_->Covar(i, j)) / std::sqrt(ext(d_->Covar(i, i)) * ext(d_->Covar(j, j))));
}

double TTAVRegression::GetSSR() {
    ComputeSSR();
    return SSR_;
}
double TTAVRegression::GetSSE() {
    ComputeSSE();
    return SSE_;
}
double TTAVRegression::GetSST() {
    ComputeSST();
    return SST_;
}
double TTAVRegression::GetRSquared() {
    ComputeRSquared();
    return RSquared_;
}
double TTAVRegression::GetSyx() {
    ComputeSyx();
    return Syx_;
}
double TTAVRegression::GetF() {
    ComputeF();
    return F_;
}

}  // namespace tav

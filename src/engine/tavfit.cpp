// The least-squares fit by the normal equations, and the statistics around it.
//
// Sums run in record order; every product or quotient that feeds a sum is formed in extended
// precision and each partial sum is stored back to double, so that results are reproducible to
// the bit. Divisions by a count that is zero (no residual degrees of freedom, no control variable)
// give NaN rather than a trap; divisions of data by an exact zero follow IEEE arithmetic.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include "tav/sysutils.h"
#include "tav/tavcore.h"
#include "tav/tavforms.h"
#include "tav/tavinference.h"

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

// Estimated correct digits of the coefficients and of the diagonal of (X'X)^-1 (the variances)
// solved through the normal equations S = X'X: the componentwise first-order bounds of a solve
// whose matrix is perturbed by u |S| (it is rounded to double, then factored),
//
//   |db_j| <= u (|S^-1| |S| |b|)_j        |d(S^-1)_jj| <= u (|S^-1| |S| |S^-1|)_jj,
//
// less half a digit, which keeps the estimate below the digits reached on every certified
// reference set. The right-hand side X'y is rounded too: with a response of large mean its sums
// cancel, and b errs by up to u (|S^-1| |X|' |y|), which `xty` (|X|' |y|) brings in. Unlike the
// condition number alone, the bounds see coefficients of very different size (a polynomial in x =
// 0..20) and need no margin for them. O(q^3) on q <= 11 terms.
double NormalEquationsDigits(const npbynp& S, const npbynp& inverse, const npvector& b,
                             const ext* xty, int32_t q) {
    ext sb[MaxTerms + 1] = {};  // |S| |b|
    for (int32_t k = 1; k <= q; ++k) {
        for (int32_t l = 1; l <= q; ++l) sb[k] += std::fabs(ext(S(k, l)) * ext(b[l]));
        sb[k] += xty[k];
    }
    ext worst = 0;
    for (int32_t j = 1; j <= q; ++j) {
        ext coefficient = 0, variance = 0;
        for (int32_t k = 1; k <= q; ++k) {
            const ext ajk = std::fabs(ext(inverse(j, k)));
            coefficient += ajk * sb[k];
            ext row = 0;  // (|S| |S^-1|)_kj
            for (int32_t l = 1; l <= q; ++l) row += std::fabs(ext(S(k, l)) * ext(inverse(l, j)));
            variance += ajk * row;
        }
        if (b[j] != 0) worst = std::max(worst, coefficient / std::fabs(ext(b[j])));
        worst = std::max(worst, variance / std::fabs(ext(inverse(j, j))));
    }
    if (std::isnan(worst)) return 0.0;
    const double digits = -std::log10(static_cast<double>(worst) * DBL_EPSILON) - 0.5;
    return std::clamp(digits, 0.0, 15.9);
}

bool AllFinite(const double* values, int32_t count) {
    for (int32_t i = 0; i < count; ++i)
        if (!std::isfinite(values[i])) return false;
    return true;
}

// R's test for an "essentially perfect fit": the residual variance at the rounding level of the
// fitted values, below kPerfectFit of mean(f)^2 + var(f), R's own figure. (A wider one would
// call a fit perfect whose response has a large mean and a small but real scatter.)
constexpr ext kPerfectFit = 1.0E-30L;

bool PerfectFit(const double* fitted, int32_t n, double sse, int32_t rdf) {
    if (n < 2 || rdf <= 0 || !std::isfinite(sse)) return false;
    ext mean = 0, squares = 0;
    for (int32_t i = 0; i < n; ++i) mean += fitted[i];
    mean /= n;
    for (int32_t i = 0; i < n; ++i) squares += (fitted[i] - mean) * (fitted[i] - mean);
    return ext(sse) / rdf < (mean * mean + squares / (n - 1)) * kPerfectFit;
}

std::string Digits(double digits) { return FloatToStrF(digits, TFloatFormat::ffFixed, 4, 0); }

}  // namespace

// The names of the enumerations, in the order of their values.
constexpr const char* kFitMethodNames[] = {"Auto", "NormalEquations", "QR"};
constexpr const char* kFitPathNames[] = {"None", "NormalEquations", "QR"};
constexpr const char* kFitProblemNames[] = {"None", "NoDegreesOfFreedom", "NumericallySingular",
                                            "RankDeficient", "Overflow"};

const char* FitMethodToStr(TFitMethod method) { return kFitMethodNames[static_cast<int>(method)]; }

TFitMethod StrToFitMethod(const std::string& text) {
    for (int k = 0; k < 3; ++k)
        if (text == kFitMethodNames[k]) return static_cast<TFitMethod>(k);
    throw EConvertError("'" + text + "' is not a fit method (Auto, NormalEquations or QR)");
}

const char* FitPathToStr(TFitPath path) { return kFitPathNames[static_cast<int>(path)]; }

const char* FitProblemToStr(TFitProblem problem) {
    return kFitProblemNames[static_cast<int>(problem)];
}

double TTAVRegression::ConditionLimit() { return g_conditionLimit; }
void TTAVRegression::SetConditionLimit(double limit) { g_conditionLimit = limit; }

bool TTAVRegression::GetAliased(uint16_t k) const {
    if (k < 1 || k > varCount_)
        throw std::out_of_range("no control variable in use at " + IntToStr(k));
    return aliased_[k];
}

void TTAVRegression::Execute() {
    if (!valuesLoaded_) {
        if (variant_.notLoadedIsWarning)
            TavMessageDlg(showWarnings_, variant_.notLoadedText, variant_.notLoadedType, mbOK, 0);
        else
            MessageDlg(variant_.notLoadedText, variant_.notLoadedType, mbOK, 0);
        return;
    }
    // Nothing of an earlier fit may pass for a result of this one.
    SST_ = RSquared_ = Syx_ = F_ = 0.0;
    inference_->Invalidate();
    fitPath_ = TFitPath::None;
    fitProblem_ = TFitProblem::None;
    estimatedDigits_ = kNaN;
    perfectFit_ = false;
    aliased_.fill(false);
    // With fewer records than model terms the coefficients are not determined at all.
    if (dataCount_ < varCount_ + 1) {
        fitProblem_ = TFitProblem::NoDegreesOfFreedom;
        MessageDlg("There are 0 degrees of freedom.", TMsgDlgType::mtError, mbOK, 0);
        return;
    }
    ComputexBar(d_->x);
    ComputexStdErr(d_->x);
    ComputeyBar();
    ComputeyStdErr();

    const int32_t q = varCount_ + 1;
    double normalEquationsDigits = kNaN;
    bool redo = fitMethod_ == TFitMethod::QR;
    if (!redo) {
        ComputebVector();
        ComputeResiduals();
        fitPath_ = TFitPath::NormalEquations;
        estimatedDigits_ = normalEquationsDigits = normalEquationsDigits_;
        redo = fitMethod_ == TFitMethod::Auto &&
               !(normalEquationsDigits >= AutoMinDigits && AllFinite(d_->b.base(), q) &&
                 AllFinite(d_->XtXInv.row(1), q * static_cast<int32_t>(npbynp::Stride)));
    }
    if (redo) {
        estimatedDigits_ = FitByQR();
        fitPath_ = TFitPath::QR;
        bool aliased = false;
        for (int32_t k = 1; k <= varCount_; ++k) aliased = aliased || aliased_[k];
        conditionEstimate_ = aliased ? std::numeric_limits<double>::infinity()
                                     : ScaledConditionNumber(d_->XtX, d_->XtXInv, q);
    }
    // The residual degrees of freedom count the terms that took part.
    dof_ = static_cast<uint16_t>(dataCount_ - FittedTerms());
    ComputeSSE();
    ComputeSSR();
    ComputeCovarMatrix();
    ComputeCorrMatrix();
    perfectFit_ = PerfectFit(d_->yHat.base(), dataCount_, SSE_, dof_);
    ReportFitProblem(normalEquationsDigits);
}

bool TTAVRegression::ResultsFinite() const {
    const Arrays& d = *d_;
    const int32_t n = dataCount_;
    const int32_t q = varCount_ + 1;
    if (!std::isfinite(SSE_) || !std::isfinite(SSR_)) return false;
    if (!AllFinite(d.v.base(), n) || !AllFinite(d.e.base(), n) || !AllFinite(d.yHat.base(), n))
        return false;
    for (int32_t i = 1; i <= q; ++i) {
        if (!aliased_[i - 1] && !std::isfinite(d.b[i - 1])) return false;
        for (int32_t j = 1; j <= q; ++j) {
            if (!std::isfinite(d.XtX(i, j))) return false;
            if (aliased_[i - 1] || aliased_[j - 1]) continue;
            if (!std::isfinite(d.XtXInv(i, j))) return false;
            // Without residual degrees of freedom MSE, and so the covariance, is undefined.
            if (std::isfinite(MSE_) && !std::isfinite(d.Covar(i, j))) return false;
        }
    }
    return true;
}

void TTAVRegression::ReportFitProblem(double normalEquationsDigits) {
    if (fitMethod_ == TFitMethod::Auto && fitPath_ == TFitPath::QR)
        TavMessageDlg(showWarnings_,
                      "The normal equations would have kept only about " +
                          Digits(std::isnan(normalEquationsDigits) ? 0.0 : normalEquationsDigits) +
                          "\n\rcorrect digits of the coefficients here, so the fit was\n\r"
                          "redone by QR decomposition (about " +
                          Digits(estimatedDigits_) + " digits).",
                      TMsgDlgType::mtInformation, mbOK, 0);

    std::string aliased;
    int count = 0;
    for (int32_t k = 1; k <= varCount_; ++k)
        if (aliased_[k])
            aliased += (count++ ? ", X" : "X") + IntToStr(k) + " = " + cVar_[k]->OutputTerm();
    if (count > 0) {
        fitProblem_ = TFitProblem::RankDeficient;
        const bool one = count == 1;
        MessageDlg("The control variables are linearly dependent:\n\r" + aliased +
                       (one ? " repeats or combines the ones before it."
                            : " repeat or combine the ones before them.") +
                       "\n\rThe results are not valid: remove " + (one ? "it" : "them") +
                       " and fit again.",
                   TMsgDlgType::mtError, mbOK, 0);
    } else if (!ResultsFinite()) {
        fitProblem_ = TFitProblem::Overflow;
        MessageDlg(
            "The sums of the regression exceed the range of double\n\rprecision numbers: "
            "the results are not valid.\n\rScale the variables down and fit again.",
            TMsgDlgType::mtError, mbOK, 0);
    } else if (fitPath_ == TFitPath::NormalEquations && !(conditionEstimate_ < g_conditionLimit)) {
        fitProblem_ = TFitProblem::NumericallySingular;
        MessageDlg("The regression matrix is numerically singular\n\r(estimated condition number " +
                       FormatFloat("0.0E+0", conditionEstimate_) +
                       ").\n\rThe coefficients have no correct digit:\n\rthe results cannot be "
                       "trusted.",
                   TMsgDlgType::mtError, mbOK, 0);
    } else if (dataCount_ == varCount_ + 1) {
        // No residual degrees of freedom: the load said so where it had to; nothing here is
        // new to the user, but no standard error or test statistic exists.
        fitProblem_ = TFitProblem::NoDegreesOfFreedom;
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
    ext xty[MaxTerms + 1] = {};  // |X|' |y|
    for (int32_t i = 1; i <= n; ++i) {
        const ext y = std::fabs(ext(d.y[i]));
        for (int32_t k = 1; k <= q; ++k) xty[k] += std::fabs(ext(d.XDesign(i, k))) * y;
    }
    normalEquationsDigits_ = NormalEquationsDigits(normalEquations, d.XtXInv, d.b, xty, q);
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

// The sums of squares come from the residuals and the fitted values themselves: the classic
// differences y'y - v'y and v'y - n yBar^2 cancel to a digit or none when the fit is good or the
// response has a large mean.
void TTAVRegression::ComputeSSE() {
    const int32_t n = dataCount_;
    SSE_ = multmvectors(d_->e, d_->e, n);
    MSE_ = static_cast<double>(PerCount(SSE_, int64_t{n} - FittedTerms()));
}

void TTAVRegression::ComputeSSR() {
    const ext mean = yBar_;
    double sum = 0.0;
    for (int32_t i = 1; i <= dataCount_; ++i) {
        const ext deviation = ext(d_->v.raw(i)) - mean;
        sum = static_cast<double>(sum + deviation * deviation);
    }
    SSR_ = sum;
}

void TTAVRegression::ComputeSST() { SST_ = GetSSE() + GetSSR(); }

// R squared keeps its value when SST is 0 (Execute has reset it to 0), and is NaN when SST is
// not a number at all. R squared, Syx and F are NaN, as every derived statistic, after an
// overflow or on singular normal equations.
int32_t TTAVRegression::FittedTerms() const {
    int32_t terms = 1;
    for (int32_t k = 1; k <= varCount_; ++k) terms += aliased_[k] ? 0 : 1;
    return terms;
}

bool TTAVRegression::Valued() const {
    return fitProblem_ != TFitProblem::Overflow && fitProblem_ != TFitProblem::NumericallySingular;
}

void TTAVRegression::ComputeRSquared() {
    if (!Valued())
        RSquared_ = kNaN;
    else if (GetSST() > 0.0)
        RSquared_ = static_cast<double>(ext(GetSSR()) / ext(SST_));
    else if (!std::isfinite(SST_))
        RSquared_ = kNaN;
}

void TTAVRegression::ComputeSyx() { Syx_ = Valued() ? std::sqrt(MSE_) : kNaN; }

void TTAVRegression::ComputeF() {
    const ext regression = PerCount(GetSSR(), FittedTerms() - 1);
    const ext residual = PerCount(GetSSE(), int64_t{dataCount_} - FittedTerms());
    // A perfect fit's F is a ratio of rounding noise (GetAnova withholds it too).
    F_ = Valued() && !perfectFit_ ? static_cast<double>(regression / residual) : kNaN;
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

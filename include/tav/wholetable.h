// The fit over every record of a component's dataset, past the 2500 records of its arrays.
//
// A linear regression needs only the count, the means and the centred sums of cross products of
// its variables. One pass over the records gathers them (TTableMoments), either in the client
// (TMomentSums: compensated sums of the differences from the first usable record, constant
// memory) or inside a database server (generated SQL, two passes); TWholeTableFit solves the
// small system they make in extended precision and answers the statistics that do not need the
// records themselves. Counts are 64-bit throughout.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

#include "tav/fitstats.h"
#include "tav/maxdata.h"
#include "tav/transformations.h"

namespace tav {

// What one pass over a dataset leaves of its records. Variable 0 is the response, 1..variables
// the control variables in use, in the order of the component's working copies.
struct TTableMoments {
    int variables = 0;
    int64_t read = 0;  // records read
    int64_t used = 0;  // records every variable could use: n
    // skipped[v][reason]: records skipped for variable v, by the first reason the load meets.
    int64_t skipped[MaxTerms + 1][kSkipReasonCount] = {};
    long double mean[MaxTerms + 1] = {};
    // cross[j][k]: the sum over the records used of (value_j - mean_j) * (value_k - mean_k).
    long double cross[MaxTerms + 1][MaxTerms + 1] = {};
    // The range of each variable over the records used (an invariant column has none).
    double min[MaxTerms + 1] = {}, max[MaxTerms + 1] = {};

    int64_t Skipped() const;
};

// Gathers TTableMoments one record at a time: sums of the differences from the first record
// added, and of their products, each kept as a pair of doubles whose sum is the running total
// with every addition's rounding error carried (about 30 significant digits, whatever the
// number of records). A difference and a product are rounded to a double once, as the values
// themselves are; the centring by the shift keeps what the data's spread allows.
class TMomentSums {
  public:
    explicit TMomentSums(int variables);
    // A record read, usable or not.
    void Read() { ++moments_.read; }
    // A usable record: values[0] the response, values[1..variables] the control variables.
    void Add(const double* values);
    void Skip(int variable, TSkipReason reason) {
        ++moments_.skipped[variable][static_cast<int>(reason)];
    }
    // The moments of the records so far.
    TTableMoments Moments() const;
    int64_t Used() const { return moments_.used; }

    // Empty sums for records read elsewhere (another thread's), differences taken from the
    // same record as here, so that Merge adds them without a rounding of their own.
    TMomentSums Part() const;
    // Adds the records of `part`, made by Part() of these sums.
    void Merge(const TMomentSums& part);

  private:
    // The sums are kept in slots two at a time: first the differences' (kWidth slots), then row
    // by row the products of difference j with the differences k from j rounded down to even
    // (one more product than needed in an odd row, and padding past the last variable).
    static constexpr int kWidth = (MaxTerms + 2) / 2 * 2;
    static constexpr int kSlots = kWidth + kWidth * (kWidth + 2) / 2;

    TTableMoments moments_;
    int count_;                   // variables + 1
    int width_;                   // count_ rounded up to even
    int row_[MaxTerms + 1] = {};  // the slot of each row's first product
    bool shifted_ = false;        // shift_ is chosen
    double shift_[MaxTerms + 1] = {};
    alignas(16) double high_[kSlots] = {};  // the running sums, rounded
    alignas(16) double low_[kSlots] = {};   // their rounding errors, summed
};

// Where the records of a whole-table fit are summed: in the client, which reads them one after
// another, or inside the database server (PostgreSQL), which reads none of them out. Auto takes
// the server where the connection has one that can, the client otherwise.
enum class TWholeTableStrategy { Auto, Client, Server };
const char* WholeTableStrategyToStr(TWholeTableStrategy strategy);
// "Auto", "Client", "Server"; raises EConvertError for any other text.
TWholeTableStrategy StrToWholeTableStrategy(const std::string& text);

// The regression over the moments of a whole table. Indices as for TTAVRegression: b[0] is the
// intercept, control variables 1..Variables(). A statistic that does not exist for the fit (no
// residual degree of freedom, an aliased control variable, a perfect fit's t) is NaN; so is every
// statistic before a fit.
class TWholeTableFit {
  public:
    // Forgets the last fit.
    void Clear();
    // Fits the regression to `moments`. A fit without enough records, or over a column that
    // does not vary, leaves Valid() false and says why in Problem().
    void Fit(const TTableMoments& moments, TWholeTableStrategy strategy);

    bool Fitted() const { return fitted_; }
    bool Valid() const { return fitted_ && problem_.empty(); }
    // Why the fit has no valid results ("" when it has).
    const std::string& Problem() const { return problem_; }
    // The strategy that summed the records (Client or Server).
    TWholeTableStrategy Strategy() const { return strategy_; }
    const TTableMoments& Moments() const { return moments_; }

    int Variables() const { return moments_.variables; }
    int64_t DataCount() const { return moments_.used; }
    int64_t RecordsRead() const { return moments_.read; }
    // n - rank, the residual degrees of freedom.
    int64_t GetDOF() const;
    bool GetAliased(int k) const;
    bool GetPerfectFit() const { return perfectFit_; }

    double Getb(int j) const;
    double GetStdErrorOfb(int j) const;
    double GettValue(int j) const;
    double GetPValue(int j) const;
    TInterval GetConfidenceInterval(int j, double level = kDefaultConfidenceLevel) const;
    double GetxBar(int k) const;
    double GetyBar() const;
    double GetSSE() const;
    double GetSSR() const;
    double GetSST() const;
    double GetRSquared() const;
    double GetAdjRSquared() const;
    double GetF() const;
    double GetFPValue() const;
    TAnovaTable GetAnova() const;
    double GetMSE() const;
    double GetResidualStdError() const;
    double GetLogLikelihood() const;
    double GetAIC() const;
    double GetBIC() const;
    double GetVIF(int k) const;
    // The estimated correct significant digits of the coefficients and their standard errors.
    double GetEstimatedDigits() const { return digits_; }
    double Predict(const double* values, int count) const;

  private:
    int32_t Rank() const;  // intercept included

    TTableMoments moments_;
    TWholeTableStrategy strategy_ = TWholeTableStrategy::Client;
    bool fitted_ = false;
    bool perfectFit_ = false;
    std::string problem_;
    bool aliased_[MaxTerms + 1] = {};
    long double b_[MaxTerms + 1] = {};
    // The inverse of the centred cross products of the control variables in the fit (zero
    // rows and columns for the aliased), by control variable number.
    long double inverse_[MaxTerms + 1][MaxTerms + 1] = {};
    long double sse_ = 0, ssr_ = 0, sst_ = 0;
    double digits_ = std::numeric_limits<double>::quiet_NaN();
};

}  // namespace tav

// The regression shared by TTAVTable and TTAVQuery.
//
// TTAVRegression is the one implementation of both components: the variables, the in-object
// arrays, loading, fitting and the accessors. A component is a dataset class (TTable, TQuery) plus
// this class; what differs between the two lies in one TTAVVariant record (tavvariant.cpp).
//
// Ownership: the regression owns its eleven variable definitions and the working copies of the
// control variables in use (made at each load). All arrays for MaxData records and MaxTerms terms
// are allocated in one block when the component is constructed and never again.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>

#include "tav/fitstats.h"
#include "tav/matrix.h"
#include "tav/messages.h"
#include "tav/reporttexts.h"
#include "tav/sqltext.h"
#include "tav/tavrecords.h"
#include "tav/tavtypes.h"
#include "tav/wholetable.h"

namespace tav {

class TDataSet;
class TTAVInference;

// How Execute fits the coefficients.
//   NormalEquations  X'X inverted by LU decomposition in double precision, always.
//   QR               a column-pivoted Householder QR of the (centred, column-scaled) design matrix
//                    in extended precision; accurate where the normal equations are not, and
//                    able to tell a rank-deficient design.
//   Auto             the normal equations, unless their estimated accuracy is too low; then the
//                    fit is redone by QR and a note says so (shown with ShowWarnings).
enum class TFitMethod { Auto, NormalEquations, QR };
// The computation that produced the current results (None before the first fit).
enum class TFitPath { None, NormalEquations, QR };
// Why the current results are not valid. Every problem but NoDegreesOfFreedom with exactly as
// many records as terms is shown in an error box when Execute meets it.
enum class TFitProblem {
    None,
    NoDegreesOfFreedom,   // fewer records than terms (nothing fitted), or none left over
    NumericallySingular,  // normal equations forced, and X'X singular to double precision
    RankDeficient,        // a control variable repeats or combines others (see GetAliased)
    Overflow,             // a sum beyond the double range
};

// The identifiers of a fit method as form files and the command line write them: "Auto",
// "NormalEquations", "QR". StrToFitMethod raises EConvertError for any other text.
const char* FitMethodToStr(TFitMethod method);
TFitMethod StrToFitMethod(const std::string& text);
const char* FitPathToStr(TFitPath path);
const char* FitProblemToStr(TFitProblem problem);

// What sets the table and query components apart.
struct TTAVVariant {
    const char* name;  // "table" or "query"
    // The record-count warning for a dataset of `recordCount` records.
    std::string (*RecordCountWarning)(int32_t recordCount);
    // Whether the progress dialog follows the load (a table) or stays at 0 (a query).
    bool gaugeFollowsLoad;
    // Execute's message when nothing usable is loaded, and whether it is a warning (shown only
    // with ShowWarnings) or an error (always shown).
    const char* notLoadedText;
    TMsgDlgType notLoadedType;
    bool notLoadedIsWarning;
    // Whether Output clears ValuesLoaded before it builds the report.
    bool outputClearsValuesLoaded;
    // Report layout: covariance entries padded with the two-section pattern (a table) or with a
    // blank before positive values only (a query); the prefix of the variables' t-value lines.
    bool covarianceEntriesPadded;
    const char* tValuePrefix;
};

extern const TTAVVariant TableVariant;
extern const TTAVVariant QueryVariant;

// The regression of a component: not made on its own, only as the base of TTAVTable and TTAVQuery,
// which hand it themselves as its dataset. Not copyable. The definitions are kept as set; ReLoad
// reads the records into the arrays, Execute fits them, and the accessors read the last results
// (until the next load or fit). The inference and the diagnostics are TTAVInference's, the
// record accounting TTAVRecords', both owned by the regression; the SQL of the fitted equation is
// FittedEquationSQL's (tavscoring.h).
class TTAVRegression {
  public:
    TTAVRegression(const TTAVRegression&) = delete;
    TTAVRegression& operator=(const TTAVRegression&) = delete;

    // Published: ControlVar01..05, Description, ShowLoadProgress, ShowWarnings, ResponseVarY,
    // ReportMessage. Public only: ControlVar06..10.
    TIndepVar* ControlVar01() const { return controlVar_[0].get(); }
    TIndepVar* ControlVar02() const { return controlVar_[1].get(); }
    TIndepVar* ControlVar03() const { return controlVar_[2].get(); }
    TIndepVar* ControlVar04() const { return controlVar_[3].get(); }
    TIndepVar* ControlVar05() const { return controlVar_[4].get(); }
    TIndepVar* ControlVar06() const { return controlVar_[5].get(); }
    TIndepVar* ControlVar07() const { return controlVar_[6].get(); }
    TIndepVar* ControlVar08() const { return controlVar_[7].get(); }
    TIndepVar* ControlVar09() const { return controlVar_[8].get(); }
    TIndepVar* ControlVar10() const { return controlVar_[9].get(); }
    TDependentVar* ResponseVarY() const { return response_.get(); }

    // Copy the definition (all six entries) and clear ValuesLoaded.
    void SetControl1(const TIndepVar& value) { SetControl(1, value); }
    void SetControl2(const TIndepVar& value) { SetControl(2, value); }
    void SetControl3(const TIndepVar& value) { SetControl(3, value); }
    void SetControl4(const TIndepVar& value) { SetControl(4, value); }
    void SetControl5(const TIndepVar& value) { SetControl(5, value); }
    void SetControl6(const TIndepVar& value) { SetControl(6, value); }
    void SetControl7(const TIndepVar& value) { SetControl(7, value); }
    void SetControl8(const TIndepVar& value) { SetControl(8, value); }
    void SetControl9(const TIndepVar& value) { SetControl(9, value); }
    void SetControl10(const TIndepVar& value) { SetControl(10, value); }
    void SetResponse(const TDependentVar& value);
    // ControlVar01..ControlVar10 by number, 1..10.
    TIndepVar* ControlVar(int k) const;
    void SetControl(int k, const TIndepVar& value);

    const std::string& Description() const { return description_; }
    void SetDescription(const std::string& v) { description_ = v; }
    const std::string& ReportMessage() const { return reportMessage_; }
    void SetReportMessage(const std::string& v) { reportMessage_ = v; }
    bool ShowLoadProgress() const { return showLoadProgress_; }
    void SetShowLoadProgress(bool v) { showLoadProgress_ = v; }
    bool ShowWarnings() const { return showWarnings_; }
    void SetShowWarnings(bool v) { showWarnings_ = v; }
    // Published after ReportMessage; Auto unless set. Changing it keeps the load.
    TFitMethod FitMethod() const { return fitMethod_; }
    void SetFitMethod(TFitMethod v) { fitMethod_ = v; }
    // Published last, streamed only when set: the field whose text labels each loaded record
    // (an identifier, R's row names), "" for none. Changing it clears ValuesLoaded.
    const std::string& IdField() const { return idField_; }
    void SetIdField(const std::string& v);

    bool ValuesLoaded() const { return valuesLoaded_; }
    uint16_t DataCount() const { return dataCount_; }
    uint16_t VarCount() const { return varCount_; }
    const TTAVVariant& Variant() const { return variant_; }

    // Clears ValuesLoaded and loads the records again; ValuesLoaded then tells whether the load
    // is usable. Errors of the dataset and of the variables propagate; the load is then unusable.
    void ReLoad();
    // What the last load read, used and skipped, and why.
    const TLoadAccount& GetLoadAccount() const { return records_.Account(); }
    // Who loaded record i (1..DataCount, the index the other accessors take) is: its position in
    // the result set (from 1, skipped records counted), its label (the text of IdField, "" when
    // the load had no IdField or the field was null), and the name a person is shown: the label,
    // or the position where there is none. Raise std::out_of_range outside 1..DataCount.
    int64_t GetRecordPosition(int32_t i) const;
    std::string GetRecordLabel(int32_t i) const;
    std::string GetRecordName(int32_t i) const;
    // Whether the last load labelled its records (it had an IdField).
    bool HasRecordLabels() const { return records_.Labelled(); }
    // The account in one line: "287 of 300 records used; 13 skipped: 8 for Ln(ADVERT) (ln or
    // square root of a value <= 1E-20), 5 for PROFIT (null field)", and where the load stopped
    // at the cap, "; only the first 2500 of 100000 records were read".
    std::string LoadSummary() const;

    // Fits the model to the loaded records (by FitMethod) and computes the statistics. Without a
    // usable load it shows the variant's not-loaded message and computes nothing; with fewer
    // records than model terms it says so and computes nothing either. A fit whose results are
    // not valid (GetFitProblem) shows an error box; the load stays, so that a variable can be
    // changed and the fit run again.
    void Execute();

    // Fits the model to every record of the dataset, past MaxData, and keeps the results in
    // WholeTableFit(): the records are summed in the client or inside the database server, as
    // WholeTableStrategy says, by the load's own rules (the records the load would use are
    // used, the others counted by variable and reason). The arrays, the load and the results of
    // Execute are not touched. The dataset must be open. A fit without valid results shows an
    // error box, as Execute's do; errors of the dataset and the variables propagate.
    void ExecuteAllRecords();
    // The same over `records`, whose fields are the dataset's (a CSV file streamed as it is),
    // summed in the client.
    void ExecuteAllRecords(TRecordStream& records);
    const TWholeTableFit& WholeTableFit() const { return *wholeTable_; }
    // Where ExecuteAllRecords sums the records; Auto (the default) takes the server where the
    // connection has one that can (PostgreSQL), the client otherwise. Not streamed.
    TWholeTableStrategy WholeTableStrategy() const { return wholeTableStrategy_; }
    void SetWholeTableStrategy(TWholeTableStrategy v) { wholeTableStrategy_ = v; }
    // The whole-table account in one line, as LoadSummary's, and the term of its variable v (0
    // the response, k the k-th control variable in use).
    std::string WholeTableSummary() const;
    std::string WholeTableTerm(int v) const;

    // y = b[0] + sum of b[k] * Values[k] for k = 1..Count; the values are the transformed
    // control values in the order of GetcVar.
    double Predict(const npvector& Values, uint16_t Count) const;

    // Results of the last Execute. Indices count from 1, except Getb (0 = intercept) and
    // GetCovar/GetCorr (0 = intercept, k = k-th control variable). They stay readable after
    // ValuesLoaded is cleared.
    // An aliased control variable's coefficient is NaN: it took no part in the fit.
    double Getb(uint16_t j) const {
        return j > 0 && j <= varCount_ && aliased_[j] ? std::numeric_limits<double>::quiet_NaN()
                                                      : d_->b[j];
    }
    double Gete(uint16_t i) const { return d_->e[i]; }
    double GetyHat(uint16_t i) const { return d_->yHat[i]; }
    double GetxBar(uint16_t j) const { return d_->xBar[j]; }
    double GetxStdErr(uint16_t j) const { return d_->xStdErr[j]; }
    double GetCovar(uint16_t i, uint16_t j) const { return d_->Covar(i + 1, j + 1); }
    double GetCorr(uint16_t i, uint16_t j) const { return d_->Corr(i + 1, j + 1); }
    double GetyBar() const { return yBar_; }
    double GetyStdErr() const { return yStdErr_; }
    // These recompute from the arrays on every call (GetSyx from the stored MSE).
    double GetSSR();
    double GetSSE();
    double GetSST();
    double GetRSquared();
    double GetSyx();
    double GetF();
    double GetMSE() const { return MSE_; }

    // The 1-norm condition number of X'X, scaled to a unit diagonal, estimated by the last
    // Execute from the matrix and its computed inverse, and the limit above
    // which the coefficients are reported to have no correct digit (1 / machine epsilon unless
    // changed). A NaN estimate means Execute has not run.
    double GetConditionEstimate() const { return conditionEstimate_; }
    static double ConditionLimit();
    static void SetConditionLimit(double limit);

    // The path that produced the current results, and the estimated number of correct
    // significant digits of the coefficients on that path (NaN before the first fit). The
    // estimate is conservative: calibrated on certified reference data, it stays below the
    // digits actually reached there.
    TFitPath GetFitPath() const { return fitPath_; }
    double GetEstimatedDigits() const { return estimatedDigits_; }
    // None when the last Execute gave valid results.
    TFitProblem GetFitProblem() const { return fitProblem_; }
    // Whether control variable k (1..VarCount) was found to repeat or combine the variables
    // before it; its coefficient and its variances and covariances are then NaN, and the fit's
    // degrees of freedom count only the terms that took part.
    bool GetAliased(uint16_t k) const;
    // Auto keeps the normal equations while their estimated digits reach this figure.
    static constexpr double AutoMinDigits = 10.0;
    // Whether the residuals are at the rounding level of the fitted values (as R's "essentially
    // perfect fit"): t values, p-values, the record diagnostics and Durbin-Watson are then NaN.
    bool GetPerfectFit() const { return perfectFit_; }
    // The least estimated correct digits over the coefficients, their standard errors and the
    // record diagnostics as the accessors give them (NaN without a valid fit).
    double GetStatisticsDigits() const;

    // Inference from the last Execute (TTAVInference, tavinference.h). Indices as for Getb: 0 is
    // the intercept. The standard error of b[j], its t value, the two-sided p-value of that t with
    // GetDOF degrees of freedom, and its confidence interval at `level`.
    double GetStdErrorOfb(uint16_t j) const;
    double GettValue(uint16_t j) const;
    double GetPValue(uint16_t j) const;
    TInterval GetConfidenceInterval(uint16_t j, double level = kDefaultConfidenceLevel) const;
    // R squared adjusted for the terms, sqrt(MSE), and the p-value of the F statistic.
    double GetAdjRSquared() const;
    double GetResidualStdError() const;
    double GetFPValue() const;
    TAnovaTable GetAnova() const;
    // The Gaussian log-likelihood at the fitted coefficients and the error variance's maximum
    // likelihood estimate, and the information criteria that count that variance as a
    // parameter besides the coefficients.
    double GetLogLikelihood() const;
    double GetAIC() const;
    double GetBIC() const;
    // Predict with its intervals; Values are transformed control values in the order of GetcVar.
    TPredictionInterval PredictInterval(const npvector& Values, uint16_t Count,
                                        double level = kDefaultConfidenceLevel) const;

    // Diagnostics of the records, i = 1..DataCount in load order: the leverage (the diagonal of
    // the hat matrix), the residual standardized by its own standard error, the residual
    // studentized with the error variance of the fit without record i, and Cook's distance.
    double GetLeverage(uint16_t i) const;
    double GetStandardizedResidual(uint16_t i) const;
    double GetStudentizedResidual(uint16_t i) const;
    double GetCooksDistance(uint16_t i) const;
    // The variance inflation factor of control variable k = 1..VarCount: 1 / (1 - R^2) of its
    // regression on the other control variables.
    double GetVIF(uint16_t k) const;
    // The Durbin-Watson statistic of the residuals in load order.
    double GetDurbinWatson() const;

    // The fitted equation as one SQL expression over the dataset's fields, the transformations
    // written out: evaluated on a record it gives GetyHat's value (the response as transformed),
    // and NULL where the load would have skipped the record. Raises Exception when there is no
    // valid fit.
    std::string ScoringSQL(TSqlDialect dialect = TSqlDialect::SQLite) const;

    // Formats the report of the last Execute and shows it in the modal output window; returns
    // when the user closes it. A table component clears ValuesLoaded first.
    void Output();
    // The texts Output shows, built from the component's current results (recomputing SSE, SSR
    // and F through their getters).
    TRegressionReport BuildReport();
    // Opens the modal plot window on this component; returns when the user has closed it.
    void ShowPlots();

    // The dataset this regression reads (the component itself).
    TDataSet& DataSet() const { return dataSet_; }

    // Loaded data and their extrema.
    double Getx(uint16_t i, uint16_t j) const { return d_->x(i, j); }
    double Gety(uint16_t i) const { return d_->y[i]; }
    double GetxMax(uint16_t j) const { return d_->xMax[j]; }
    double GetxMin(uint16_t j) const { return d_->xMin[j]; }
    double GetyMax() const { return yMax_; }
    double GetyMin() const { return yMin_; }
    uint16_t GetDOF() const { return dof_; }
    // The working copy of the k-th control variable in use, k = 1..VarCount.
    TIndepVar* GetcVar(uint16_t k) const;

  protected:
    TTAVRegression(TDataSet& dataSet, const TTAVVariant& variant);
    ~TTAVRegression();

    bool LoadValues();

  private:
    // The inference reads the fit's arrays and results where they are.
    friend class TTAVInference;
    struct Arrays {
        mbynp x, XDesign;
        npbym XDesignT, XtXInvXt;
        npbynp XtX, XtXInv, Covar, Corr;
        mvector y, v, e, yHat;
        npvector xMax, xMin, xBar, xStdErr, b;
        // Work storage of the QR path: the design matrix column by column, and the response.
        long double qrDesign[MaxData * MaxTerms];
        long double qrResponse[MaxData];
    };

    void SetcVarArrays(const TIndepVar& var);
    void CheckDataCount();
    bool InvariantCol(uint16_t count);
    void ComputeMaxAndMinY();
    void ComputeMaxAndMinX();

    void ComputexBar(const mbynp& X);
    void ComputexStdErr(const mbynp& X);
    void ComputeyBar();
    void ComputeyStdErr();
    void ComputebVector();
    void ComputeyHat();
    void ComputeResiduals();
    void ComputeSSE();
    void ComputeSSR();
    void ComputeSST();
    void ComputeRSquared();
    void ComputeSyx();
    void ComputeF();
    void ComputeCovarMatrix();
    void ComputeCorrMatrix();
    // Whether the fit's results have a value: not after an overflow, nor on singular normal
    // equations.
    bool Valued() const;
    // The terms that took part in the fit: the intercept and the control variables not aliased.
    int32_t FittedTerms() const;

    // Fits the whole table's moments and says so when the fit has no valid results.
    void Fit(const TTableMoments& moments, TWholeTableStrategy strategy);
    // The QR path: fills b, v, yHat, e, XtX, XtXInv and XtXInvXt; returns the estimated digits.
    double FitByQR();
    bool ResultsFinite() const;
    void ReportFitProblem(double normalEquationsDigits);

    TDataSet& dataSet_;
    const TTAVVariant& variant_;
    // Allocated at construction as zero pages: a component whose data are never loaded costs
    // next to nothing however many a form holds.
    TZeroedBlock<Arrays> d_;
    std::unique_ptr<TTAVInference> inference_;
    std::unique_ptr<TWholeTableFit> wholeTable_;
    TWholeTableStrategy wholeTableStrategy_ = TWholeTableStrategy::Auto;

    double yMax_ = 0, yMin_ = 0, yBar_ = 0, yStdErr_ = 0, RSquared_ = 0, SSR_ = 0, SST_ = 0,
           SSE_ = 0, Syx_ = 0, MSE_ = 0, F_ = 0;

    std::array<std::unique_ptr<TIndepVar>, 10> controlVar_;
    std::unique_ptr<TDependentVar> response_;
    std::string description_;
    std::string reportMessage_;
    bool valuesLoaded_ = false;
    bool showLoadProgress_ = false;
    bool showWarnings_ = false;
    uint16_t dataCount_ = 0;
    uint16_t varCount_ = 0;
    uint16_t dof_ = 0;
    double conditionEstimate_ = std::numeric_limits<double>::quiet_NaN();
    TFitMethod fitMethod_ = TFitMethod::Auto;
    TFitPath fitPath_ = TFitPath::None;
    TFitProblem fitProblem_ = TFitProblem::None;
    double estimatedDigits_ = std::numeric_limits<double>::quiet_NaN();
    double normalEquationsDigits_ = 0;  // of the last ComputebVector
    bool perfectFit_ = false;
    // aliased_[k]: control variable k repeats or combines the ones before it.
    std::array<bool, MaxTerms + 1> aliased_{};
    // Working copies of the control variables in use; slot 0 unused, slot MaxTerms never filled.
    std::array<std::unique_ptr<TIndepVar>, MaxTerms + 1> cVar_;
    // The rules of the load in progress, made ready for its records.
    TRecordRules rules_;
    std::string idField_;
    // What the last load read and skipped, and who the records it used are.
    TTAVRecords records_;
};

}  // namespace tav

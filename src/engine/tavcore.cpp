#include "tav/tavcore.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "tav/db.h"
#include "tav/sysutils.h"
#include "tav/tavforms.h"
#include "tav/tavinference.h"
#include "tav/tavprogress.h"

namespace tav {

namespace {

// Disables the dataset's controls for the lifetime of a load, whatever way the load ends.
class TControlsDisabled {
  public:
    explicit TControlsDisabled(TDataSet& ds) : ds_(ds) { ds_.DisableControls(); }
    ~TControlsDisabled() { ds_.EnableControls(); }
    TControlsDisabled(const TControlsDisabled&) = delete;
    TControlsDisabled& operator=(const TControlsDisabled&) = delete;

  private:
    TDataSet& ds_;
};

}  // namespace

TTAVRegression::TTAVRegression(TDataSet& dataSet, const TTAVVariant& variant)
    : dataSet_(dataSet),
      variant_(variant),
      d_(AllocateZeroed<Arrays>()),
      inference_(std::make_unique<TTAVInference>(*this)),
      wholeTable_(std::make_unique<TWholeTableFit>()) {
    for (auto& var : controlVar_) var = std::make_unique<TIndepVar>();
    response_ = std::make_unique<TDependentVar>();
}

TTAVRegression::~TTAVRegression() = default;

TIndepVar* TTAVRegression::ControlVar(int k) const {
    if (k < 1 || k > 10) throw std::out_of_range("control variable " + IntToStr(k) + " of 1..10");
    return controlVar_[static_cast<std::size_t>(k - 1)].get();
}

void TTAVRegression::SetControl(int k, const TIndepVar& value) {
    ControlVar(k)->Assign(value);
    valuesLoaded_ = false;
}

void TTAVRegression::SetResponse(const TDependentVar& value) {
    response_->Assign(value);
    valuesLoaded_ = false;
}

TIndepVar* TTAVRegression::GetcVar(uint16_t k) const {
    if (k < 1 || k > MaxTerms || !cVar_[k])
        throw std::out_of_range("no control variable in use at " + IntToStr(k));
    return cVar_[k].get();
}

void TTAVRegression::SetIdField(const std::string& v) {
    idField_ = v;
    valuesLoaded_ = false;
}

int64_t TTAVRegression::GetRecordPosition(int32_t i) const { return records_.Position(i); }

std::string TTAVRegression::GetRecordLabel(int32_t i) const { return records_.Label(i); }

std::string TTAVRegression::GetRecordName(int32_t i) const { return records_.Name(i); }

void TTAVRegression::ReLoad() {
    valuesLoaded_ = false;
    inference_->Invalidate();
    LoadValues();
}

void TTAVRegression::SetcVarArrays(const TIndepVar& var) {
    if (var.Transformation() == "Undefined") return;
    ++varCount_;
    cVar_[varCount_] = std::make_unique<TIndepVar>();
    cVar_[varCount_]->Assign(var);
}

void TTAVRegression::CheckDataCount() {
    const int32_t count = dataSet_.RecordCount();
    if (count > MaxData)
        TavMessageDlg(showWarnings_, variant_.RecordCountWarning(count), TMsgDlgType::mtWarning,
                      mbOK, 0);
}

std::string TTAVRegression::LoadSummary() const {
    return records_.Summary(varCount_, [this](int v) {
        return v == 0 ? response_->OutputTerm() : cVar_[v]->OutputTerm();
    });
}

void TTAVRegression::ComputeMaxAndMinY() {
    const mvector& Y = d_->y;
    yMax_ = Y[1];
    yMin_ = Y[1];
    for (int i = 2; i <= dataCount_; ++i) {
        if (Y[i] > yMax_)
            yMax_ = Y[i];
        else if (Y[i] < yMin_)
            yMin_ = Y[i];
    }
}

void TTAVRegression::ComputeMaxAndMinX() {
    const mbynp& X = d_->x;
    for (int j = 1; j <= varCount_; ++j) {
        d_->xMax[j] = X(1, j);
        d_->xMin[j] = X(1, j);
    }
    for (int j = 1; j <= varCount_; ++j) {
        double& hi = d_->xMax[j];
        double& lo = d_->xMin[j];
        for (int i = 2; i <= dataCount_; ++i) {
            const double value = X(i, j);
            if (value > hi)
                hi = value;
            else if (value < lo)
                lo = value;
        }
    }
}

bool TTAVRegression::InvariantCol(uint16_t count) {
    ComputeMaxAndMinY();
    bool invariant = kZeroTolerance > std::fabs(static_cast<long double>(yMax_) - yMin_);
    if (!invariant) {
        ComputeMaxAndMinX();
        for (int j = 1; j <= count && !invariant; ++j)
            invariant =
                kZeroTolerance > std::fabs(static_cast<long double>(d_->xMax[j]) - d_->xMin[j]);
    }
    if (invariant)
        MessageDlg("The dataset has an invariant\n\rcolumn. Matrix is singular!",
                   TMsgDlgType::mtError, mbOK, 0);
    return invariant;
}

bool TTAVRegression::LoadValues() {
    inference_->Invalidate();
    if (valuesLoaded_) return true;
    TControlsDisabled controlsDisabled(dataSet_);
    TLoadProgress progress;

    varCount_ = 0;
    for (auto& copy : cVar_) copy.reset();
    records_.Start();
    TLoadAccount& account = records_.Account();
    try {
        for (const auto& var : controlVar_) SetcVarArrays(*var);
        CheckDataCount();
        account.recordCount = dataSet_.RecordCount();
        dataSet_.First();
        const TIndepVar* controls[MaxTerms];
        for (int k = 1; k <= varCount_; ++k) controls[k - 1] = cVar_[k].get();
        rules_.Prepare(*response_, controls, varCount_, dataSet_);
        // A field that is not there is an error like any other field's, before any record.
        const TField* id = idField_.empty() ? nullptr : dataSet_.FieldByName(idField_);
        records_.SetLabelled(id != nullptr);

        uint16_t n = 0;
        progress.SetGaugeProgress(0);
        progress.SetGaugeText("Records Loaded: 0");
        if (showLoadProgress_) progress.Show();

        Arrays& d = *d_;
        while (!dataSet_.Eof() && n < MaxData) {
            ++account.read;
            double values[MaxTerms + 1];
            int variable = 0;
            const TSkipReason reason = rules_.Evaluate(dataSet_, values, variable);
            if (reason == TSkipReason::None) {
                ++n;
                d.y[n] = values[0];
                std::copy(values + 1, values + 1 + varCount_, d.x.row(n));
                records_.Add(account.read, id ? id->AsString() : std::string());
                if (variant_.gaugeFollowsLoad) {
                    // A count that disagrees with the rows read (rows added since it ran,
                    // a view whose rows change from one run to the next) shows a full
                    // gauge, never a share past it or a division by nothing.
                    const int32_t count = dataSet_.RecordCount();
                    const double percent =
                        count > n ? static_cast<double>(n) * 100.0 / count : 100.0;
                    progress.SetGaugeProgress(static_cast<uint16_t>(std::trunc(percent)));
                    progress.SetGaugeRecords(n);
                }
            }
            if (reason != TSkipReason::None) ++account.skipped[variable][static_cast<int>(reason)];
            dataSet_.Next();
        }
        dataCount_ = n;
        account.used = n;
        if (!dataSet_.Eof()) account.notRead = std::max(1, account.recordCount - account.read);
    } catch (...) {
        // A load abandoned midway leaves nothing that could be mistaken for a usable one.
        dataCount_ = 0;
        records_.Abandon();
        dof_ = 0;
        valuesLoaded_ = false;
        throw;
    }

    if (dataCount_ >= varCount_ + 1) {
        dof_ = static_cast<uint16_t>(dataCount_ - (varCount_ + 1));
    } else {
        dof_ = 0;
        MessageDlg("There are 0 degrees of freedom.", TMsgDlgType::mtError, mbOK, 0);
    }
    valuesLoaded_ = dataCount_ > 0 ? !InvariantCol(varCount_) : false;
    return valuesLoaded_;
}

}  // namespace tav

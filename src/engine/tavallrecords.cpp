// The regression over every record of its dataset: the records streamed through the load's
// rules into sums in the client, or summed inside the server, then TWholeTableFit.
#include <algorithm>
#include <cmath>

#include "engine/servermoments.h"
#include "tav/db.h"
#include "tav/fixedarray.h"
#include "tav/messages.h"
#include "tav/tavcore.h"
#include "tav/tavprogress.h"

namespace tav {

namespace {

// The dataset's records from its first, forward.
class TDataSetRecords final : public TRecordStream {
  public:
    explicit TDataSetRecords(TDataSet& dataSet) : dataSet_(dataSet) {}
    const TFieldSource& Fields() const override { return dataSet_; }
    bool Next() override {
        if (started_)
            dataSet_.Next();
        else
            dataSet_.First();
        started_ = true;
        return !dataSet_.Eof();
    }
    int64_t Count() const override { return dataSet_.RecordCount(); }

  private:
    TDataSet& dataSet_;
    bool started_ = false;
};

// The control variables in use, in their order.
int ControlsInUse(const TTAVRegression& r, const TIndepVar* (&controls)[MaxTerms]) {
    int count = 0;
    for (int k = 1; k <= 10; ++k)
        if (r.ControlVar(k)->Transformation() != "Undefined") controls[count++] = r.ControlVar(k);
    return count;
}

// How often the progress is told of the records read.
constexpr int64_t kProgressEvery = 1 << 14;

// One pass of the stream's records into sums.
TMomentSums StreamPass(TRecordStream& records, const TDependentVar& response,
                       const TIndepVar* const* controls, int count, TLoadProgress& progress,
                       bool showProgress) {
    TRecordRules rules;
    rules.Prepare(response, controls, count, records.Fields());
    TMomentSums sums(count);
    // The share read is drawn only where the progress is shown: a dataset counts its records with
    // a statement of its own, a second pass over a table that may hold millions.
    const int64_t total = showProgress ? records.Count() : -1;
    int64_t read = 0;
    double values[MaxTerms + 1];
    while (records.Next()) {
        sums.Read();
        int variable = 0;
        const TSkipReason reason = rules.Evaluate(records.Fields(), values, variable);
        if (reason == TSkipReason::None)
            sums.Add(values);
        else
            sums.Skip(variable, reason);
        if (++read % kProgressEvery == 0) {
            if (total > 0)
                progress.SetGaugeProgress(static_cast<uint16_t>(
                    std::min<int64_t>(100, read * 100 / std::max<int64_t>(total, 1))));
            progress.SetGaugeRecords(static_cast<int>(std::min<int64_t>(read, INT32_MAX)));
        }
    }
    return sums;
}

TTableMoments StreamMoments(TRecordStream& records, const TDependentVar& response,
                            const TIndepVar* const* controls, int count, bool showProgress) {
    TLoadProgress progress;
    progress.SetGaugeProgress(0);
    progress.SetGaugeText("Records Loaded: 0");
    if (showProgress) progress.Show();
    for (;;) {
        TMomentSums sums = StreamPass(records, response, controls, count, progress, showProgress);
        if (!records.Reread()) return sums.Moments();
    }
}

}  // namespace

void TTAVRegression::Fit(const TTableMoments& moments, TWholeTableStrategy strategy) {
    wholeTable_->Fit(moments, strategy);
    if (!wholeTable_->Valid())
        MessageDlg("The fit over all records has no valid results: " + wholeTable_->Problem() + ".",
                   TMsgDlgType::mtError, mbOK, 0);
}

void TTAVRegression::ExecuteAllRecords() {
    dataSet_.CheckActive();
    TWholeTableStrategy strategy = wholeTableStrategy_;
    const bool server = ServerCanSum(dataSet_);
    if (strategy == TWholeTableStrategy::Auto)
        strategy = server ? TWholeTableStrategy::Server : TWholeTableStrategy::Client;
    if (strategy == TWholeTableStrategy::Server && !server)
        throw Exception("the records of " + dataSet_.DatabaseName() +
                        " cannot be summed inside a server: only a PostgreSQL server sums them");
    if (strategy == TWholeTableStrategy::Client) {
        TDataSetRecords records(dataSet_);
        ExecuteAllRecords(records);
        return;
    }
    wholeTable_->Clear();
    const TIndepVar* controls[MaxTerms];
    const int count = ControlsInUse(*this, controls);
    Fit(ServerMoments(dataSet_, *response_, controls, count), strategy);
}

void TTAVRegression::ExecuteAllRecords(TRecordStream& records) {
    wholeTable_->Clear();
    const TIndepVar* controls[MaxTerms];
    const int count = ControlsInUse(*this, controls);
    Fit(StreamMoments(records, *response_, controls, count, showLoadProgress_),
        TWholeTableStrategy::Client);
}

std::string TTAVRegression::WholeTableTerm(int v) const {
    const TIndepVar* controls[MaxTerms];
    const int count = ControlsInUse(*this, controls);
    if (v < 0 || v > count) RaiseIndexError("variable", v, 0, count);
    return v == 0 ? response_->OutputTerm() : controls[v - 1]->OutputTerm();
}

std::string TTAVRegression::WholeTableSummary() const {
    const TTableMoments& m = wholeTable_->Moments();
    return AccountText(
        m.used, m.read, m.variables, [&m](int v, int k) { return m.skipped[v][k]; },
        [this](int v) { return WholeTableTerm(v); });
}

}  // namespace tav

// The regression over every record of its dataset: the records streamed through the load's
// rules into sums in the client, or summed inside the server, then TWholeTableFit.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <thread>

#include "engine/servermoments.h"
#include "tav/db.h"
#include "tav/fixedarray.h"
#include "tav/messages.h"
#include "tav/tavcore.h"
#include "tav/tavprogress.h"

namespace tav {

namespace {

// The dataset's records from its first, forward. A table may be split (TDataSet::SplitRest):
// this stream then stops after the records that come before the part's.
class TDataSetRecords final : public TRecordStream {
  public:
    explicit TDataSetRecords(TDataSet& dataSet) : dataSet_(dataSet) {}
    const TFieldSource& Fields() const override { return dataSet_; }
    bool Next() override {
        if (stopAt_ >= 0 && given_ >= stopAt_) return false;
        if (started_)
            dataSet_.Next();
        else
            dataSet_.First();
        started_ = true;
        if (dataSet_.Eof()) return false;
        ++given_;
        return true;
    }
    int64_t Count() const override { return dataSet_.RecordCount(); }

    std::unique_ptr<TRecordStream> Split() override;
    bool TakeSplitPart(bool partRead) override {
        // The part counts where this stream stopped where it begins, not at its own end.
        const bool taken = partRead && stopAt_ >= 0 && given_ == stopAt_;
        stopAt_ = -1;
        return taken;
    }

  private:
    TDataSet& dataSet_;
    bool started_ = false;
    int64_t given_ = 0;    // records given
    int64_t stopAt_ = -1;  // where a part split off begins
};

// The records a dataset split off, read by the dataset it owns.
class TDataSetPart final : public TRecordStream {
  public:
    explicit TDataSetPart(std::unique_ptr<TDataSet> dataSet)
        : dataSet_(std::move(dataSet)), records_(*dataSet_) {}
    const TFieldSource& Fields() const override { return *dataSet_; }
    bool Next() override { return records_.Next(); }

  private:
    std::unique_ptr<TDataSet> dataSet_;
    TDataSetRecords records_;
};

std::unique_ptr<TRecordStream> TDataSetRecords::Split() {
    // A split that cannot be made, for whatever reason, leaves the reading to this stream alone,
    // which meets any error the database has in store as it would have.
    int64_t before = 0;
    std::unique_ptr<TDataSet> rest;
    try {
        rest = dataSet_.SplitRest(before);
    } catch (const std::exception&) {
        return nullptr;
    }
    if (!rest || before <= given_) return nullptr;
    stopAt_ = before;
    return std::make_unique<TDataSetPart>(std::move(rest));
}

// The control variables in use, in their order.
int ControlsInUse(const TTAVRegression& r, const TIndepVar* (&controls)[MaxTerms]) {
    int count = 0;
    for (int k = 1; k <= 10; ++k)
        if (r.ControlVar(k)->Transformation() != "Undefined") controls[count++] = r.ControlVar(k);
    return count;
}

// How often the progress is told of the records read.
constexpr int64_t kProgressEvery = 1 << 14;

// The current record of `records` through the load's rules into `sums`.
inline void SumRecord(TRecordRules& rules, const TFieldSource& records, TMomentSums& sums) {
    double values[MaxTerms + 1];
    sums.Read();
    int variable = 0;
    const TSkipReason reason = rules.Evaluate(records, values, variable);
    if (reason == TSkipReason::None)
        sums.Add(values);
    else
        sums.Skip(variable, reason);
}

// The records of a part split off a stream, summed on a thread of their own. Its errors are
// not raised: the part's records are then read again by the stream it came from, which names
// the record at fault as a reading from the first would.
class TPartPass {
  public:
    TPartPass(std::unique_ptr<TRecordStream> part, const TDependentVar& response,
              const TIndepVar* const* controls, int count, const TMomentSums& like)
        : part_(std::move(part)), sums_(like.Part()) {
        rules_.Prepare(response, controls, count, part_->Fields());
        thread_ = std::thread([this] { Run(); });
    }
    TPartPass(const TPartPass&) = delete;
    TPartPass& operator=(const TPartPass&) = delete;
    ~TPartPass() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }

    int64_t Read() const { return read_.load(std::memory_order_relaxed); }
    // Waits for the part's end: whether all of its records were summed.
    bool Finish() {
        thread_.join();
        return summed_;
    }
    const TMomentSums& Sums() const { return sums_; }

  private:
    void Run() {
        try {
            int64_t read = 0;
            while (!stop_.load(std::memory_order_relaxed) && part_->Next()) {
                SumRecord(rules_, part_->Fields(), sums_);
                if (++read % kProgressEvery == 0) read_.store(read, std::memory_order_relaxed);
            }
            summed_ = !stop_ && !part_->Reread();
        } catch (...) {
            summed_ = false;
        }
    }

    std::unique_ptr<TRecordStream> part_;
    TRecordRules rules_;
    TMomentSums sums_;
    std::atomic<int64_t> read_{0};
    std::atomic<bool> stop_{false};
    bool summed_ = false;
    std::thread thread_;  // last: started once the rest is made
};

// One pass of the stream's records into sums. Once the first usable record has given the sums
// their shift, the stream is asked to split, and the part split off is summed on a second
// thread while this one reads on to where the part begins.
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
    bool splitAsked = false;
    std::unique_ptr<TPartPass> part;
    for (;;) {
        while (records.Next()) {
            SumRecord(rules, records.Fields(), sums);
            if (!splitAsked && sums.Used() > 0) {
                splitAsked = true;
                if (std::unique_ptr<TRecordStream> rest = records.Split()) {
                    try {
                        part = std::make_unique<TPartPass>(std::move(rest), response, controls,
                                                           count, sums);
                    } catch (const std::exception&) {
                        // No second thread, or the part's fields are not this stream's: this
                        // thread reads on.
                        records.TakeSplitPart(false);
                    }
                }
            }
            if (++read % kProgressEvery == 0) {
                const int64_t all = read + (part ? part->Read() : 0);
                if (total > 0)
                    progress.SetGaugeProgress(static_cast<uint16_t>(
                        std::min<int64_t>(100, all * 100 / std::max<int64_t>(total, 1))));
                progress.SetGaugeRecords(static_cast<int>(std::min<int64_t>(all, INT32_MAX)));
            }
        }
        if (!part) break;
        const bool taken = records.TakeSplitPart(part->Finish());
        if (taken) sums.Merge(part->Sums());
        part.reset();
        if (taken) break;
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

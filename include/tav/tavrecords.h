// Who the loaded records are and what a load did with the others: the record accounting of a
// regression, kept apart from its arrays and its fit.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "tav/fixedarray.h"
#include "tav/maxdata.h"
#include "tav/transformations.h"

namespace tav {

// What the last load did with the records: how many it read and used, why it skipped the others
// (the first reason met, per variable), and how many it left unread at the MaxData cap.
struct TLoadAccount {
    int32_t recordCount = 0;  // RecordCount of the dataset at the load
    int32_t read = 0;
    int32_t used = 0;
    int32_t notRead = 0;  // left after MaxData usable records
    // skipped[0][r]: for the response; skipped[k][r]: for the k-th control variable in use.
    int32_t skipped[MaxTerms + 1][kSkipReasonCount] = {};

    int32_t Skipped() const;
    bool Capped() const { return notRead > 0; }
};

// An account of records in one line: "287 of 300 records used; 13 skipped: 8 for Ln(ADVERT) (ln
// or square root of a value <= 1E-20), 5 for PROFIT (null field)". skipped(v, reason) counts the
// records variable v refused for the reason (0 the response, k the k-th control variable in use),
// term(v) names it.
std::string AccountText(int64_t used, int64_t read, int variables,
                        const std::function<int64_t(int, int)>& skipped,
                        const std::function<std::string(int)>& term);

// The records of one load: the account, and for each record used (1..Count, in load order) its
// position in the result set and its label. The labels lie one after another in one buffer,
// cleared at each load and keeping its capacity, so that loads allocate only while labels outgrow
// every earlier load (a fixed slot per record would cut long labels or reserve MaxData times the
// longest). Positions and label ends are allocated once, as zero pages.
class TTAVRecords {
  public:
    TTAVRecords();

    // Starts a load: an empty account, no records, none labelled.
    void Start();
    // Whether the load labels its records (it has an IdField).
    void SetLabelled(bool labelled) { labelled_ = labelled; }
    // Appends the next record used: its position in the result set and its label ("" for none).
    void Add(int64_t position, const std::string& label);
    // Forgets the records of a load abandoned midway; the account stays as far as it went.
    void Abandon() { count_ = 0; }

    TLoadAccount& Account() { return account_; }
    const TLoadAccount& Account() const { return account_; }
    int32_t Count() const { return count_; }
    bool Labelled() const { return labelled_; }
    // Record i of 1..Count: its position (from 1, skipped records counted), its label, and the
    // name a person is shown (the label, or the position where there is none). Raise
    // std::out_of_range outside 1..Count.
    int64_t Position(int32_t i) const;
    std::string Label(int32_t i) const;
    std::string Name(int32_t i) const;
    // The account in one line; `term(v)` names variable v (0 the response, k the k-th control
    // variable in use), of which there are `variables` controls.
    std::string Summary(int variables, const std::function<std::string(int)>& term) const;

  private:
    struct TIdentity {
        int64_t position[MaxData + 1];
        std::size_t labelEnd[MaxData + 1];
    };
    TZeroedBlock<TIdentity> identity_;
    TLoadAccount account_;
    int32_t count_ = 0;
    std::string labels_;
    bool labelled_ = false;
};

}  // namespace tav

// The variables on hostile entry texts (any count of entries, any codes, field names, exponents
// and factors), record by record and in a whole load and fit over a small table of awkward
// values: nulls, blanks, a text, zeros and values at the 1E-20 threshold, huge, tiny and infinite
// numbers. Only the library's own exceptions may come out.
#include <sqlite3.h>
#include <unistd.h>

#include <QApplication>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "tav/db.h"
#include "tav/messages.h"
#include "tav/tavquery.h"
#include "tav/tavtypes.h"

using namespace tav;

namespace {

const char* kTable =
    "CREATE TABLE t(A REAL, B REAL, C TEXT, D INTEGER);"
    "INSERT INTO t VALUES (NULL, 1, '1', 1), (0, 0, '', 0), (1e-20, -1e-20, ' ', -1),"
    "  (-3, 2, 'x', 2), (2.5, 4, '2.5', 3), (1e308, 1e308, '1e999', 9007199254740993),"
    "  (-1e-310, 7, '-0', -9223372036854775808), (9e999, -9e999, 'nan', 9223372036854775807),"
    "  (4, 0.5, '4', 5), (6.25, 3, '6.25', 4), (10, 20, '-5', 7), (1e-300, 1e300, '8', 6);";

// The table's database in a folder of its own, removed when the process ends.
class TTableFile {
  public:
    TTableFile() {
        char folder[] = "/tmp/tav-fuzz-XXXXXX";
        if (!mkdtemp(folder)) tavfuzz::Finding("no temporary folder");
        folder_ = folder;
        path_ = folder_ + "/fuzz.db";
        sqlite3* db = nullptr;
        if (sqlite3_open(path_.c_str(), &db) != SQLITE_OK ||
            sqlite3_exec(db, kTable, nullptr, nullptr, nullptr) != SQLITE_OK)
            tavfuzz::Finding(std::string("cannot build the table: ") + sqlite3_errmsg(db));
        sqlite3_close(db);
    }
    ~TTableFile() {
        std::remove(path_.c_str());
        rmdir(folder_.c_str());
    }
    const std::string& Path() const { return path_; }

  private:
    std::string folder_, path_;
};

TQuery& Records() {
    static const TTableFile file;
    static TQuery query;
    if (!query.Active()) {
        query.SetDatabaseName(file.Path());
        query.SetSQLText("SELECT * FROM t");
        query.Open();
    }
    return query;
}

TTAVQuery& Regression() {
    static const std::string path = Records().DatabaseName();
    static TTAVQuery regression;
    if (!regression.Active()) {
        SetMessageDlgHook(
            [](const std::string&, TMsgDlgType, TMsgDlgButtons) -> uint16_t { return mrOk; });
        regression.SetDatabaseName(path);
        regression.SetSQLText("SELECT * FROM t");
        regression.SetShowLoadProgress(false);
        regression.Open();
    }
    return regression;
}

template <typename Var>
void EveryRecord(const Var& v) {
    TQuery& q = Records();
    for (q.First(); !q.Eof(); q.Next()) {
        try {
            if (v.CheckRecord(q) == TSkipReason::None) v.Process(q);
        } catch (const Exception&) {
            // a field the table lacks, a text that is no number, an entry the list lacks
        }
    }
}

template <typename Var>
Var Entries(const std::vector<std::string>& texts, size_t from, size_t count) {
    Var v;
    v.Clear();
    for (size_t k = from; k < from + count && k < texts.size(); ++k) v.Add(texts[k]);
    return v;
}

}  // namespace

// A load builds its progress dialog (shown or not), which needs the application object.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(*argc, *argv);  // lives as long as the process
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The first byte tells how many of the texts each variable takes (six, mostly), the rest
    // are the texts: the control variable's, then the response's.
    const size_t controlCount = (data[0] & 0x0f) < 12 ? 6 : data[0] & 0x07;
    const size_t responseCount = (data[0] >> 4) < 12 ? 6 : (data[0] >> 4) & 0x07;
    const std::vector<std::string> texts =
        tavfuzz::Texts(data + 1, size - 1, controlCount + responseCount);
    const auto control = Entries<TIndepVar>(texts, 0, controlCount);
    const auto response = Entries<TDependentVar>(texts, controlCount, responseCount);

    TIndepVar::DefinitionError(control);
    TDependentVar::DefinitionError(response);
    try {
        control.OutputTerm();
        response.OutputTerm();
    } catch (const EStringListError&) {
    }
    EveryRecord(control);
    EveryRecord(response);

    TTAVQuery& regression = Regression();
    try {
        regression.SetControl1(control);
        regression.SetResponse(response);
        regression.ReLoad();
        const TLoadAccount& account = regression.GetLoadAccount();
        if (account.used + account.Skipped() != account.read ||
            (regression.ValuesLoaded() && account.used != regression.DataCount()))
            tavfuzz::Finding("the load's account does not add up");
        regression.Execute();
    } catch (const Exception&) {
        return 0;
    }
    // A fit without a problem has finite results: no value that is not finite was loaded.
    if (regression.ValuesLoaded() && regression.GetFitProblem() == TFitProblem::None) {
        bool finite = std::isfinite(regression.GetyBar()) && std::isfinite(regression.GetSSE());
        for (uint16_t j = 0; j <= regression.VarCount(); ++j)
            finite = finite && std::isfinite(regression.Getb(j));
        for (uint16_t j = 1; j <= regression.VarCount(); ++j)
            finite = finite && std::isfinite(regression.GetxBar(j));
        if (!finite) tavfuzz::Finding("a valid fit with a result that is not finite");
    }
    return 0;
}

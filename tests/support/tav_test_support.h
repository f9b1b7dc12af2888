// Shared helpers of the tests: temporary SQLite databases, and recorders for message boxes and
// the load progress dialog.
#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <bit>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "support/tav_paths.h"
#include "tav/messages.h"
#include "tav/tavprogress.h"
#include "tav/tavquery.h"
#include "tav/tavtable.h"
#include "tav/tavtypes.h"

namespace tavtest {

// Variable definitions for the tests: a control variable with a transformation of one field, or
// of two (None(field) for the field as it is), and a response.
tav::TIndepVar Control(const std::string& transformation, const std::string& field,
                       const std::string& field2 = {});
inline tav::TIndepVar None(const std::string& field) { return Control("None", field); }
tav::TDependentVar Response(const std::string& field, const std::string& transformation = "None");

// Points a component at the table `table` of the database file `path`: a table component names
// it, a query component selects all of it.
template <typename Component>
void Point(Component& c, const std::string& path, const std::string& table = "t") {
    c.SetDatabaseName(path);
    if constexpr (std::is_same_v<Component, tav::TTAVTable>)
        c.SetTableName(table);
    else
        c.SetSQLText("SELECT * FROM " + table);
}

// Uniform doubles from mt19937's raw output, which, unlike the standard distributions, is the
// same with every standard library.
class TRandom {
  public:
    explicit TRandom(uint32_t seed) : gen_(seed) {}
    double Uniform(double lo, double hi) {
        const double unit = static_cast<double>(gen_() >> 5) / static_cast<double>(1u << 27);
        return lo + (hi - lo) * unit;
    }

  private:
    std::mt19937 gen_;
};

inline uint64_t Bits(double x) { return std::bit_cast<uint64_t>(x); }

// The message of the library's exception that `run` raises; empty when it raises none.
std::string ErrorOf(const std::function<void()>& run);

// The SHA-256 of a file's bytes; a file that cannot be read fails the test.
QByteArray Digest(const QString& path);

// A temporary folder that holds the test's databases; removed with the object.
class TTempDb {
  public:
    TTempDb();
    // Runs an SQL script on the database file `name` in the folder (created when missing) and
    // returns the file's path.
    std::string Exec(const std::string& sql, const std::string& name = "test.db");
    std::string Path(const std::string& name = "test.db") const;

  private:
    QTemporaryDir dir_;
};

struct TRecordedMessage {
    std::string text;
    tav::TMsgDlgType type;
    tav::TMsgDlgButtons buttons;
};

// Records every message box while it lives and answers each with OK.
class TMessageRecorder {
  public:
    TMessageRecorder();
    ~TMessageRecorder();
    TMessageRecorder(const TMessageRecorder&) = delete;
    TMessageRecorder& operator=(const TMessageRecorder&) = delete;

    const std::vector<TRecordedMessage>& Messages() const { return messages_; }
    std::vector<std::string> Texts() const;
    void Clear() { messages_.clear(); }

  private:
    std::vector<TRecordedMessage> messages_;
    tav::TMessageDlgHook previous_;
};

// Follows the load progress dialogs while it lives.
class TGaugeRecorder {
  public:
    struct Step {
        int progress;
        std::string text;
        bool visible;
    };
    TGaugeRecorder();
    ~TGaugeRecorder();
    TGaugeRecorder(const TGaugeRecorder&) = delete;
    TGaugeRecorder& operator=(const TGaugeRecorder&) = delete;

    const std::vector<Step>& Steps() const { return steps_; }
    int Freed() const { return freed_; }
    bool EverVisible() const;
    int MaxProgress() const;

  private:
    std::vector<Step> steps_;
    int freed_ = 0;
    tav::TGaugeObserver previous_;
};

}  // namespace tavtest

// tavreg's command line: one table of options, from which the command line is read, --help is
// written and each output is dispatched, and what a command line asks for once it is read.
#pragma once

#include <QJsonArray>
#include <QString>
#include <QStringList>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "summary.h"
#include "tav/db.h"
#include "tav/outputfiles.h"
#include "tav/tavcore.h"
#include "terms.h"

namespace tavreg {

// An option of the command line; their table, in the order of --help, is in options.cpp.
struct TOption;

// What a command line asks for, every value checked.
struct TOptions {
    bool help = false;
    std::string formFile;  // the bundled example when nothing else is given
    bool commandLineDefinition = false;
    std::string db, csv, table, sql, description, y, id;
    std::vector<std::string> x;
    // The definition's variables, checked before anything is opened; for a Factor(FIELD) term,
    // FIELD in `factors` at its place (the variables there come once the levels are known).
    std::vector<tav::TIndepVar> controls;
    std::vector<std::string> factors;
    std::optional<tav::TDependentVar> response;
    std::optional<tav::TFitMethod> method;
    bool allRecords = false;  // every record, summed (--all-records)
    std::optional<tav::TWholeTableStrategy> sumIn;
    std::optional<int> timeout;
    int64_t memoryLimit = tav::kDefaultSqliteHeapLimit;
    double level = tav::kDefaultConfidenceLevel;  // of every interval
    std::optional<std::vector<TFieldValue>> predict;
    std::string predictCsv;  // the CSV file of new rows to predict
    bool json = false, show = false, quiet = false;
    std::string pdf, plots;
    std::string diagnostics;  // the folder of the diagnostic plots
    // The outputs asked for, in the table's order; the report as text when none is.
    std::vector<const TOption*> outputs;
    // The file an output that writes to standard output goes to instead (--json=FILE), by the
    // option's name.
    std::map<std::string, std::string> streamFiles;
    bool anyOutput = false;  // whether an output option is given
};

// A regression component of the run: the dataset and its regression are one object.
struct TRegressionComponent {
    tav::TDataSet* dataset;
    tav::TTAVRegression* regression;
};
using TRegressionComponents = std::vector<TRegressionComponent>;

// What the outputs of one fitted regression are made from, and where they go.
struct TRegressionOutputs {
    const TOptions& options;
    tav::TDataSet& dataset;
    tav::TTAVRegression& regression;
    const std::optional<TPrediction>& prediction;
    bool several;  // whether the run has several regressions
    tav::TOutputFiles& files;
    std::string& out;  // standard output, written when the whole run has succeeded
    QJsonArray& json;  // the statistics of each regression, for --json
    // What goes to the files of TOptions::streamFiles, by option name, written with the rest.
    std::map<std::string, std::string>& streamText;
};

// When an output is written for each regression: what the fit says comes first, and the pages of
// the report follow only when no window shows them.
enum class TStage { Results, Pages };

// Reads and checks the command line (the program's name first). Raises UsageError.
TOptions ReadOptions(const QStringList& arguments);

// The bundled example's form file in the build, opened when no input is named (examplepath.cpp,
// the one source with a path of the build compiled in).
const char* ExampleFormPath();

// The text of --help.
std::string HelpText();

// Whether the command line asks only for outputs that never need a display (and not for --show).
// Read before the application exists, since that is when the platform is chosen.
bool OnlyFileOutputs(int argc, char** argv);

// Bounds every statement and SQLite's memory as the options say: set before any database opens.
void SetDatabaseBounds(const TOptions& options);

// Names every output file before anything runs, refusing an input or a standard output that is an
// input.
void DeclareOutputs(const TOptions& options, const TRegressionComponents& regressions,
                    tav::TOutputFiles& files);

// Writes the outputs of one regression that are asked for and belong to `stage`.
void WriteOutputs(const TRegressionOutputs& outputs, TStage stage);

// Hands the text of the outputs that name a file (--json=FILE and the like) to `files`, and with
// --json the whole JSON document to its file or to `out`; done once every regression is written.
void WriteStreamFiles(const TOptions& options, const QJsonArray& json,
                      std::map<std::string, std::string>& streamText, std::string& out,
                      tav::TOutputFiles& files);

// The prefix of the files of a regression: its component's name and '-' when there are several.
QString FilePrefix(const tav::TDataSet& dataset, bool several);

}  // namespace tavreg

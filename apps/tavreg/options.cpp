#include "options.h"

#include <unistd.h>

#include <QCommandLineParser>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstring>

#include "outputs.h"
#include "pages.h"
#include "plots.h"
#include "report.h"
#include "tav/csvtable.h"
#include "tav/db.h"
#include "tav/formfile.h"
#include "tav/sysutils.h"

namespace tavreg {

// What sets an option apart, for --help, for reading it and for its output.
enum TOptionFlags : unsigned {
    kOutput = 0,      // listed under "Output"
    kDefinition = 1,  // listed under "Definition on the command line"
    kRepeats = 2,     // given several times, each value counts
    kMayBeEmpty = 4,  // else an empty value is refused
    kPage = 8,        // writes the report's pages: only when no window shows them, last
    kStream = 16,     // writes to standard output, or to the file given as --NAME=FILE
};

// One option: how it is read and checked, its lines of --help, and what it writes. The table
// below lists each as {name, argument, flags, reader, help, writer, declaration, short name,
// made help}.
struct TOption {
    const char* name;      // the long name, without "--"
    const char* argument;  // the value's name in the help; none for a switch
    unsigned flags;
    // Checks a value (empty for a switch) and keeps it in the options; raises UsageError.
    void (*read)(TOptions& options, const std::string& value);
    // --help: the first line is written beside the name, the others under it.
    const char* help;
    // An output: what it writes of each regression, and its targets, named before the run begins
    // (once for all regressions).
    void (*write)(const TRegressionOutputs& outputs) = nullptr;
    void (*declare)(const TOptions& options, const TRegressionComponents& regressions,
                    tav::TOutputFiles& files) = nullptr;
    char shortName = 0;
    // Help made when it is written, in place of `help`.
    std::string (*madeHelp)() = nullptr;
};

namespace {

// Readers of values kept as they are given, and of switches.
template <auto member>
void Keep(TOptions& options, const std::string& value) {
    options.*member = value;
}
template <auto member>
void Switch(TOptions& options, const std::string&) {
    options.*member = true;
}

// A number from `low` to `high`, or UsageError with `what` it should have been.
int Number(const char* option, const std::string& value, int low, int high,
           const std::string& what) {
    bool ok = false;
    const int number = QString::fromStdString(value).toInt(&ok);
    if (!ok || number < low || number > high)
        throw UsageError(std::string("--") + option + ": '" + value + "' is not " + what);
    return number;
}

// The folder options: the folder is checked once, each regression's files are named in it.
void DeclareInFolder(const std::string& folder, const std::string& option,
                     const TRegressionComponents& regressions, tav::TOutputFiles& files,
                     void (*declare)(const QString& dir, const QString& prefix,
                                     tav::TOutputFiles& files)) {
    const QString dir = QString::fromStdString(folder);
    files.CheckFolder(dir, option);
    for (const auto& [ds, reg] : regressions)
        declare(dir, FilePrefix(*ds, regressions.size() > 1), files);
}

// In the order of --help.
const TOption kOptions[] = {
    {"db", "DATABASE", kDefinition, Keep<&TOptions::db>,
     "SQLite database file, or a PostgreSQL server as\n"
     "  postgresql://USER@HOST:PORT/DBNAME\n"
     "(the password from PGPASSWORD or ~/.pgpass, never on the command line)"},
    {"csv", "FILE", kDefinition, Keep<&TOptions::csv>,
     "instead of --db: a CSV file, read into a table named after it\n"
     "(sales.csv: table sales, the default of --table; --sql can name it).\n"
     "First row the column names; separator ',' or ';' (whichever splits\n"
     "the first row into more fields); quoted fields with \"\" for a quote; an empty cell or NA\n"
     "is missing; with ';' a decimal comma (1,5) reads as a number. A column\n"
     "is a number when every cell present is one, and text otherwise"},
    {"table", "NAME", kDefinition, Keep<&TOptions::table>, "regress over a table ..."},
    {"sql", "TEXT", kDefinition, Keep<&TOptions::sql>, "... or over the records of a query"},
    // The terms come from the table of transformation kinds.
    {"y", "TERM", kDefinition, Keep<&TOptions::y>, nullptr, nullptr, nullptr, 0,
     [] { return "the response: " + ResponseTermList(); }},
    {"x", "TERM", kDefinition | kRepeats,
     [](TOptions& o, const std::string& term) { o.x.push_back(term); }, nullptr, nullptr, nullptr,
     0,
     [] {
         return "a control variable, up to ten times, in order:\n" + ControlTermLines() +
                "\nA field name may hold blanks: --x 'Log(unit price)'.";
     }},
    {"description", "TEXT", kDefinition | kMayBeEmpty, Keep<&TOptions::description>,
     "the free text shown in the report header"},
    {"id", "FIELD", kDefinition, Keep<&TOptions::id>,
     "the field that names each record (the IdField property of a form file,\n"
     "which it replaces): the diagnostic plots, the summary and the JSON's\n"
     "\"records\" name records by it. A CSV file whose first column has no name\n"
     "(R's row names, as write.csv writes them) names them by that column\n"
     "without it; otherwise a record is named by its position in the result set"},
    {"fit-method", "M", kDefinition,
     [](TOptions& o, const std::string& method) {
         try {
             o.method = tav::StrToFitMethod(method);
         } catch (const tav::EConvertError& e) {
             throw UsageError("--fit-method: " + e.Message());
         }
     },
     "how the coefficients are fitted (the FitMethod property of a form file):\n"
     "  Auto             the normal equations, redone by QR decomposition when\n"
     "                   their estimated accuracy is under 10 digits (default)\n"
     "  NormalEquations  always the normal equations\n"
     "  QR               always a column-pivoted QR decomposition in extended\n"
     "                   precision, which also names a variable that repeats\n"
     "                   or combines others"},
    {"all-records", nullptr, kDefinition, Switch<&TOptions::allRecords>,
     "fit every record of each table or query, past the 2500 a report holds: the\n"
     "records are summed as they are read (a CSV file as it is, with no\n"
     "database), or inside a PostgreSQL server; the results are those of\n"
     "--summary (the default) and --json, without the statistics of single\n"
     "records (residuals, leverage, Cook's distance), which need the records"},
    {"sum-in", "WHERE", kDefinition,
     [](TOptions& o, const std::string& where) {
         try {
             o.sumIn = tav::StrToWholeTableStrategy(where);
         } catch (const tav::EConvertError& e) {
             throw UsageError("--sum-in: " + e.Message());
         }
     },
     "where --all-records sums the records: Server (inside a PostgreSQL\n"
     "server), Client (in tavreg, as they are read) or Auto (default: the\n"
     "server for a postgresql:// database, else the client)"},
    {"timeout", "SECONDS", kDefinition,
     [](TOptions& o, const std::string& seconds) {
         const int max = tav::TDataSet::kMaxQueryTimeout;
         o.timeout = Number("timeout", seconds, 0, max,
                            "a number of seconds from 0 to " + std::to_string(max));
     },
     "interrupt a statement (the query, or the count of its records) that runs\n"
     "longer than this, counted from its start; 0 for no bound (default;\n"
     "replaces the QueryTimeout property of a form file, and bounds the\n"
     "statements a form file runs as it is read, whatever it says)"},
    {"memory-limit", "MIB", kDefinition,
     [](TOptions& o, const std::string& mib) {
         o.memoryLimit = int64_t{Number("memory-limit", mib, 16, 1024 * 1024,
                                        "a number of MiB from 16 to 1048576")} *
                         1024 * 1024;
     },
     "the most memory SQLite may use for a database, a query and a CSV file's\n"
     "table together (default 1024); past it the statement ends with \"out of\n"
     "memory\""},

    {"text", nullptr, kPage | kStream, nullptr,
     "write each report page as plain text to standard output (or to FILE)",
     [](const TRegressionOutputs& r) { r.out += Printable(ReportText(r.regression)); }},
    {"pdf", "FILE", kPage, Keep<&TOptions::pdf>,
     "print each report page to the PDF file FILE; with several regressions,\n"
     "to BASE-Component.pdf beside it, one file per component",
     [](const TRegressionOutputs& r) {
         PrintPdf(r.regression, PdfName(r.options.pdf, r.dataset.Name(), r.several), r.files);
     },
     [](const TOptions& o, const TRegressionComponents& regressions, tav::TOutputFiles& files) {
         for (const auto& [ds, reg] : regressions)
             files.Declare(PdfName(o.pdf, ds->Name(), regressions.size() > 1), "--pdf");
     }},
    {"plots", "DIR", kPage, Keep<&TOptions::plots>,
     "write one PNG per plot kind (and per control variable for the scatter and\n"
     "residual plots) into the folder DIR",
     [](const TRegressionOutputs& r) {
         SaveClassicPlots(r.regression, QString::fromStdString(r.options.plots),
                          FilePrefix(r.dataset, r.several), r.files);
     },
     [](const TOptions& o, const TRegressionComponents& regressions, tav::TOutputFiles& files) {
         DeclareInFolder(o.plots, "--plots", regressions, files, DeclareClassicPlots);
     }},
    {"diagnostics", "DIR", kOutput, Keep<&TOptions::diagnostics>,
     "write the four diagnostic plots of each fit into the folder DIR, each as\n"
     "PNG and SVG: residuals-fitted (residuals against fitted values, with a\n"
     "smooth), normal-qq (standardized residuals against normal quantiles),\n"
     "scale-location (square root of their size against fitted values) and\n"
     "residuals-leverage (with Cook's distance 0.5 and 1); the three most\n"
     "extreme records are labelled by their name (see --id). With\n"
     "several regressions the names begin with the component's name and '-'",
     [](const TRegressionOutputs& r) {
         SaveDiagnostics(r.regression, QString::fromStdString(r.options.diagnostics),
                         FilePrefix(r.dataset, r.several), r.files);
     },
     [](const TOptions& o, const TRegressionComponents& regressions, tav::TOutputFiles& files) {
         DeclareInFolder(o.diagnostics, "--diagnostics", regressions, files, DeclareDiagnostics);
     }},
    {"json", nullptr, kOutput | kStream, Switch<&TOptions::json>,
     "write every statistic of every fit as one JSON document to standard\n"
     "output (or to FILE): {\"regressions\": [...]}; a number that is not\n"
     "finite is null",
     [](const TRegressionOutputs& r) {
         if (r.options.allRecords) {
             r.json.append(WholeTableStatistics(r.dataset.Name(), r.regression, r.options.level));
             return;
         }
         QJsonObject statistics = Statistics(r.dataset.Name(), r.regression, r.options.level);
         if (r.prediction) statistics["prediction"] = PredictionJson(*r.prediction);
         r.json.append(statistics);
     }},
    {"summary", nullptr, kOutput | kStream, nullptr,
     "write a summary of each fit as text to standard output (or to FILE):\n"
     "the terms by name with estimates, standard errors, t, p-values and\n"
     "confidence intervals, residual quantiles, R squared and adjusted, the F\n"
     "test, the records used and skipped, the fit path, variance inflation\n"
     "and Durbin-Watson",
     [](const TRegressionOutputs& r) {
         r.out +=
             Printable(r.options.allRecords
                           ? WholeTableSummaryText(r.dataset.Name(), r.regression, r.options.level)
                           : SummaryText(r.dataset.Name(), r.regression, r.options.level)) +
             "\n";
     }},
    {"predict", "VALUES", kOutput,
     [](TOptions& o, const std::string& values) { o.predict = ParseFieldValues(values); },
     "predict the response at new values of the control variables' fields,\n"
     "given as 'FIELD=NUMBER,FIELD=NUMBER' (transformed as the variables say),\n"
     "with its confidence and prediction intervals (in the JSON with --json)",
     [](const TRegressionOutputs& r) {
         // With --json, the prediction is part of the statistics.
         if (!r.options.json)
             r.out += Printable(PredictionText(r.dataset.Name(), r.regression, *r.prediction));
     }},
    {"predict-csv", "FILE", kOutput | kStream, Keep<&TOptions::predictCsv>,
     "predict the response for each row of the CSV file FILE (read as --csv\n"
     "reads one; its numeric columns give the fields' values) and write, as\n"
     "CSV to standard output, the row's columns, then fit, se.fit, conf.lwr,\n"
     "conf.upr, pred.lwr, pred.upr (at --level) and reason; a row without a\n"
     "prediction keeps its place, with empty cells and the reason",
     [](const TRegressionOutputs& r) {
         const std::string& path = r.options.predictCsv;
         const tav::TCsvTable rows = tav::TCsvTable::Parse(tav::ReadTextFile(path), path);
         r.out += PredictionTable(r.regression, rows, r.options.level, r.out.empty(),
                                  r.several ? r.dataset.Name() : std::string());
     },
     [](const TOptions& o, const TRegressionComponents&, tav::TOutputFiles& files) {
         files.AddInput(QString::fromStdString(o.predictCsv), "the --predict-csv file");
     }},
    {"predict-out", "FILE", kOutput,
     [](TOptions& o, const std::string& file) { o.streamFiles["predict-csv"] = file; },
     "write the table of --predict-csv to FILE instead of standard output"},
    {"level", "L", kOutput,
     [](TOptions& o, const std::string& level) { o.level = ParseLevel(level); },
     "the confidence level of every interval (default 0.95; 0.99 or 99%)"},
    {"sql-expression", nullptr, kOutput | kStream, nullptr,
     "write the fitted equation as a SQL expression over the fields (SQLite,\n"
     "or PostgreSQL for a postgresql:// database): the database can then score\n"
     "its own records; NULL where a variable has no value; to standard output\n"
     "(or to FILE)",
     [](const TRegressionOutputs& r) {
         // Connection URLs name PostgreSQL servers; any other database gets SQLite's dialect.
         const bool postgres = tav::IsConnectionUrl(r.dataset.DatabaseName());
         // Field names are the data's: what they hold is shown, never sent to the terminal.
         r.out += Printable(r.regression.ScoringSQL(postgres ? tav::TSqlDialect::PostgreSQL
                                                             : tav::TSqlDialect::SQLite)) +
                  "\n";
     }},
    {"show", nullptr, kOutput, Switch<&TOptions::show>,
     "show the windows even with output options"},
    {"quiet", nullptr, kOutput, Switch<&TOptions::quiet>,
     "no line on standard error about the records each load used and skipped"},
    {"help", nullptr, kOutput, nullptr, "this text", nullptr, nullptr, 'h'},
};

const TOption& Option(const char* name) {
    for (const TOption& option : kOptions)
        if (std::strcmp(option.name, name) == 0) return option;
    throw std::logic_error(std::string("no option ") + name);
}

// The checks of a definition on the command line as a whole, and its variables' terms: all of
// it before anything is opened.
void CheckDefinition(TOptions& o) {
    if (o.commandLineDefinition && !o.formFile.empty())
        throw UsageError(std::string("give either a form file or ") +
                         (o.csv.empty() ? "--db" : "--csv") + ", not both");
    if (o.commandLineDefinition) {
        // With --csv, no --table and no --sql means the file's own table.
        if (o.table.empty() == o.sql.empty() && (o.csv.empty() || !o.table.empty()))
            throw UsageError("give one of --table and --sql");
        if (o.y.empty()) throw UsageError("--y is missing");
        if (o.x.size() > 10) throw UsageError("at most ten --x");
    } else if (!o.table.empty() || !o.sql.empty() || !o.y.empty() || !o.x.empty()) {
        throw UsageError("--table, --sql, --y and --x need --db or --csv");
    }
    for (const auto& term : o.x) {
        const std::optional<std::string> factor = FactorField(term);
        o.factors.push_back(factor.value_or(""));
        o.controls.push_back(factor ? tav::TIndepVar() : ControlTerm(term));
    }
    if (o.commandLineDefinition) o.response = ResponseTerm(o.y);
    if (!o.commandLineDefinition && o.formFile.empty()) o.formFile = ExampleFormPath();
}

// The fit over every record writes what it has: its summary (the default) and its JSON, never
// an output made of single records. It shows no window.
void CheckAllRecords(TOptions& o) {
    for (const TOption* option : o.outputs)
        if (std::strcmp(option->name, "summary") != 0 && std::strcmp(option->name, "json") != 0)
            throw UsageError(std::string("--") + option->name +
                             " needs the records of a report, which --all-records does not "
                             "keep; it writes --summary and --json");
    if (o.show) throw UsageError("--all-records shows no window; it writes --summary and --json");
    if (o.outputs.empty()) o.outputs.push_back(&Option("summary"));
    o.anyOutput = true;
}

// A paragraph broken into lines of at most `width` characters, between words.
std::string Wrapped(const std::string& paragraph, std::size_t width = 96) {
    std::string text, line;
    for (std::size_t from = 0; from < paragraph.size();) {
        const std::size_t end = std::min(paragraph.find(' ', from), paragraph.size());
        const std::string word = paragraph.substr(from, end - from);
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            text += line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        from = end + 1;
    }
    return text + line + "\n";
}

// The option's lines of --help: its names in a column of 20, its help beside and under them.
std::string OptionHelp(const TOption& option) {
    std::string names = "  ";
    if (option.shortName) names += std::string("-") + option.shortName + ", ";
    names += std::string("--") + option.name;
    if (option.argument) names += std::string(" ") + option.argument;
    if ((option.flags & kStream) && !option.argument) names += "[=FILE]";
    names.resize(std::max<std::size_t>(names.size(), 20), ' ');
    std::string help = names + " ";
    for (const char c : option.madeHelp ? option.madeHelp() : std::string(option.help))
        help += c == '\n' ? "\n" + std::string(21, ' ') : std::string(1, c);
    return help + "\n";
}

// --NAME=FILE of an output to standard output: the file kept, the option left as a switch.
QStringList TakeStreamFiles(const QStringList& arguments, TOptions& o) {
    QStringList rest;
    for (const QString& argument : arguments) {
        const qsizetype equals = argument.indexOf('=');
        const TOption* stream = nullptr;
        for (const TOption& option : kOptions)
            if ((option.flags & kStream) && !option.argument && equals > 2 &&
                argument.startsWith("--") && argument.mid(2, equals - 2) == option.name)
                stream = &option;
        if (!stream) {
            rest << argument;
            continue;
        }
        const std::string file = argument.mid(equals + 1).toStdString();
        if (file.empty())
            throw UsageError(std::string("--") + stream->name + "= needs a file name");
        o.streamFiles[stream->name] = file;
        rest << "--" + QString(stream->name);
    }
    return rest;
}

// At most one output may use standard output: two would run together there (a summary before
// JSON is no longer JSON).
void CheckStandardOutput(const TOptions& o) {
    if (o.streamFiles.count("predict-csv") && o.predictCsv.empty())
        throw UsageError("--predict-out names where --predict-csv writes, and there is none");
    std::vector<std::string> onStandardOutput;
    for (const TOption* option : o.outputs)
        if ((option->flags & kStream) && !o.streamFiles.count(option->name))
            onStandardOutput.push_back(std::string("--") + option->name);
    if (onStandardOutput.size() > 1)
        throw UsageError(onStandardOutput[0] + " and " + onStandardOutput[1] +
                         " would both write to standard output; name a file for one of them, "
                         "as " +
                         onStandardOutput[1] + "=FILE");
}

}  // namespace

TOptions ReadOptions(const QStringList& givenArguments) {
    TOptions o;
    const QStringList arguments = TakeStreamFiles(givenArguments, o);
    QCommandLineParser parser;
    parser.addPositionalArgument("FORMFILE", "form file");
    for (const TOption& option : kOptions) {
        QStringList names;
        if (option.shortName) names << QString(QChar(option.shortName));
        parser.addOption(
            QCommandLineOption(names << option.name, "", option.argument ? option.argument : ""));
    }
    if (!parser.parse(arguments)) throw UsageError(parser.errorText().toStdString());
    if (parser.isSet("help")) {
        o.help = true;
        return o;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1) throw UsageError("only one form file can be given");
    if (!positional.isEmpty()) o.formFile = positional[0].toStdString();
    if (parser.isSet("db") && parser.isSet("csv"))
        throw UsageError("give either --db or --csv, not both");
    o.commandLineDefinition = parser.isSet("db") || parser.isSet("csv");
    for (const TOption& option : kOptions) {
        if (!parser.isSet(option.name)) continue;
        const QStringList values = !option.argument ? QStringList{QString()}
                                   : (option.flags & kRepeats)
                                       ? parser.values(option.name)
                                       : QStringList{parser.value(option.name)};
        for (const QString& value : values) {
            if (option.argument && !(option.flags & kMayBeEmpty) && value.isEmpty())
                throw UsageError(std::string("--") + option.name + " needs a value");
            if (option.read) option.read(o, value.toStdString());
        }
        if (option.write) o.outputs.push_back(&option);
    }
    o.anyOutput = !o.outputs.empty();
    if (o.allRecords) CheckAllRecords(o);
    if (!o.anyOutput) o.outputs.push_back(&Option("text"));
    if (o.sumIn && !o.allRecords) throw UsageError("--sum-in is for --all-records");
    CheckStandardOutput(o);
    CheckDefinition(o);
    return o;
}

std::string HelpText() {
    std::string outputs;
    for (const TOption& option : kOptions)
        if (option.write) outputs += (outputs.empty() ? "--" : ", --") + std::string(option.name);
    std::string help =
        "Usage: tavreg [options] [FORMFILE]\n\n" +
        Wrapped(
            "Fits the multiple linear regressions of FORMFILE (every TTAVTable and TTAVQuery "
            "in it), or of the definition given with --db or --csv, --table or --sql, --y and "
            "--x, and shows each report window with its Plots button, as a host application "
            "would. With any output option (" +
            outputs +
            ") and without --show, or when no display can be opened, nothing is shown: the "
            "report goes where those options say (to standard output as text when none is "
            "given) and message boxes go to standard error. Without FORMFILE, --db and "
            "--csv, the bundled example form file is used.");
    help += "\nDefinition on the command line:\n";
    for (const TOption& option : kOptions)
        if (option.flags & kDefinition) help += OptionHelp(option);
    help +=
        "  Example: tavreg --db sales.db --table sales --y PROFIT --x 'Log(ADVERT)' --x "
        "'Product(PRICE,UNITS)'\n";
    help += "\nOutput:\n";
    for (const TOption& option : kOptions)
        if (!(option.flags & kDefinition)) help += OptionHelp(option);
    return help + R"(
At most one of --text, --summary, --json, --sql-expression and --predict-csv may write to
standard output; the others name a file, as --json=FILE (--predict-out FILE for the last).

Files are written only when the whole run succeeds (under temporary names until then), all
of them or none, and never over an input: the database, the CSV file or the form file (nor
to standard output when it is one). An output is a file: a device, a FIFO or a folder in its
place is refused, and a symbolic link is written through.

Exit status: 0 on success; 1 with one line on standard error naming the culprit when a
database, table, field, SQL statement or form file is wrong or a load has nothing usable;
2 for a wrong command line; 3 when the results were written but a fit is not valid (a
variable repeats or combines others, the normal equations are numerically singular, a sum
overflows, or no residual degrees of freedom are left).
)";
}

bool OnlyFileOutputs(int argc, char** argv) {
    bool outputs = false;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--show") == 0) return false;
        if (std::strcmp(a, "--all-records") == 0) outputs = true;
        for (const TOption& option : kOptions) {
            const std::size_t n = std::strlen(option.name);
            if (option.write && std::strncmp(a, "--", 2) == 0 &&
                std::strncmp(a + 2, option.name, n) == 0 && (a[2 + n] == '\0' || a[2 + n] == '='))
                outputs = true;
        }
    }
    return outputs;
}

void SetDatabaseBounds(const TOptions& o) {
    // A bound over every statement, those a form file runs while it is read included.
    if (o.timeout && *o.timeout > 0) tav::SetStatementTimeoutCap(*o.timeout);
    // Set before anything opens a database, the CSV file's table in memory included.
    tav::SetSqliteHeapLimit(o.memoryLimit);
}

void DeclareOutputs(const TOptions& o, const TRegressionComponents& regressions,
                    tav::TOutputFiles& files) {
    files.CheckStream(STDOUT_FILENO, "standard output");
    for (const TOption* option : o.outputs)
        if (option->declare) option->declare(o, regressions, files);
    for (const auto& [name, file] : o.streamFiles)
        files.Declare(QString::fromStdString(file), "--" + name);
}

void WriteStreamFiles(const TOptions& o, const QJsonArray& json,
                      std::map<std::string, std::string>& streamText, std::string& out,
                      tav::TOutputFiles& files) {
    if (o.json) {
        QJsonObject document;
        document["regressions"] = json;
        (o.streamFiles.count("json") ? streamText["json"] : out) +=
            QJsonDocument(document).toJson(QJsonDocument::Indented).toStdString();
    }
    for (const auto& [name, file] : o.streamFiles)
        files.Write(QString::fromStdString(file), "--" + name,
                    QByteArray::fromStdString(streamText[name]));
}

void WriteOutputs(const TRegressionOutputs& outputs, TStage stage) {
    for (const TOption* option : outputs.options.outputs) {
        if ((option->flags & kPage ? TStage::Pages : TStage::Results) != stage) continue;
        if (!outputs.options.streamFiles.count(option->name)) {
            option->write(outputs);
            continue;
        }
        const TRegressionOutputs toFile{outputs.options,
                                        outputs.dataset,
                                        outputs.regression,
                                        outputs.prediction,
                                        outputs.several,
                                        outputs.files,
                                        outputs.streamText[option->name],
                                        outputs.json,
                                        outputs.streamText};
        option->write(toFile);
    }
}

QString FilePrefix(const tav::TDataSet& dataset, bool several) {
    return several ? QString::fromStdString(dataset.Name()) + "-" : QString();
}

}  // namespace tavreg

// tavreg: fits the regressions of a form file (or of a definition given on the command line) and
// shows their reports, as a host application would; without a display, or when only files are
// asked for, it writes the report as text, PDF, plot images or JSON.
#include <tav/tav.h>
#include <unistd.h>

#include <QApplication>
#include <QBuffer>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>

#include "engine/tavclasses.h"
#include "forms/diagplots.h"
#include "forms/tavoutpt.h"
#include "forms/tavplot.h"
#include "host/csvtable.h"
#include "host/dbconnection.h"
#include "host/formfile.h"
#include "host/outputfiles.h"
#include "host/printing.h"
#include "outputs.h"
#include "report.h"
#include "summary.h"
#include "terms.h"

namespace {

using tavreg::UsageError;

const std::string kHelp = R"(Usage: tavreg [options] [FORMFILE]

Fits the multiple linear regressions of FORMFILE (every TTAVTable and TTAVQuery in it), or of
the definition given with --db or --csv, --table or --sql, --y and --x, and shows each report
window with its Plots button, as a host application would. With any output option (--text,
--pdf, --plots, --diagnostics, --json, --summary, --predict, --sql-expression) and without
--show, or when no display can be opened, nothing is shown: the report goes where those options
say (to standard output as text when none is given) and message boxes go to standard error.
Without FORMFILE, --db and --csv, the bundled example form file is used.

Definition on the command line:
  --db DATABASE      SQLite database file, or a PostgreSQL server as
                       postgresql://USER@HOST:PORT/DBNAME
                     (the password from PGPASSWORD or ~/.pgpass, never on the command line)
  --csv FILE         instead of --db: a CSV file, read into a table named after it
                     (sales.csv: table sales, the default of --table; --sql can name it).
                     First row the column names; separator ',' or ';' (whichever splits
                     the first row into more fields); quoted fields with "" for a quote; an empty cell or NA
                     is missing; with ';' a decimal comma (1,5) reads as a number. A column
                     is a number when every cell present is one, and text otherwise
  --table NAME       regress over a table ...
  --sql TEXT         ... or over the records of a query
  --y TERM           the response: )" +
                          tavreg::ResponseTermList() + R"(
  --x TERM           a control variable, up to ten times, in order:
)" + tavreg::ControlTermLines() +
                          R"(
                     A field name may hold blanks: --x 'Log(unit price)'.
  --description TEXT the free text shown in the report header
  --id FIELD         the field that names each record (the IdField property of a form file,
                     which it replaces): the diagnostic plots, the summary and the JSON's
                     "records" name records by it. A CSV file whose first column has no name
                     (R's row names, as write.csv writes them) names them by that column
                     without it; otherwise a record is named by its position in the result set
  --fit-method M     how the coefficients are fitted (the FitMethod property of a form file):
                       Auto             the normal equations, redone by QR decomposition when
                                        their estimated accuracy is under 10 digits (default)
                       NormalEquations  always the normal equations
                       QR               always a column-pivoted QR decomposition in extended
                                        precision, which also names a variable that repeats
                                        or combines others
  --timeout SECONDS  interrupt a statement (the query, or the count of its records) that runs
                     longer than this, counted from its start; 0 for no bound (default;
                     replaces the QueryTimeout property of a form file, and bounds the
                     statements a form file runs as it is read, whatever it says)
  --memory-limit MIB the most memory SQLite may use for a database, a query and a CSV file's
                     table together (default 1024); past it the statement ends with "out of
                     memory"
  Example: tavreg --db sales.db --table sales --y PROFIT --x 'Log(ADVERT)' --x 'Product(PRICE,UNITS)'

Output:
  --text             write each report page as plain text to standard output
  --pdf FILE         print each report page to the PDF file FILE; with several regressions,
                     to BASE-Component.pdf beside it, one file per component
  --plots DIR        write one PNG per plot kind (and per control variable for the scatter and
                     residual plots) into the folder DIR
  --diagnostics DIR  write the four diagnostic plots of each fit into the folder DIR, each as
                     PNG and SVG: residuals-fitted (residuals against fitted values, with a
                     smooth), normal-qq (standardized residuals against normal quantiles),
                     scale-location (square root of their size against fitted values) and
                     residuals-leverage (with Cook's distance 0.5 and 1); the three most
                     extreme records are labelled by their name (see --id). With
                     several regressions the names begin with the component's name and '-'
  --json             write every statistic of every fit as one JSON document to standard
                     output: {"regressions": [...]}; a number that is not finite is null
  --summary          write a summary of each fit as text to standard output: the terms by
                     name with estimates, standard errors, t, p-values and confidence
                     intervals, residual quantiles, R squared and adjusted, the F test, the
                     records used and skipped, the fit path, variance inflation and
                     Durbin-Watson
  --predict VALUES   predict the response at new values of the control variables' fields,
                     given as 'FIELD=NUMBER,FIELD=NUMBER' (transformed as the variables say),
                     with its confidence and prediction intervals (in the JSON with --json)
  --level L          the confidence level of every interval (default 0.95; 0.99 or 99%)
  --sql-expression   write the fitted equation as a SQL expression over the fields (SQLite,
                     or PostgreSQL for a postgresql:// database): the database can then score
                     its own records; NULL where a variable has no value
  --show             show the windows even with output options
  --quiet            no line on standard error about the records each load used and skipped
  -h, --help         this text

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

struct Options {
    std::string formFile;
    bool commandLineDefinition = false;
    std::string db, csv, table, sql, description, y, fitMethod, id;
    std::optional<int> timeout;
    // Inference: the confidence level, the summary, a prediction, the scoring expression.
    double level = tav::kDefaultConfidenceLevel;
    bool summary = false, sqlExpression = false;
    std::optional<std::vector<tavreg::TFieldValue>> predict;
    std::vector<std::string> x;
    bool text = false, json = false, show = false, quiet = false;
    std::string pdf, plots;
    std::string diagnostics;  // the folder of the diagnostic plots

    // Whether anything is asked for besides the windows; without it the report is the text.
    bool AnyOutput() const {
        return text || json || summary || sqlExpression || predict || !pdf.empty() ||
               !plots.empty() || !diagnostics.empty();
    }
};

// -------------------------------------------------------------------- plots

void SavePlots(tav::TTAVPlotForm& form, const QString& dir, const QString& prefix, int m,
               tav::TOutputFiles& files) {
    files.MakeFolder(dir, "--plots");
    auto save = [&](const QString& name) {
        const QString path = QDir(dir).filePath(prefix + name + ".png");
        QByteArray png;
        QBuffer buffer(&png);
        if (!buffer.open(QIODevice::WriteOnly) || !form.grab().save(&buffer, "PNG"))
            throw tav::Exception("Cannot make the picture '" + path.toStdString() + "'");
        files.Write(path, "--plots", png);
    };
    for (int k = 1; k <= m; ++k) {
        form.ScatterItemClick(k);
        save(QString("scatter-X%1").arg(k));
        form.ResidualItemClick(k);
        save(QString("residual-X%1").arg(k));
    }
    form.ResidualvsInputBtnClick();
    save("residual-input-order");
    form.ResidualvsDepVarBtnClick();
    save("residual-response");
    form.ResidualvsFittedBtnClick();
    save("residual-fitted");
    form.ECDFPlotBtnClick();
    save("ecdf");
}

// The diagnostic plots of a fit, each as PNG and SVG, in the folder `dir`.
QString DiagnosticPath(const QString& dir, const QString& prefix, tav::TDiagnosticPlot kind,
                       const QString& extension) {
    return QDir(dir).filePath(prefix + tav::DiagnosticPlotFileName(kind) + "." + extension);
}

void SaveDiagnostics(const tav::TTAVRegression& reg, const QString& dir, const QString& prefix,
                     tav::TOutputFiles& files) {
    files.MakeFolder(dir, "--diagnostics");
    for (const tav::TDiagnosticPlot kind : tav::kDiagnosticPlots) {
        for (const QString extension : {"png", "svg"}) {
            const QString path = DiagnosticPath(dir, prefix, kind, extension);
            const QByteArray bytes =
                extension == "png" ? tav::DiagnosticPng(reg, kind) : tav::DiagnosticSvg(reg, kind);
            if (bytes.isEmpty())
                throw tav::Exception("Cannot make the picture '" + path.toStdString() + "'");
            files.Write(path, "--diagnostics", bytes);
        }
    }
}

QString PdfName(const std::string& file, const std::string& name, bool several) {
    const QString f = QString::fromStdString(file);
    if (!several) return f;
    const QFileInfo info(f);
    const QString suffix = info.suffix().isEmpty() ? QString("pdf") : info.suffix();
    return info.dir().filePath(info.completeBaseName() + "-" + QString::fromStdString(name) + "." +
                               suffix);
}

// -------------------------------------------------------------------- main road

struct Run {
    const Options& options;
    bool headless;
    bool several;
    tav::TOutputFiles& files;
    std::string& out;  // standard output, written when the whole run has succeeded
    QJsonArray& json;
    // The fields each regression's prediction read (--predict with several regressions).
    std::vector<std::vector<std::string>>& predictionFields;
};

// Writes the outputs of one regression; false when its fit is not valid (the outputs are written
// all the same, and say so).
bool Report(tav::TDataSet& ds, tav::TTAVRegression& reg, const Run& run) {
    if (!ds.Active()) ds.Open();
    reg.ReLoad();
    const std::string summary = reg.LoadSummary();
    if (!reg.ValuesLoaded()) throw tav::Exception("nothing usable was loaded (" + summary + ")");
    if (!run.options.quiet)
        std::cerr << tavreg::OneLine("tavreg: " + ds.Name() + ": " + summary) << "\n";
    if (reg.DataCount() < reg.VarCount() + 1)
        throw tav::Exception("too few usable records (" + std::to_string(reg.DataCount()) +
                             ") for " + std::to_string(reg.VarCount() + 1) + " terms");
    reg.Execute();
    const bool valid = reg.GetFitProblem() == tav::TFitProblem::None;
    const Options& o = run.options;
    std::optional<tavreg::TPrediction> prediction;
    if (o.predict) {
        prediction = tavreg::Prediction(reg, *o.predict, o.level, !run.several);
        run.predictionFields.push_back(prediction->fields);
    }
    if (o.json) {
        QJsonObject statistics = tavreg::Statistics(ds.Name(), reg, o.level);
        if (prediction) statistics["prediction"] = tavreg::PredictionJson(*prediction);
        run.json.append(statistics);
    }
    if (o.summary)
        run.out += tavreg::Printable(tavreg::SummaryText(ds.Name(), reg, o.level)) + "\n";
    if (prediction && !o.json)
        run.out += tavreg::Printable(tavreg::PredictionText(ds.Name(), reg, *prediction));
    if (o.sqlExpression) {
        // Connection URLs name PostgreSQL servers; any other database gets SQLite's dialect.
        const bool postgres = tav::IsConnectionUrl(ds.DatabaseName());
        // Field names are the data's: what they hold is shown, never sent to the terminal.
        run.out += tavreg::Printable(reg.ScoringSQL(postgres ? tav::TSqlDialect::PostgreSQL
                                                             : tav::TSqlDialect::SQLite)) +
                   "\n";
    }
    if (!run.options.diagnostics.empty())
        SaveDiagnostics(reg, QString::fromStdString(run.options.diagnostics),
                        run.several ? QString::fromStdString(ds.Name()) + "-" : QString(),
                        run.files);
    if (!run.headless) {
        reg.Output();
        return valid;
    }
    const bool text = run.options.text || !run.options.AnyOutput();
    if (text) {
        const tav::TReportPage page =
            tav::MakeReportPage(reg.BuildReport(), tav::ReportDataSetName(reg), reg.Description(),
                                tav::DateTimeToStr(tav::Now()), reg.ReportMessage());
        run.out += tavreg::Printable(tav::ReportPageText(page));
    }
    if (run.options.pdf.empty() && run.options.plots.empty()) return valid;

    // The windows, for what only they make: the printed page and the plot pictures.
    std::optional<std::string> failure;
    bool usageFailure = false;
    const auto previous = tav::SetModalHook([&](QDialog* dialog) {
        // The hook runs inside the window's show: what goes wrong there is carried out of it.
        try {
            if (auto* plot = dynamic_cast<tav::TTAVPlotForm*>(dialog)) {
                SavePlots(*plot, QString::fromStdString(run.options.plots),
                          run.several ? QString::fromStdString(ds.Name()) + "-" : QString(),
                          reg.VarCount(), run.files);
                return;
            }
            if (auto* form = dynamic_cast<tav::TRegressionOutputForm*>(dialog)) {
                const QString pdf = PdfName(run.options.pdf, ds.Name(), run.several);
                run.files.MakeFolder(QFileInfo(pdf).absolutePath(), "--pdf");
                tav::SetPrinterOutput([&files = run.files, pdf](const QByteArray& bytes) {
                    files.Write(pdf, "--pdf", bytes);
                });
                form->Print1Click();
            }
        } catch (const UsageError& e) {
            failure = e.what();
            usageFailure = true;
        } catch (const tav::EOutputRefused& e) {
            failure = e.Message();
            usageFailure = true;
        } catch (const std::exception& e) {
            failure = tav::ErrorMessage(e);
        }
    });
    struct TRestoreHook {
        tav::TModalHook previous;
        ~TRestoreHook() {
            tav::SetModalHook(previous);
            tav::SetPrinterOutput(nullptr);
        }
    } restore{previous};
    if (!run.options.pdf.empty()) reg.Output();
    if (!failure && !run.options.plots.empty()) reg.ShowPlots();
    if (failure && usageFailure) throw UsageError(*failure);
    if (failure) throw tav::Exception(*failure);
    return valid;
}

// The value of an option that must not be empty when it is given.
std::string Value(const QCommandLineParser& parser, const QCommandLineOption& option) {
    const std::string value = parser.value(option).toStdString();
    if (parser.isSet(option) && value.empty())
        throw UsageError("--" + option.names().first().toStdString() + " needs a value");
    return value;
}

int Main(QApplication& app, bool fellBackToOffscreen) {
    QCommandLineParser parser;
    parser.addPositionalArgument("FORMFILE", "form file");
    const QCommandLineOption db("db", "", "PATH"), csv("csv", "", "FILE"),
        table("table", "", "NAME"), sql("sql", "", "TEXT"), y("y", "", "TERM"), x("x", "", "TERM"),
        description("description", "", "TEXT"), fitMethod("fit-method", "", "M"),
        timeout("timeout", "", "SECONDS"), memoryLimit("memory-limit", "", "MIB"), text("text", ""),
        pdf("pdf", "", "FILE"), plots("plots", "", "DIR"), json("json", ""), show("show", ""),
        quiet("quiet", ""), help({"h", "help"}, ""), level("level", "", "L"),
        summary("summary", ""), predict("predict", "", "VALUES"),
        sqlExpression("sql-expression", ""), diagnostics("diagnostics", "", "DIR"),
        id("id", "", "FIELD");
    parser.addOptions({db,          csv,       table,         sql,         y,    x,
                       description, fitMethod, timeout,       text,        pdf,  plots,
                       memoryLimit, json,      show,          quiet,       help, level,
                       summary,     predict,   sqlExpression, diagnostics, id});
    if (!parser.parse(app.arguments())) throw UsageError(parser.errorText().toStdString());
    if (parser.isSet(help)) {
        tavreg::WriteStandardOutput(kHelp);
        return 0;
    }
    Options o;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1) throw UsageError("only one form file can be given");
    if (!positional.isEmpty()) o.formFile = positional[0].toStdString();
    if (parser.isSet(db) && parser.isSet(csv))
        throw UsageError("give either --db or --csv, not both");
    o.commandLineDefinition = parser.isSet(db) || parser.isSet(csv);
    o.db = Value(parser, db);
    o.csv = Value(parser, csv);
    o.table = Value(parser, table);
    o.sql = Value(parser, sql);
    o.y = Value(parser, y);
    for (const QString& v : parser.values(x)) {
        if (v.isEmpty()) throw UsageError("--x needs a value");
        o.x.push_back(v.toStdString());
    }
    o.description = parser.value(description).toStdString();
    o.fitMethod = Value(parser, fitMethod);
    o.id = Value(parser, id);
    std::optional<tav::TFitMethod> method;
    if (parser.isSet(fitMethod)) {
        try {
            method = tav::StrToFitMethod(o.fitMethod);
        } catch (const tav::EConvertError& e) {
            throw UsageError("--fit-method: " + e.Message());
        }
    }
    if (parser.isSet(timeout)) {
        const std::string value = Value(parser, timeout);
        bool ok = false;
        const int seconds = QString::fromStdString(value).toInt(&ok);
        if (!ok || seconds < 0 || seconds > tav::TDataSet::kMaxQueryTimeout)
            throw UsageError("--timeout: '" + value + "' is not a number of seconds from 0 to " +
                             std::to_string(tav::TDataSet::kMaxQueryTimeout));
        o.timeout = seconds;
        // A bound over every statement, those a form file runs while it is read included.
        if (seconds > 0) tav::SetStatementTimeoutCap(seconds);
    }
    // Set before anything opens a database, the CSV file's table in memory included.
    int64_t heapLimit = tav::kDefaultSqliteHeapLimit;
    if (parser.isSet(memoryLimit)) {
        const std::string value = Value(parser, memoryLimit);
        bool ok = false;
        const int mib = QString::fromStdString(value).toInt(&ok);
        if (!ok || mib < 16 || mib > 1024 * 1024)
            throw UsageError("--memory-limit: '" + value +
                             "' is not a number of MiB from 16 to 1048576");
        heapLimit = int64_t{mib} * 1024 * 1024;
    }
    tav::SetSqliteHeapLimit(heapLimit);
    if (parser.isSet(level)) o.level = tavreg::ParseLevel(Value(parser, level));
    if (parser.isSet(predict)) o.predict = tavreg::ParseFieldValues(Value(parser, predict));
    o.summary = parser.isSet(summary);
    o.sqlExpression = parser.isSet(sqlExpression);
    o.text = parser.isSet(text);
    o.json = parser.isSet(json);
    o.show = parser.isSet(show);
    o.quiet = parser.isSet(quiet);
    o.pdf = Value(parser, pdf);
    o.plots = Value(parser, plots);
    o.diagnostics = Value(parser, diagnostics);

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
    // Every term is checked before anything is opened.
    std::vector<tav::TIndepVar> controls;
    for (const auto& term : o.x) controls.push_back(tavreg::ControlTerm(term));
    const std::optional<tav::TDependentVar> response =
        o.commandLineDefinition ? std::optional(tavreg::ResponseTerm(o.y)) : std::nullopt;
    if (!o.commandLineDefinition && o.formFile.empty()) o.formFile = TAV_EXAMPLE_FORM;

    const bool outputs = o.AnyOutput();
    const bool display = QGuiApplication::platformName() != "offscreen" &&
                         QGuiApplication::platformName() != "minimal";
    const bool headless = !display || (outputs && !o.show);
    if (headless) {
        tav::SetMessageDlgHook(
            [](const std::string& msg, tav::TMsgDlgType type, tav::TMsgDlgButtons) {
                std::cerr << tavreg::OneLine("tavreg: " + tav::MsgDlgCaption(type) + ": " + msg)
                          << "\n";
                return static_cast<uint16_t>(tav::mrOk);
            });
    }
    if (fellBackToOffscreen && !outputs)
        std::cerr << "tavreg: no display could be opened; the report is written as text\n";

    tav::TOutputFiles files;
    std::vector<std::pair<tav::TDataSet*, tav::TTAVRegression*>> regressions;
    tav::TFormContents form;
    std::unique_ptr<tav::TComponent> own;
    if (o.commandLineDefinition) {
        // A CSV file is read below into a database in memory, named as the file.
        if (!o.csv.empty()) o.db = o.csv;
        if (!o.csv.empty() && o.table.empty() && o.sql.empty()) o.table = tav::CsvTableName(o.csv);
        auto add = [&](auto* c) {
            c->SetName("Regression");
            c->SetDatabaseName(o.db);
            c->SetDescription(o.description);
            for (std::size_t k = 0; k < controls.size(); ++k)
                c->SetControl(static_cast<int>(k) + 1, controls[k]);
            c->SetResponse(*response);
            regressions.emplace_back(c, c);
        };
        if (!o.table.empty()) {
            auto t = std::make_unique<tav::TTAVTable>();
            t->SetTableName(o.table);
            auto* raw = t.get();
            own = std::move(t);
            add(raw);
        } else {
            auto q = std::make_unique<tav::TTAVQuery>();
            q->SetSQLText(o.sql);
            auto* raw = q.get();
            own = std::move(q);
            add(raw);
        }
        files.AddInput(QString::fromStdString(o.db),
                       o.csv.empty() ? "the database" : "the CSV file");
    } else {
        const QString path = QString::fromStdString(o.formFile);
        files.AddInput(path, "the form file");
        files.CheckStream(STDOUT_FILENO, "standard output");
        const QString folder = QFileInfo(path).absolutePath();
        // The databases are inputs too: found before any of them is opened.
        try {
            form = tav::ReadForm(tav::TAVClassRegistry(), tav::ReadTextFile(o.formFile),
                                 [&](tav::TComponent& c) {
                                     auto& ds = dynamic_cast<tav::TDataSet&>(c);
                                     ds.SetBaseDirectory(folder.toStdString());
                                     // Also bounds a dataset the file opens, unless the file
                                     // gives its own bound.
                                     if (o.timeout) ds.SetQueryTimeout(*o.timeout);
                                 });
        } catch (const tav::Exception& e) {
            throw tav::Exception(o.formFile + ": " + e.Message());
        }
        for (tav::TComponent* c : form.components) {
            auto* ds = dynamic_cast<tav::TDataSet*>(c);
            const QString name = QString::fromStdString(ds->DatabaseName());
            files.AddInput(QDir(folder).filePath(name), "the database of " + c->Name());
            if (auto* t = dynamic_cast<tav::TTAVTable*>(c)) regressions.emplace_back(t, t);
            if (auto* q = dynamic_cast<tav::TTAVQuery*>(c)) regressions.emplace_back(q, q);
        }
        if (regressions.empty())
            throw tav::Exception(o.formFile + ": no regression component in it");
    }
    for (auto& [ds, reg] : regressions) {
        if (method) reg->SetFitMethod(*method);
        if (!o.id.empty()) reg->SetIdField(o.id);
        if (o.timeout) ds->SetQueryTimeout(*o.timeout);
    }
    const bool several = regressions.size() > 1;
    // Outputs onto inputs, onto what is not a file, or named twice are refused before anything
    // runs; so is standard output that is an input.
    files.CheckStream(STDOUT_FILENO, "standard output");
    if (!o.pdf.empty())
        for (auto& [ds, reg] : regressions)
            files.Declare(PdfName(o.pdf, ds->Name(), several), "--pdf");
    if (!o.plots.empty()) {
        // The pictures of each control variable are known once the variables are loaded.
        const QString dir = QString::fromStdString(o.plots);
        files.CheckFolder(dir, "--plots");
        for (auto& [ds, reg] : regressions) {
            const QString prefix = several ? QString::fromStdString(ds->Name()) + "-" : QString();
            for (const char* name :
                 {"residual-input-order", "residual-response", "residual-fitted", "ecdf"})
                files.Declare(QDir(dir).filePath(prefix + name + ".png"), "--plots");
        }
    }
    if (!o.diagnostics.empty()) {
        const QString dir = QString::fromStdString(o.diagnostics);
        files.CheckFolder(dir, "--diagnostics");
        for (auto& [ds, reg] : regressions) {
            const QString prefix = several ? QString::fromStdString(ds->Name()) + "-" : QString();
            for (const tav::TDiagnosticPlot kind : tav::kDiagnosticPlots)
                for (const QString extension : {"png", "svg"})
                    files.Declare(DiagnosticPath(dir, prefix, kind, extension), "--diagnostics");
        }
    }
    if (!o.csv.empty()) {
        const tav::TCsvImport imported = tav::ImportCsvFile(o.csv, o.csv, o.timeout.value_or(0));
        // R's row names name the records unless --id names another field.
        if (o.id.empty() && !imported.rowNames.empty())
            for (auto& [ds, reg] : regressions) reg->SetIdField(imported.rowNames);
        if (!o.quiet)
            std::cerr << tavreg::OneLine("tavreg: " + tav::CsvImportSummary(o.csv, imported))
                      << "\n";
    }

    std::string out;
    QJsonArray statistics;
    std::vector<std::vector<std::string>> predictionFields;
    const Run run{o, headless, several, files, out, statistics, predictionFields};
    bool allValid = true;
    for (auto& [ds, reg] : regressions) {
        try {
            allValid = Report(*ds, *reg, run) && allValid;
        } catch (const UsageError&) {
            throw;
        } catch (const tav::EOutputRefused&) {
            throw;
        } catch (const std::exception& e) {
            // Name the component once: the dataset's own errors may name it already.
            const std::string message = tav::ErrorMessage(e);
            const std::string prefix = ds->Name() + ": ";
            throw tav::Exception(message.rfind(prefix, 0) == 0 ? message : prefix + message);
        }
    }
    if (o.predict) tavreg::CheckPredictionFields(predictionFields, *o.predict);
    if (o.json) {
        QJsonObject document;
        document["regressions"] = statistics;
        out += QJsonDocument(document).toJson(QJsonDocument::Indented).toStdString();
    }
    // Standard output first: when it cannot be written, the files are not either.
    tavreg::WriteStandardOutput(out);
    files.Commit();
    return allValid ? 0 : 3;
}

// Whether the command line asks only for files (and standard output), which never need a
// display. Read before the application exists, since that is when the platform is chosen.
bool OnlyFileOutputs(int argc, char** argv) {
    bool outputs = false;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--show") == 0) return false;
        for (const char* option : {"--text", "--json", "--pdf", "--plots", "--summary", "--predict",
                                   "--sql-expression", "--diagnostics"})
            if (std::strncmp(a, option, std::strlen(option)) == 0 &&
                (a[std::strlen(option)] == '\0' || a[std::strlen(option)] == '='))
                outputs = true;
    }
    return outputs;
}

// Messages of Qt, of the drivers and of a database server reach standard error one line each,
// escaped as every other line tavreg writes (a server's notice may hold any character), and a
// server that keeps talking is cut short after kMaxNotices lines. Qt's complaints about a display
// it could not open are left out: tavreg says what it does instead.
constexpr int kMaxNotices = 20;

void QuietPlatformMessages(QtMsgType type, const QMessageLogContext& context, const QString& msg) {
    if (context.category && std::strncmp(context.category, "qt.qpa", 6) == 0) return;
    if (type == QtFatalMsg) std::abort();
    if (context.category && std::strcmp(context.category, "tav.sql") == 0) {
        static int notices = 0;
        if (++notices > kMaxNotices) {
            if (notices == kMaxNotices + 1)
                std::cerr << "tavreg: further notices of the database are not shown\n";
            return;
        }
    }
    std::cerr << tavreg::OneLine(msg.toStdString()) << "\n";
}

// Exit status 2, with one line.
int WrongCommandLine(const std::string& message) {
    std::cerr << tavreg::OneLine("tavreg: " + message) << " (see tavreg --help)\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    tavreg::KeepStandardStreams();
    // Files never need a display; with one asked for but not to be had, fall back to writing.
    if (OnlyFileOutputs(argc, argv) ||
        (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
         qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    else if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
                                       ? "xcb;offscreen"
                                       : "wayland;xcb;offscreen");
    const bool wantedDisplay = qgetenv("QT_QPA_PLATFORM").contains(";");
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QString runtime =
            QDir::temp().filePath("tavreg-runtime-" + QString::number(getuid()));
        QDir().mkpath(runtime);
        QFile::setPermissions(
            runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
    }
    qInstallMessageHandler(QuietPlatformMessages);
    QApplication app(argc, argv);
    QApplication::setApplicationName("tavreg");
    const bool fellBack = wantedDisplay && QGuiApplication::platformName() == "offscreen";
    try {
        return Main(app, fellBack);
    } catch (const UsageError& e) {
        return WrongCommandLine(e.what());
    } catch (const tav::EOutputRefused& e) {
        // An output that may not be written is a wrong command line too.
        return WrongCommandLine(e.Message());
    } catch (const std::exception& e) {
        std::cerr << tavreg::OneLine("tavreg: " + tav::ErrorMessage(e)) << "\n";
        return 1;
    }
}

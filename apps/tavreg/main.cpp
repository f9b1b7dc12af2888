// tavreg: fits the regressions of a form file (or of a definition given on the command line) and
// shows their reports, as a host application would; without a display it writes the report as
// text, PDF, plot images or JSON.
#include <tav/tav.h>
#include <unistd.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPlainTextEdit>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>

#include "engine/tavclasses.h"
#include "forms/tavoutpt.h"
#include "forms/tavplot.h"
#include "host/formfile.h"
#include "host/printing.h"

namespace {

const char* kHelp = R"(Usage: tavreg [options] [FORMFILE]

Fits the multiple linear regressions of FORMFILE (every TTAVTable and TTAVQuery in it), or of
the definition given with --db, --table or --sql, --y and --x, and shows each report window
with its Plots button, as a host application would. Without a display, or with any of
--text, --pdf, --plots or --json, nothing is shown: the report goes where those options say
and message boxes go to standard error. Without FORMFILE and without --db, the bundled
example form file is used.

Definition on the command line:
  --db PATH          SQLite database file (or the name of a configured Qt Sql connection)
  --table NAME       regress over a table ...
  --sql TEXT         ... or over the records of a query
  --y TERM           the response: FIELD, Log(FIELD), Inverse(FIELD) or Scale(FIELD,FACTOR)
  --x TERM           a control variable, up to ten times, in order:
                       FIELD            the field as it is
                       Log(FIELD)       natural logarithm (records with FIELD <= 1E-20 skipped)
                       Inverse(FIELD)   1 / FIELD
                       Sqrt(FIELD)      square root
                       Power(FIELD,N)   FIELD to the power N (N >= 0.5)
                       Scale(FIELD,S)   FIELD / S
                       Product(F1,F2)   F1 * F2
                       Quotient(F1,F2)  F1 / F2
  --description TEXT the free text shown in the report header
  --fit-method M     how the coefficients are fitted (the FitMethod property of a form file):
                       Auto             the normal equations, redone by QR decomposition when
                                        their estimated accuracy is under 7 digits (default)
                       NormalEquations  always the normal equations
                       QR               always a column-pivoted QR decomposition in extended
                                        precision, which also names a variable that repeats
                                        or combines others
  Example: tavreg --db sales.db --table sales --y PROFIT --x 'Log(ADVERT)' --x 'Product(PRICE,UNITS)'

Output:
  --text             write each report page as plain text to standard output
  --pdf FILE         print each report page to the PDF file FILE (with several regressions,
                     the component's name is added before the extension)
  --plots DIR        write one PNG per plot kind (and per control variable for the scatter and
                     residual plots) into the folder DIR
  --json             write every statistic of each fit as JSON to standard output
  --show             show the windows even with output options
  -h, --help         this text

Exit status: 0 on success; 1 with one line on standard error naming the culprit when a
database, table, field, SQL statement or form file is wrong or a load has nothing usable;
2 for a wrong command line; 3 when the results were written but a fit is not valid (a
variable repeats or combines others, the normal equations are numerically singular, a sum
overflows, or no residual degrees of freedom are left).
)";

struct Options {
    std::string formFile;
    std::string db, table, sql, description, y, fitMethod;
    std::vector<std::string> x;
    bool text = false, json = false, show = false;
    std::string pdf, plots;
};

class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// "Name(a,b)" -> {"Name", {"a", "b"}}; a bare "FIELD" -> {"", {"FIELD"}}.
std::pair<std::string, std::vector<std::string>> SplitTerm(const std::string& term) {
    const auto open = term.find('(');
    if (open == std::string::npos) return {"", {term}};
    if (term.back() != ')') throw UsageError("'" + term + "': a closing parenthesis is missing");
    std::vector<std::string> args;
    std::string current;
    for (char c : term.substr(open + 1, term.size() - open - 2)) {
        if (c == ',') {
            args.push_back(current);
            current.clear();
        } else if (c != ' ') {
            current += c;
        }
    }
    args.push_back(current);
    return {term.substr(0, open), args};
}

tav::TIndepVar ControlTerm(const std::string& term) {
    const auto [fn, args] = SplitTerm(term);
    tav::TIndepVar v;
    auto need = [&](std::size_t n) {
        if (args.size() != n || args[0].empty())
            throw UsageError("'" + term + "': " + (fn.empty() ? "a field" : fn) + " takes " +
                             std::to_string(n) + (n == 1 ? " argument" : " arguments"));
    };
    if (fn.empty()) {
        v.SetTransformation("None");
    } else if (fn == "Log" || fn == "Inverse" || fn == "Sqrt") {
        need(1);
        v.SetTransformation(fn);
    } else if (fn == "Power") {
        need(2);
        v.SetTransformation("Power");
        v.SetExponent(args[1]);
    } else if (fn == "Scale") {
        need(2);
        v.SetTransformation("Scale");
        v.SetScaleFactor(args[1]);
    } else if (fn == "Product" || fn == "Quotient") {
        need(2);
        v.SetTransformation(fn);
        v.SetField2(args[1]);
    } else {
        throw UsageError("'" + term + "': unknown transformation " + fn);
    }
    v.SetField1(args[0]);
    return v;
}

tav::TDependentVar ResponseTerm(const std::string& term) {
    const auto [fn, args] = SplitTerm(term);
    tav::TDependentVar r;
    if (fn.empty() || fn == "Log" || fn == "Inverse") {
        if (args.size() != 1 || args[0].empty())
            throw UsageError("'" + term + "': one field expected");
        r.SetTransformation(fn.empty() ? "None" : fn);
    } else if (fn == "Scale") {
        if (args.size() != 2) throw UsageError("'" + term + "': Scale takes 2 arguments");
        r.SetTransformation("Scale");
        r.SetScaleFactor(args[1]);
    } else {
        throw UsageError("'" + term + "': the response takes FIELD, Log, Inverse or Scale");
    }
    r.SetField(args[0]);
    return r;
}

// -------------------------------------------------------------------- text report

QStringList Lines(const QString& text) { return text.split('\n'); }

// Columns of multi-line label texts side by side.
QString SideBySide(const std::vector<QString>& columns, const std::vector<int>& widths) {
    std::vector<QStringList> lines;
    int rows = 0;
    for (const auto& c : columns) {
        lines.push_back(Lines(c));
        rows = std::max(rows, static_cast<int>(lines.back().size()));
    }
    QString out;
    for (int r = 0; r < rows; ++r) {
        QString row;
        for (std::size_t c = 0; c < lines.size(); ++c) {
            const QString cell = r < lines[c].size() ? lines[c][r] : QString();
            row += c + 1 < lines.size() ? cell.leftJustified(widths[c]) : cell;
        }
        while (row.endsWith(' ')) row.chop(1);
        if (!row.trimmed().isEmpty()) out += row + "\n";
    }
    return out;
}

QString ReportText(tav::TRegressionOutputForm& form, const tav::TRegressionReport& report) {
    auto label = [&](const char* name) { return form.findChild<QLabel*>(name)->text(); };
    auto* header = form.findChild<tav::THeaderControl*>("Header1");
    QString out;
    out += "Multiple Regression Analysis Report\n";
    out += header->SectionText(0) + "   " + header->SectionText(1) + "   " +
           header->SectionText(2) + "\n\n";
    out += label("labDepVarName") + "\n";
    out += label("labIndepVarNames");
    out += label("labDataCount") + "\n";
    out += label("labDOF") + "\n\n";
    out += SideBySide({label("labMean"), label("labStdDev")}, {26, 20}) + "\n";
    out += SideBySide({label("labCoeffs"), label("labStdErrCoeff"), label("labtValue")},
                      {26, 22, 12}) +
           "\n";
    out += label("labSumSquare") + "\n";
    for (const char* name : {"labSSR", "labSSE", "labSST"}) out += "  " + label(name) + "\n";
    out += "s\u00b2" + label("labsSquared").mid(1) + "\n";
    out += "R\u00b2" + label("labRsqr").mid(1) + "\n";
    out += label("labFStat") + "\n\n";
    for (const auto* list : {&report.CovarianceLines, &report.CorrelationLines}) {
        for (const auto& line : list->Items()) out += QString::fromStdString(line) + "\n";
        out += "\n";
    }
    out += form.findChild<tav::TPanel*>("Panel2")->Caption() + "\n";
    return out;
}

// -------------------------------------------------------------------- JSON

QJsonArray Vector(int from, int to, const std::function<double(int)>& get) {
    QJsonArray a;
    for (int i = from; i <= to; ++i) {
        const double v = get(i);
        a.append(std::isfinite(v) ? QJsonValue(v)
                                  : QJsonValue(QString::fromStdString(tav::FloatToStr(v))));
    }
    return a;
}

QJsonValue Number(double v) {
    return std::isfinite(v) ? QJsonValue(v)
                            : QJsonValue(QString::fromStdString(tav::FloatToStr(v)));
}

QJsonObject Statistics(const std::string& name, tav::TTAVRegression& r) {
    const int n = r.DataCount();
    const int p = r.VarCount();
    QJsonObject o;
    o["component"] = QString::fromStdString(name);
    o["description"] = QString::fromStdString(r.Description());
    o["response"] = QString::fromStdString(r.ResponseVarY()->OutputTerm());
    QJsonArray terms;
    for (int k = 1; k <= p; ++k) terms.append(QString::fromStdString(r.GetcVar(k)->OutputTerm()));
    o["terms"] = terms;
    o["n"] = n;
    o["p"] = p;
    o["dof"] = r.GetDOF();
    o["b"] = Vector(0, p, [&](int j) { return r.Getb(j); });
    o["stdErrors"] = Vector(0, p, [&](int j) { return std::sqrt(r.GetCovar(j, j)); });
    o["tValues"] = Vector(0, p, [&](int j) { return r.Getb(j) / std::sqrt(r.GetCovar(j, j)); });
    o["xBar"] = Vector(1, p, [&](int j) { return r.GetxBar(j); });
    o["xStdDev"] = Vector(1, p, [&](int j) { return r.GetxStdErr(j); });
    o["xMin"] = Vector(1, p, [&](int j) { return r.GetxMin(j); });
    o["xMax"] = Vector(1, p, [&](int j) { return r.GetxMax(j); });
    o["yBar"] = Number(r.GetyBar());
    o["yStdDev"] = Number(r.GetyStdErr());
    o["yMin"] = Number(r.GetyMin());
    o["yMax"] = Number(r.GetyMax());
    o["SSE"] = Number(r.GetSSE());
    o["SSR"] = Number(r.GetSSR());
    o["SST"] = Number(r.GetSST());
    o["MSE"] = Number(r.GetMSE());
    o["RSquared"] = Number(r.GetRSquared());
    o["F"] = Number(r.GetF());
    o["Syx"] = Number(r.GetSyx());
    o["conditionEstimate"] = Number(r.GetConditionEstimate());
    o["fitMethod"] = tav::FitMethodToStr(r.FitMethod());
    o["fitPath"] = tav::FitPathToStr(r.GetFitPath());
    o["estimatedDigits"] = Number(r.GetEstimatedDigits());
    o["fitProblem"] = tav::FitProblemToStr(r.GetFitProblem());
    QJsonArray aliased;
    for (int k = 1; k <= p; ++k)
        if (r.GetAliased(static_cast<uint16_t>(k))) aliased.append(k);
    o["aliased"] = aliased;
    QJsonArray covar, corr;
    for (int i = 0; i <= p; ++i) {
        covar.append(Vector(0, p, [&](int j) { return r.GetCovar(i, j); }));
        corr.append(Vector(0, p, [&](int j) { return r.GetCorr(i, j); }));
    }
    o["covariance"] = covar;
    o["correlation"] = corr;
    o["y"] = Vector(1, n, [&](int i) { return r.Gety(i); });
    o["yHat"] = Vector(1, n, [&](int i) { return r.GetyHat(i); });
    o["residuals"] = Vector(1, n, [&](int i) { return r.Gete(i); });
    return o;
}

// -------------------------------------------------------------------- plots

void SavePlots(tav::TTAVPlotForm& form, const QString& dir, const QString& prefix, int m) {
    QDir().mkpath(dir);
    auto save = [&](const QString& name) {
        const QString path = QDir(dir).filePath(prefix + name + ".png");
        if (!form.grab().save(path)) throw tav::Exception("Cannot write " + path.toStdString());
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

QString WithName(const std::string& file, const std::string& name, bool several) {
    const QString f = QString::fromStdString(file);
    if (!several) return f;
    const QFileInfo info(f);
    return info.dir().filePath(info.completeBaseName() + "-" + QString::fromStdString(name) + "." +
                               info.suffix());
}

// -------------------------------------------------------------------- main road

struct Run {
    const Options& options;
    bool headless;
    bool several;
};

// Writes the outputs of one regression; false when its fit is not valid (the outputs are written
// all the same, and say so).
bool Report(tav::TDataSet& ds, tav::TTAVRegression& reg, const Run& run) {
    if (!ds.Active()) ds.Open();
    reg.ReLoad();
    if (!reg.ValuesLoaded())
        throw tav::Exception("nothing usable was loaded (" + std::to_string(reg.DataCount()) +
                             " usable records)");
    if (reg.DataCount() < reg.VarCount() + 1)
        throw tav::Exception("too few usable records (" + std::to_string(reg.DataCount()) +
                             ") for " + std::to_string(reg.VarCount() + 1) + " terms");
    reg.Execute();
    if (run.options.json) {
        std::cout << QJsonDocument(Statistics(ds.Name(), reg))
                         .toJson(QJsonDocument::Indented)
                         .toStdString();
    }
    const bool valid = reg.GetFitProblem() == tav::TFitProblem::None;
    if (!run.headless) {
        reg.Output();
        return valid;
    }
    const tav::TRegressionReport report = reg.BuildReport();
    std::string failure;
    const auto previous = tav::SetModalHook([&](QDialog* dialog) {
        try {
            if (auto* plot = dynamic_cast<tav::TTAVPlotForm*>(dialog)) {
                SavePlots(*plot, QString::fromStdString(run.options.plots),
                          run.several ? QString::fromStdString(ds.Name()) + "-" : QString(),
                          reg.VarCount());
                return;
            }
            auto* form = dynamic_cast<tav::TRegressionOutputForm*>(dialog);
            if (!form) return;
            if (run.options.text)
                std::cout << ReportText(*form, report).toStdString() << std::flush;
            if (!run.options.pdf.empty()) {
                tav::SetPrinterOutputFile(
                    WithName(run.options.pdf, ds.Name(), run.several).toStdString());
                form->Print1Click();
            }
            if (!run.options.plots.empty()) form->bbtnPlotsClick();
        } catch (const std::exception& e) {
            failure = e.what();
        }
    });
    try {
        reg.Output();
    } catch (...) {
        tav::SetModalHook(previous);
        throw;
    }
    tav::SetModalHook(previous);
    if (!failure.empty()) throw tav::Exception(failure);
    return valid;
}

int Main(QApplication& app) {
    QCommandLineParser parser;
    parser.addPositionalArgument("FORMFILE", "form file");
    const QCommandLineOption db("db", "", "PATH"), table("table", "", "NAME"),
        sql("sql", "", "TEXT"), y("y", "", "TERM"), x("x", "", "TERM"),
        description("description", "", "TEXT"), fitMethod("fit-method", "", "M"), text("text", ""),
        pdf("pdf", "", "FILE"), plots("plots", "", "DIR"), json("json", ""), show("show", ""),
        help({"h", "help"}, "");
    parser.addOptions(
        {db, table, sql, y, x, description, fitMethod, text, pdf, plots, json, show, help});
    if (!parser.parse(app.arguments())) throw UsageError(parser.errorText().toStdString());
    if (parser.isSet(help)) {
        std::cout << kHelp;
        return 0;
    }
    Options o;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1) throw UsageError("only one form file can be given");
    if (!positional.isEmpty()) o.formFile = positional[0].toStdString();
    o.db = parser.value(db).toStdString();
    o.table = parser.value(table).toStdString();
    o.sql = parser.value(sql).toStdString();
    o.y = parser.value(y).toStdString();
    for (const QString& v : parser.values(x)) o.x.push_back(v.toStdString());
    o.description = parser.value(description).toStdString();
    o.fitMethod = parser.value(fitMethod).toStdString();
    std::optional<tav::TFitMethod> method;
    if (parser.isSet(fitMethod)) {
        try {
            method = tav::StrToFitMethod(o.fitMethod);
        } catch (const tav::EConvertError& e) {
            throw UsageError(std::string("--fit-method: ") + e.what());
        }
    }
    o.text = parser.isSet(text);
    o.json = parser.isSet(json);
    o.show = parser.isSet(show);
    o.pdf = parser.value(pdf).toStdString();
    o.plots = parser.value(plots).toStdString();

    const bool commandLineDefinition = !o.db.empty();
    if (commandLineDefinition && !o.formFile.empty())
        throw UsageError("give either a form file or --db, not both");
    if (commandLineDefinition) {
        if (o.table.empty() == o.sql.empty()) throw UsageError("give one of --table and --sql");
        if (o.y.empty()) throw UsageError("--y is missing");
        if (o.x.size() > 10) throw UsageError("at most ten --x");
    } else if (!o.table.empty() || !o.sql.empty() || !o.y.empty() || !o.x.empty()) {
        throw UsageError("--table, --sql, --y and --x need --db");
    }
    if (!commandLineDefinition && o.formFile.empty()) o.formFile = TAV_EXAMPLE_FORM;

    const bool outputs = o.text || o.json || !o.pdf.empty() || !o.plots.empty();
    const bool display = QGuiApplication::platformName() != "offscreen" &&
                         QGuiApplication::platformName() != "minimal";
    const bool headless = !display || (outputs && !o.show);
    if (headless) {
        tav::SetMessageDlgHook([](const std::string& msg, tav::TMsgDlgType type,
                                  tav::TMsgDlgButtons) {
            std::cerr
                << "tavreg: " << tav::MsgDlgCaption(type) << ": "
                << QString::fromStdString(tav::DisplayText(msg)).replace('\n', ' ').toStdString()
                << "\n";
            return static_cast<uint16_t>(tav::mrOk);
        });
    }

    std::vector<std::pair<tav::TDataSet*, tav::TTAVRegression*>> regressions;
    tav::TFormContents form;
    std::unique_ptr<tav::TComponent> own;
    if (commandLineDefinition) {
        auto add = [&](auto* c) {
            c->SetName("Regression");
            c->SetDatabaseName(o.db);
            c->SetDescription(o.description);
            for (std::size_t k = 0; k < o.x.size(); ++k)
                c->SetControl(static_cast<int>(k) + 1, ControlTerm(o.x[k]));
            c->SetResponse(ResponseTerm(o.y));
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
    } else {
        const QString folder = QFileInfo(QString::fromStdString(o.formFile)).absolutePath();
        try {
            form = tav::ReadForm(
                tav::TAVClassRegistry(), tav::ReadTextFile(o.formFile), [&](tav::TComponent& c) {
                    dynamic_cast<tav::TDataSet&>(c).SetBaseDirectory(folder.toStdString());
                });
        } catch (const tav::Exception& e) {
            throw tav::Exception(o.formFile + ": " + e.what());
        }
        for (tav::TComponent* c : form.components) {
            if (auto* t = dynamic_cast<tav::TTAVTable*>(c)) regressions.emplace_back(t, t);
            if (auto* q = dynamic_cast<tav::TTAVQuery*>(c)) regressions.emplace_back(q, q);
        }
        if (regressions.empty())
            throw tav::Exception(o.formFile + ": no regression component in it");
    }

    if (method)
        for (auto& [ds, reg] : regressions) reg->SetFitMethod(*method);
    const Run run{o, headless, regressions.size() > 1};
    bool allValid = true;
    for (auto& [ds, reg] : regressions) {
        try {
            allValid = Report(*ds, *reg, run) && allValid;
        } catch (const std::exception& e) {
            throw tav::Exception(ds->Name() + ": " + e.what());
        }
    }
    return allValid ? 0 : 3;
}

}  // namespace

int main(int argc, char** argv) {
    // No display: run on the offscreen platform rather than fail to start.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QString runtime =
            QDir::temp().filePath("tavreg-runtime-" + QString::number(getuid()));
        QDir().mkpath(runtime);
        QFile::setPermissions(
            runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("tavreg");
    try {
        return Main(app);
    } catch (const UsageError& e) {
        std::cerr << "tavreg: " << e.what() << " (see tavreg --help)\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "tavreg: " << e.what() << "\n";
        return 1;
    }
}

// tavreg: fits the regressions of a form file (or of a definition given on the command line) and
// shows their reports, as a host application would; without a display, or when only files are
// asked for, it writes the report as text, PDF, plot images or JSON.
#include <tav/tav.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>

#include "factors.h"
#include "inputs.h"
#include "options.h"
#include "outputs.h"
#include "summary.h"
#include "terms.h"

namespace {

using tavreg::UsageError;

// What the regressions of a run share: the options and where every output goes.
struct TRun {
    const tavreg::TOptions& options;
    bool headless;
    bool several;
    tav::TOutputFiles& files;
    std::string out = {};  // standard output, written when the whole run has succeeded
    QJsonArray json = {};
    std::map<std::string, std::string> streamText = {};  // of the outputs that name a file
    // The fields each regression's prediction read (--predict with several regressions).
    std::vector<std::vector<std::string>> predictionFields = {};
};

// Whether the run shows no window: with no display, or with outputs asked for and not --show.
// Then message boxes go to standard error.
bool Headless(const tavreg::TOptions& o, bool fellBackToOffscreen) {
    const bool display = QGuiApplication::platformName() != "offscreen" &&
                         QGuiApplication::platformName() != "minimal";
    const bool headless = !display || (o.anyOutput && !o.show);
    if (headless) {
        tav::SetMessageDlgHook(
            [](const std::string& msg, tav::TMsgDlgType type, tav::TMsgDlgButtons) {
                std::cerr << tavreg::OneLine("tavreg: " + tav::MsgDlgCaption(type) + ": " + msg)
                          << "\n";
                return static_cast<uint16_t>(tav::mrOk);
            });
    }
    if (fellBackToOffscreen && !o.anyOutput)
        std::cerr << "tavreg: no display could be opened; the report is written as text\n";
    return headless;
}

// Holds back the message boxes of a load: an unusable one is told in a line of its own rather than
// as the boxes it gives (no degrees of freedom, an invariant column) followed by that line. A
// usable load's boxes (the record count warning) are shown on Release, in their order.
class THeldMessages {
  public:
    THeldMessages()
        : previous_(tav::SetMessageDlgHook(
              [this](const std::string& msg, tav::TMsgDlgType type, tav::TMsgDlgButtons buttons) {
                  held_.push_back({msg, type, buttons});
                  return static_cast<uint16_t>(tav::mrOk);
              })) {}
    ~THeldMessages() { tav::SetMessageDlgHook(previous_); }
    THeldMessages(const THeldMessages&) = delete;
    THeldMessages& operator=(const THeldMessages&) = delete;
    void Release() {
        tav::SetMessageDlgHook(previous_);
        for (const THeld& m : held_) tav::MessageDlg(m.msg, m.type, m.buttons, 0);
        held_.clear();
    }

  private:
    struct THeld {
        std::string msg;
        tav::TMsgDlgType type;
        tav::TMsgDlgButtons buttons;
    };
    tav::TMessageDlgHook previous_;
    std::vector<THeld> held_;
};

// Whether the run reads its CSV file as a stream of records, with no database: every record of
// the file's own table, none of whose terms needs a query (a Factor's levels).
bool StreamsCsv(const tavreg::TOptions& o) {
    return o.allRecords && !o.csv.empty() && o.sql.empty() &&
           std::all_of(o.factors.begin(), o.factors.end(),
                       [](const std::string& f) { return f.empty(); });
}

// Fits one regression over every record of its dataset and writes its summary or JSON; false
// when the fit is not valid.
bool ReportAllRecords(const tavreg::TRegressionComponent& component, TRun& run) {
    tav::TDataSet& ds = *component.dataset;
    tav::TTAVRegression& reg = *component.regression;
    const tavreg::TOptions& o = run.options;
    if (o.sumIn) reg.SetWholeTableStrategy(*o.sumIn);
    if (StreamsCsv(o)) {
        if (o.sumIn == tav::TWholeTableStrategy::Server)
            throw UsageError(
                "--sum-in Server needs a PostgreSQL server; a CSV file is summed "
                "as it is read");
        const std::unique_ptr<tav::TRecordStream> records =
            tav::OpenCsvStream(o.csv, o.timeout.value_or(0));
        // The columns' types as the first records give them, and as the whole file does.
        tavreg::CheckStreamedColumns(o, records->Fields());
        reg.ExecuteAllRecords(*records);
        tavreg::CheckStreamedColumns(o, records->Fields());
    } else {
        if (!ds.Active()) ds.Open();
        reg.ExecuteAllRecords();
    }
    if (!o.quiet)
        std::cerr << tavreg::OneLine("tavreg: " + ds.Name() + ": " + reg.WholeTableSummary())
                  << "\n";
    const std::optional<tavreg::TPrediction> none;
    const tavreg::TRegressionOutputs outputs{
        o, ds, reg, none, run.several, run.files, run.out, run.json, run.streamText};
    tavreg::WriteOutputs(outputs, tavreg::TStage::Results);
    return reg.WholeTableFit().Valid();
}

// Fits one regression and writes its outputs; false when its fit is not valid (the outputs are
// written all the same, and say so).
bool Report(const tavreg::TRegressionComponent& component, TRun& run) {
    tav::TDataSet& ds = *component.dataset;
    tav::TTAVRegression& reg = *component.regression;
    const tavreg::TOptions& o = run.options;
    if (o.allRecords) return ReportAllRecords(component, run);
    if (!ds.Active()) ds.Open();
    THeldMessages held;
    try {
        reg.ReLoad();
    } catch (const tav::EDatabaseError& e) {
        // A field name mistyped: say which there are.
        const std::string message = e.Message();
        if (!ds.Active() || message.find("' not found") == std::string::npos) throw;
        tav::TStringList names;
        ds.GetFieldNames(names);
        std::string fields;
        for (int k = 0; k < names.Count(); ++k) fields += (k ? ", " : "") + names[k];
        throw tav::EDatabaseError(message + " (the fields are " + fields + ")");
    }
    const std::string summary = reg.LoadSummary();
    const int terms = reg.VarCount() + 1;
    if (reg.DataCount() > 0 && reg.DataCount() < terms)
        throw tav::Exception("too few usable records for " + std::to_string(terms) +
                             " terms, the intercept and " + std::to_string(terms - 1) +
                             " control variable" + (terms == 2 ? "" : "s") + " (" + summary +
                             "): a fit needs a record per term and one more for its statistics");
    if (!reg.ValuesLoaded())
        throw tav::Exception("nothing usable was loaded (" + summary + ")" +
                             (reg.DataCount() > 0
                                  ? ": the response or a control variable has one value in "
                                    "every record used"
                                  : ""));
    held.Release();
    if (!o.quiet) std::cerr << tavreg::OneLine("tavreg: " + ds.Name() + ": " + summary) << "\n";
    reg.Execute();
    const bool valid = reg.GetFitProblem() == tav::TFitProblem::None;
    std::optional<tavreg::TPrediction> prediction;
    if (o.predict) {
        prediction = tavreg::Prediction(reg, *o.predict, o.level, !run.several);
        run.predictionFields.push_back(prediction->fields);
    }
    const tavreg::TRegressionOutputs outputs{
        o, ds, reg, prediction, run.several, run.files, run.out, run.json, run.streamText};
    tavreg::WriteOutputs(outputs, tavreg::TStage::Results);
    // With windows, they show the report pages as a host application's would.
    if (run.headless)
        tavreg::WriteOutputs(outputs, tavreg::TStage::Pages);
    else
        reg.Output();
    return valid;
}

int Main(QApplication& app, bool fellBackToOffscreen) {
    const tavreg::TOptions o = tavreg::ReadOptions(app.arguments());
    if (o.help) {
        tavreg::WriteStandardOutput(tavreg::HelpText());
        return 0;
    }
    tavreg::SetDatabaseBounds(o);
    const bool headless = Headless(o, fellBackToOffscreen);

    // Inputs and outputs are all known, and outputs onto inputs, onto what is not a file, or
    // named twice are refused, before anything runs; so is standard output that is an input.
    tav::TOutputFiles files;
    const tavreg::TInputs inputs = tavreg::OpenInputs(o, files);
    tavreg::DeclareOutputs(o, inputs.regressions, files);
    if (!o.csv.empty() && !StreamsCsv(o)) tavreg::ImportCsv(o, inputs.regressions);
    if (inputs.factorQuery) tavreg::ExpandFactors(o, *inputs.factorQuery);

    TRun run{o, headless, inputs.regressions.size() > 1, files};
    bool allValid = true;
    for (const auto& component : inputs.regressions) {
        try {
            allValid = Report(component, run) && allValid;
        } catch (const UsageError&) {
            throw;
        } catch (const tav::EOutputRefused&) {
            throw;
        } catch (const std::exception& e) {
            // Name the component once: the dataset's own errors may name it already.
            std::string message = tav::ErrorMessage(e);
            if (message.find("file is not a database") != std::string::npos &&
                QString::fromStdString(o.db).endsWith(".csv", Qt::CaseInsensitive))
                message += "; a CSV file is read with --csv";
            const std::string prefix = component.dataset->Name() + ": ";
            throw tav::Exception(message.rfind(prefix, 0) == 0 ? message : prefix + message);
        }
    }
    if (o.predict) tavreg::CheckPredictionFields(run.predictionFields, *o.predict);
    tavreg::WriteStreamFiles(o, run.json, run.streamText, run.out, files);
    // Standard output first: when it cannot be written, the files are not either.
    tavreg::WriteStandardOutput(run.out);
    files.Commit();
    return allValid ? 0 : 3;
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
    if (tavreg::OnlyFileOutputs(argc, argv) ||
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

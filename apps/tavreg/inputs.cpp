#include "inputs.h"

#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <functional>
#include <iostream>

#include "factors.h"
#include "outputs.h"
#include "tav/csvtable.h"
#include "tav/tavclasses.h"
#include "tav/tavquery.h"
#include "tav/tavtable.h"

namespace tavreg {

namespace {

// The one regression of a definition on the command line.
std::unique_ptr<tav::TComponent> CommandLineComponent(const TOptions& o, TInputs& inputs) {
    TRegressionComponents& regressions = inputs.regressions;
    // A CSV file is read into a database in memory, named as the file, holding its table.
    const std::string db = o.csv.empty() ? o.db : o.csv;
    const std::string table =
        !o.csv.empty() && o.table.empty() && o.sql.empty() ? tav::CsvTableName(o.csv) : o.table;
    auto define = [&](auto component) {
        component->SetName("Regression");
        component->SetDatabaseName(db);
        component->SetDescription(o.description);
        // With factors, the controls come with the levels (ExpandFactors).
        if (!HasFactors(o))
            for (std::size_t k = 0; k < o.controls.size(); ++k)
                component->SetControl(static_cast<int>(k) + 1, o.controls[k]);
        component->SetResponse(*o.response);
        regressions.push_back({component.get(), component.get()});
        return std::unique_ptr<tav::TComponent>(std::move(component));
    };
    if (!table.empty() && !HasFactors(o)) {
        auto t = std::make_unique<tav::TTAVTable>();
        t->SetTableName(table);
        return define(std::move(t));
    }
    auto q = std::make_unique<tav::TTAVQuery>();
    q->SetSQLText(o.sql);
    if (HasFactors(o)) inputs.factorQuery = q.get();
    return define(std::move(q));
}

// The regressions of the form file.
tav::TFormContents FormComponents(const TOptions& o, tav::TOutputFiles& files,
                                  TRegressionComponents& regressions) {
    const QString path = QString::fromStdString(o.formFile);
    files.AddInput(path, "the form file");
    files.CheckStream(STDOUT_FILENO, "standard output");
    const QString folder = QFileInfo(path).absolutePath();
    // The databases are inputs too: found before any of them is opened.
    tav::TFormContents form;
    try {
        form = tav::ReadForm(tav::TAVClassRegistry(), tav::ReadTextFile(o.formFile),
                             [&](tav::TComponent& c) {
                                 auto& ds = dynamic_cast<tav::TDataSet&>(c);
                                 ds.SetBaseDirectory(folder.toStdString());
                                 // Also bounds a dataset the file opens, unless the file gives
                                 // its own bound.
                                 if (o.timeout) ds.SetQueryTimeout(*o.timeout);
                             });
    } catch (const tav::Exception& e) {
        const bool csv = path.endsWith(".csv", Qt::CaseInsensitive);
        throw tav::Exception(
            o.formFile + ": " +
            (csv ? "a CSV file, not a form file: give it with --csv" : e.Message()));
    }
    for (tav::TComponent* c : form.components) {
        auto* ds = dynamic_cast<tav::TDataSet*>(c);
        const QString name = QString::fromStdString(ds->DatabaseName());
        files.AddInput(QDir(folder).filePath(name), "the database of " + c->Name());
        if (auto* t = dynamic_cast<tav::TTAVTable*>(c)) regressions.push_back({t, t});
        if (auto* q = dynamic_cast<tav::TTAVQuery*>(c)) regressions.push_back({q, q});
    }
    if (regressions.empty()) throw tav::Exception(o.formFile + ": no regression component in it");
    return form;
}

}  // namespace

TInputs OpenInputs(const TOptions& o, tav::TOutputFiles& files) {
    TInputs inputs;
    if (o.commandLineDefinition) {
        inputs.component = CommandLineComponent(o, inputs);
        files.AddInput(QString::fromStdString(o.csv.empty() ? o.db : o.csv),
                       o.csv.empty() ? "the database" : "the CSV file");
    } else {
        inputs.form = FormComponents(o, files, inputs.regressions);
    }
    for (const auto& [ds, reg] : inputs.regressions) {
        if (o.method) reg->SetFitMethod(*o.method);
        if (!o.id.empty()) reg->SetIdField(o.id);
        if (o.timeout) ds->SetQueryTimeout(*o.timeout);
    }
    return inputs;
}

namespace {

// Refuses a control variable or a response over a column that `text` says is text: a column of
// R's factor levels fits as indicators, not as the numbers its levels are written as.
void CheckNumberColumns(const TOptions& o, const std::function<bool(const std::string&)>& text) {
    auto check = [&](const std::string& option, const std::string& term, const std::string& field) {
        if (!field.empty() && text(field))
            throw tav::Exception(option + " '" + term + "': the column " + field + " is text in " +
                                 o.csv +
                                 " (not numbers, or numbers in quotes as R writes a factor's "
                                 "levels); Factor(" +
                                 field + ") fits one indicator per level");
    };
    for (std::size_t k = 0; k < o.controls.size(); ++k) {
        if (!o.factors[k].empty()) continue;
        check("--x", o.x[k], o.controls[k].Field1());
        if (const auto* kind = o.controls[k].Kind(); kind != nullptr && kind->fields == 2)
            check("--x", o.x[k], o.controls[k].Field2());
    }
    if (o.response) check("--y", o.y, o.response->FieldName());
}

}  // namespace

void ImportCsv(const TOptions& o, const TRegressionComponents& regressions) {
    const tav::TCsvImport imported = tav::ImportCsvFile(o.csv, o.csv, o.timeout.value_or(0));
    // R's row names name the records unless --id names another field.
    if (o.id.empty() && !imported.rowNames.empty())
        for (const auto& [ds, reg] : regressions) reg->SetIdField(imported.rowNames);
    if (!o.quiet) std::cerr << OneLine("tavreg: " + tav::CsvImportSummary(o.csv, imported)) << "\n";
    CheckNumberColumns(o, [&](const std::string& field) {
        return std::any_of(imported.textColumns.begin(), imported.textColumns.end(),
                           [&](const std::string& c) { return tav::SameFieldName(c, field); });
    });
}

void CheckStreamedColumns(const TOptions& o, const tav::TFieldSource& fields) {
    CheckNumberColumns(o, [&](const std::string& field) {
        try {
            return fields.FieldByName(field)->DeclaredType() == "TEXT";
        } catch (const tav::EDatabaseError&) {
            return false;  // the fit names the missing field
        }
    });
}

}  // namespace tavreg

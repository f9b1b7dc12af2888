// The inputs of a run: the regression components of a form file or of the definition on the
// command line, with the files they read, and the CSV file's table.
#pragma once

#include <memory>

#include "options.h"
#include "tav/formfile.h"
#include "tav/outputfiles.h"
#include "tav/tavquery.h"

namespace tavreg {

struct TInputs {
    tav::TFormContents form;                     // the components of a form file
    std::unique_ptr<tav::TComponent> component;  // or the one of the command line
    tav::TTAVQuery* factorQuery = nullptr;       // which is this query when it has factors
    TRegressionComponents regressions;
};

// Makes the regression components the options define, with the fit method, the id field and the
// timeout the options give them, and names each file they read as an input of `files`, before
// any database is opened. Raises tav::Exception naming the form file when it cannot be read or
// holds no regression component.
TInputs OpenInputs(const TOptions& options, tav::TOutputFiles& files);

// Reads the CSV file of --csv into its table in memory; its row names name the records unless
// --id names another field. Raises tav::Exception when a variable reads a text column as a number
// (a factor's levels, as R writes them in quotes): Factor(FIELD) is what such a column needs.
void ImportCsv(const TOptions& options, const TRegressionComponents& regressions);
// Refuses, as ImportCsv does, a variable over a text column of the streamed CSV file `fields`.
void CheckStreamedColumns(const TOptions& options, const tav::TFieldSource& fields);

}  // namespace tavreg

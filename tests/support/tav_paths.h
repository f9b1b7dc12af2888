// Where the build put what the tests run and read. Only tav_paths.cpp has these paths compiled
// in, so that the compiler cache serves every other test source to a build at another path.
#pragma once

namespace tavtest {

const char* TavregPath();         // the tavreg program
const char* SampleDb();           // the sample database the build makes from examples/sales.csv
const char* SampleForm();         // the bundled form file beside it
const char* ExamplesDir();        // examples/ of the source tree
const char* ExampleFormSource();  // examples/sales.dfm of the source tree
const char* SalesCsv();           // examples/sales.csv of the source tree
const char* TestDataDir();        // tests/data of the source tree
const char* TavdesignerPath();    // the tavdesigner program
const char* SourceDir();          // the source tree
const char* BuildDir();           // the build tree

}  // namespace tavtest

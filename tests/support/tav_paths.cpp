#include "support/tav_paths.h"

namespace tavtest {

const char* TavregPath() { return TAVREG_PATH; }
const char* SampleDb() { return TAV_SAMPLE_DB; }
const char* SampleForm() { return TAV_SAMPLE_FORM; }
const char* ExamplesDir() { return TAV_EXAMPLES_DIR; }
const char* ExampleFormSource() { return TAV_EXAMPLES_DIR "/sales.dfm"; }
const char* SalesCsv() { return TAV_EXAMPLES_DIR "/sales.csv"; }
const char* TestDataDir() { return TAV_TEST_DATA_DIR; }
const char* TavdesignerPath() { return TAVDESIGNER_PATH; }
const char* SourceDir() { return TAV_SOURCE_DIR; }
const char* BuildDir() { return TAV_BUILD_DIR; }

}  // namespace tavtest

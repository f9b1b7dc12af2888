#include "options.h"

namespace tavreg {

const char* ExampleFormPath() { return TAV_EXAMPLE_FORM; }

}  // namespace tavreg

// tavreg's term parser on any text: a term is refused with UsageError or gives a definition that
// a form file would hold (six entries, known codes), naming the field as given.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "terms.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string term(reinterpret_cast<const char*>(data), size);
    try {
        const tav::TIndepVar v = tavreg::ControlTerm(term);
        if (const std::string why = tav::TIndepVar::DefinitionError(v); !why.empty())
            tavfuzz::Finding("control term '" + term + "' gives no definition: " + why);
        if (v.Field1().empty() || v.Transformation() == "Undefined" || v.Usage() != "Active")
            tavfuzz::Finding("control term '" + term + "' gives an unusable variable");
        v.OutputTerm();
    } catch (const tavreg::UsageError&) {
    }
    try {
        const tav::TDependentVar r = tavreg::ResponseTerm(term);
        if (const std::string why = tav::TDependentVar::DefinitionError(r); !why.empty())
            tavfuzz::Finding("response term '" + term + "' gives no definition: " + why);
        if (r.FieldName().empty()) tavfuzz::Finding("response term '" + term + "' has no field");
        r.OutputTerm();
    } catch (const tavreg::UsageError&) {
    }
    return 0;
}

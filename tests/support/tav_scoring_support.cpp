#include "support/tav_scoring_support.h"

#include <cmath>
#include <cstdio>
#include <iterator>

#include "support/tav_test_support.h"

namespace tavtest {

void DefineEveryTransformation(tav::TTAVRegression& r) {
    auto var = [](const char* code, const char* field1, const char* field2 = "",
                  const char* exponent = "", const char* factor = "") {
        tav::TIndepVar v = Control(code, field1);
        if (*field2) v.SetField2(field2);
        if (*exponent) v.SetExponent(exponent);
        if (*factor) v.SetScaleFactor(factor);
        return v;
    };
    const tav::TIndepVar controls[] = {var("Log", "ADVERT"),
                                       var("Inverse", "TEMP"),
                                       var("Sqrt", "INCOME"),
                                       var("Power", "COMPETITORS", "", "3"),
                                       var("Power", "PRICE", "", "1.5"),
                                       var("Scale", "STORES", "", "", "7.5"),
                                       var("Product", "PRICE", "UNITS"),
                                       var("Quotient", "SALES", "STORES"),
                                       var("None", "UNITS")};
    for (int k = 0; k < static_cast<int>(std::size(controls)); ++k)
        r.SetControl(k + 1, controls[k]);
    r.SetResponse(Response("PROFIT"));
}

std::string CompareWithFit(const tav::TTAVRegression& r, const std::vector<TScoredRow>& rows) {
    int i = 0;
    for (const TScoredRow& row : rows) {
        if (!row.score || !row.responsePresent) continue;
        if (++i > r.DataCount()) break;
        const double expected = r.GetyHat(static_cast<uint16_t>(i));
        if (!(std::fabs(*row.score - expected) <= 1E-12 * std::fabs(expected))) {
            char text[120];
            std::snprintf(text, sizeof text, "record %d: %.17g instead of %.17g", i, *row.score,
                          expected);
            return text;
        }
    }
    if (i != r.DataCount())
        return std::to_string(i) + " rows scored instead of " + std::to_string(r.DataCount());
    return "";
}

}  // namespace tavtest

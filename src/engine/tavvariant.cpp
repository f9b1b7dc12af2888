// Everything that sets the table component apart from the query component.
#include "tav/sysutils.h"
#include "tav/tavcore.h"

namespace tav {

namespace {

constexpr const char* LB = "\n\r";

std::string TableRecordCountWarning(int32_t recordCount) {
    return std::string("Orvenko analyzes a maximum of ") + "2500" + LB + "records. There are " +
           IntToStr(recordCount) + " records in" + LB +
           "in your dataset. You can use table filters" + LB +
           "to limit the number of eligible records." + LB + LB + "Loading the first " + "2500" +
           " records...";
}

std::string QueryRecordCountWarning(int32_t recordCount) {
    return std::string("Orvenko analyzes a maximum of ") + "2500" + LB + "Records. There are " +
           IntToStr(recordCount) + " records" + LB + "records in your dataset. You can make" + LB +
           "your query more specific to limit the" + LB + "number of records returned." + LB + LB +
           "Loading the first " + "2500" + " records...";
}

}  // namespace

const TTAVVariant TableVariant{
    "table",
    &TableRecordCountWarning,
    /*gaugeFollowsLoad=*/true,
    "Table values NOT loaded.",
    TMsgDlgType::mtInformation,
    /*notLoadedIsWarning=*/true,
    /*outputClearsValuesLoaded=*/true,
    /*covarianceEntriesPadded=*/true,
    /*tValuePrefix=*/"  ",
};

const TTAVVariant QueryVariant{
    "query",
    &QueryRecordCountWarning,
    /*gaugeFollowsLoad=*/false,
    "Query dataset values NOT loaded.",
    TMsgDlgType::mtError,
    /*notLoadedIsWarning=*/false,
    /*outputClearsValuesLoaded=*/false,
    /*covarianceEntriesPadded=*/false,
    /*tValuePrefix=*/"   ",
};

}  // namespace tav

// The transformation table's records on a PostgreSQL server: the load, ValueOf and the kinds' SQL
// agree there as they do on SQLite.
#include "support/tav_pg_support.h"
#include "transformation_cases.h"

using PostgreSQLTransformations = tavtest::TPgTest;

TEST_F(PostgreSQLTransformations, ValuesOfTheLoadOfValueOfAndOfTheSqlAgree) {
    tavtest::transformations::CheckTransformationValues(Url(), "DOUBLE PRECISION");
}

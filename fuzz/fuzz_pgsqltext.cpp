// The statement reader against the server it reads for: on any text, PostgreSQL's lexical rules
// as the reader knows them and the server's parser agree on whether the text holds more than one
// statement. The server's verdict: preparing the text succeeds (one statement) or fails with
// "cannot insert multiple commands into a prepared statement"; any other error (a syntax error, a
// quote left open) says nothing either way. Needs a server: TAV_FUZZ_PG_URL
// (postgresql://USER@HOST:PORT/DBNAME; scripts/fuzz.sh starts one).
#include <libpq-fe.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "tav/sqltext.h"

namespace {

PGconn* connection = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* url = std::getenv("TAV_FUZZ_PG_URL");
    if (!url || !*url) {
        std::fprintf(stderr, "fuzz_pgsqltext: set TAV_FUZZ_PG_URL to a PostgreSQL server\n");
        std::exit(2);
    }
    connection = PQconnectdb(url);
    PGresult* set = PQexec(connection, "SET standard_conforming_strings TO on");
    if (PQstatus(connection) != CONNECTION_OK || PQresultStatus(set) != PGRES_COMMAND_OK) {
        std::fprintf(stderr, "fuzz_pgsqltext: %s\n", PQerrorMessage(connection));
        std::exit(2);
    }
    PQclear(set);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // libpq sends a text up to its first NUL byte.
    const std::string sql(reinterpret_cast<const char*>(data),
                          strnlen(reinterpret_cast<const char*>(data), size));
    const tav::TStatementText text = tav::ReadStatement(sql, tav::TSqlDialect::PostgreSQL);
    PGresult* prepared = PQprepare(connection, "", sql.c_str(), 0, nullptr);
    if (PQstatus(connection) != CONNECTION_OK)
        tavfuzz::Finding(std::string("the server is gone: ") + PQerrorMessage(connection));
    const char* state = PQresultErrorField(prepared, PG_DIAG_SQLSTATE);
    const char* message = PQresultErrorField(prepared, PG_DIAG_MESSAGE_PRIMARY);
    const bool one = PQresultStatus(prepared) == PGRES_COMMAND_OK;
    const bool several =
        state && std::strcmp(state, "42601") == 0 && message &&
        std::strcmp(message, "cannot insert multiple commands into a prepared statement") == 0;
    PQclear(prepared);
    if (several && !text.more)
        tavfuzz::Finding("the server reads several statements, the reader one");
    if (one && text.more) tavfuzz::Finding("the server reads one statement, the reader several");
    return 0;
}

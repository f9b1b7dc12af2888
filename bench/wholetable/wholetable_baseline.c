/* The data of the whole-table benchmark, and the plain loops that tavreg --all-records is held
 * against: they read the same columns and do nothing else with them, so the difference is what
 * the fit's own rules and sums cost.
 *
 *   wholetable_baseline gen ROWS FILE.csv     writes ROWS records: columns X1..X10 and Y
 *   wholetable_baseline sqlite FILE.csv FILE.db   copies the CSV file into table t of FILE.db
 *   wholetable_baseline readcsv FILE.csv      fgets + strtod of every field, prints their sum
 *   wholetable_baseline readdb FILE.db        sqlite3_step + sqlite3_column_double of every
 *                                             column of t, read-only, prints their sum
 *
 * The printed sums keep the compiler from dropping the reads and let the script check that every
 * record was read. */
#include <errno.h>
#include <sqlite3.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { kColumns = 11, kLine = 4096 };

static const char* const kNames[kColumns] = {"X1", "X2", "X3", "X4",  "X5", "X6",
                                             "X7", "X8", "X9", "X10", "Y"};

static void Fail(const char* what, const char* detail) {
    fprintf(stderr, "wholetable_baseline: %s%s%s\n", what, detail ? ": " : "",
            detail ? detail : "");
    exit(1);
}

/* A small, fixed generator so that every run writes the same file. */
static uint64_t state = 0x9E3779B97F4A7C15ull;
static double Uniform(void) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return (double)(state >> 11) * (1.0 / 9007199254740992.0);
}
static double Normal(void) {
    /* Sum of twelve uniforms: close enough to a normal for a benchmark, and cheap. */
    double s = -6.0;
    for (int i = 0; i < 12; ++i) s += Uniform();
    return s;
}

/* Columns of mixed scale: counts, measurements of unit size, money near a million, and epoch
 * seconds near 1.7e9 (large offsets that a fit must centre away). */
static int Generate(long long rows, const char* path) {
    FILE* out = fopen(path, "w");
    if (!out) Fail("cannot write", path);
    static char buffer[1 << 20];
    setvbuf(out, buffer, _IOFBF, sizeof buffer);
    fputs("X1,X2,X3,X4,X5,X6,X7,X8,X9,X10,Y\n", out);
    for (long long i = 0; i < rows; ++i) {
        double x[10];
        x[0] = (double)(long long)(Uniform() * 100.0);         /* a count */
        x[1] = Normal();                                       /* unit scale */
        x[2] = 1.0e6 + 2.5e4 * Normal();                       /* near a million */
        x[3] = 1.7e9 + (double)(long long)(Uniform() * 3.0e7); /* epoch seconds */
        x[4] = 0.001 * Normal();                               /* small */
        x[5] = 50.0 + 10.0 * Normal();
        x[6] = (double)(long long)(Uniform() * 2.0); /* a 0/1 flag */
        x[7] = 1.0e6 * Uniform();
        x[8] = x[1] + 0.5 * Normal();                                    /* correlated */
        x[9] = 1.7e9 + 86400.0 * (double)(long long)(Uniform() * 365.0); /* day stamps */
        const double y = 3.0 + 0.5 * x[0] - 2.0 * x[1] + 1e-4 * (x[2] - 1.0e6) +
                         1e-6 * (x[3] - 1.7e9) + 300.0 * x[4] + 0.2 * x[5] + 1.5 * x[6] +
                         2e-6 * x[7] + x[8] - 1e-5 * (x[9] - 1.7e9) + Normal();
        fprintf(out, "%.0f,%.6f,%.2f,%.0f,%.8f,%.4f,%.0f,%.3f,%.6f,%.0f,%.6f\n", x[0], x[1], x[2],
                x[3], x[4], x[5], x[6], x[7], x[8], x[9], y);
    }
    if (fclose(out) != 0) Fail("cannot finish", path);
    return 0;
}

static int ToSqlite(const char* csv, const char* path) {
    FILE* in = fopen(csv, "r");
    if (!in) Fail("cannot read", csv);
    remove(path);
    sqlite3* db = NULL;
    if (sqlite3_open(path, &db) != SQLITE_OK) Fail("cannot open", path);
    char sql[512] = "CREATE TABLE t (";
    for (int c = 0; c < kColumns; ++c) {
        strcat(sql, kNames[c]);
        strcat(sql, c + 1 < kColumns ? " REAL, " : " REAL)");
    }
    if (sqlite3_exec(db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN", 0, 0, 0) ||
        sqlite3_exec(db, sql, 0, 0, 0))
        Fail("cannot create table t", sqlite3_errmsg(db));
    sqlite3_stmt* insert = NULL;
    if (sqlite3_prepare_v2(db, "INSERT INTO t VALUES (?,?,?,?,?,?,?,?,?,?,?)", -1, &insert, 0))
        Fail("cannot prepare", sqlite3_errmsg(db));
    char line[kLine];
    if (!fgets(line, sizeof line, in)) Fail("empty file", csv);
    while (fgets(line, sizeof line, in)) {
        char* p = line;
        for (int c = 0; c < kColumns; ++c) {
            sqlite3_bind_double(insert, c + 1, strtod(p, &p));
            if (*p == ',') ++p;
        }
        if (sqlite3_step(insert) != SQLITE_DONE) Fail("cannot insert", sqlite3_errmsg(db));
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    if (sqlite3_exec(db, "COMMIT", 0, 0, 0)) Fail("cannot commit", sqlite3_errmsg(db));
    sqlite3_close(db);
    fclose(in);
    return 0;
}

static int ReadCsv(const char* path) {
    FILE* in = fopen(path, "r");
    if (!in) Fail("cannot read", path);
    static char buffer[1 << 16];
    setvbuf(in, buffer, _IOFBF, sizeof buffer);
    char line[kLine];
    if (!fgets(line, sizeof line, in)) Fail("empty file", path);
    long long rows = 0;
    double sum = 0;
    while (fgets(line, sizeof line, in)) {
        char* p = line;
        for (int c = 0; c < kColumns; ++c) {
            errno = 0;
            char* end;
            const double v = strtod(p, &end);
            if (end == p || errno) Fail("not a number in", path);
            sum += v;
            p = *end == ',' ? end + 1 : end;
        }
        ++rows;
    }
    fclose(in);
    printf("%lld %.17g\n", rows, sum);
    return 0;
}

static int ReadDb(const char* path) {
    sqlite3* db = NULL;
    if (sqlite3_open_v2(path, &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, NULL) != SQLITE_OK)
        Fail("cannot open", path);
    sqlite3_stmt* select = NULL;
    if (sqlite3_prepare_v2(db, "SELECT X1, X2, X3, X4, X5, X6, X7, X8, X9, X10, Y FROM t", -1,
                           &select, 0))
        Fail("cannot prepare", sqlite3_errmsg(db));
    long long rows = 0;
    double sum = 0;
    int rc;
    while ((rc = sqlite3_step(select)) == SQLITE_ROW) {
        for (int c = 0; c < kColumns; ++c) sum += sqlite3_column_double(select, c);
        ++rows;
    }
    if (rc != SQLITE_DONE) Fail("cannot read", sqlite3_errmsg(db));
    sqlite3_finalize(select);
    sqlite3_close(db);
    printf("%lld %.17g\n", rows, sum);
    return 0;
}

int main(int argc, char** argv) {
    if (argc == 4 && strcmp(argv[1], "gen") == 0) return Generate(atoll(argv[2]), argv[3]);
    if (argc == 4 && strcmp(argv[1], "sqlite") == 0) return ToSqlite(argv[2], argv[3]);
    if (argc == 3 && strcmp(argv[1], "readcsv") == 0) return ReadCsv(argv[2]);
    if (argc == 3 && strcmp(argv[1], "readdb") == 0) return ReadDb(argv[2]);
    fprintf(stderr,
            "usage: wholetable_baseline gen ROWS FILE.csv | sqlite FILE.csv FILE.db |"
            " readcsv FILE.csv | readdb FILE.db\n");
    return 2;
}

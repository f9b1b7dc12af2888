// Streaming a CSV file of 1,000,000 rows x 11 numeric columns through OpenCsvStream (both
// readings, every field read through Peek) beside a plain C loop that reads the same file once
// with fgets and strtod, timed alternately in one process.
//   bench_csvstream [--rows=N] [--rounds=R] [--file=PATH]  the comparison: medians, the ratio's
//                                                          median and range
//   bench_csvstream --only=stream|plain [--file=PATH]      one run of one side, for the peak
//                                                          memory of each (/usr/bin/time -v)
//   bench_csvstream --only=open [--file=PATH]              the stream's first reading alone
// Without --file the file is made as /tmp/bench_csvstream.csv (kept for the next run).
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tav/csvtable.h"

namespace {

constexpr int kColumns = 11;

void MakeFile(const std::string& path, long rows) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return;
    const std::string partial = path + ".part";
    std::FILE* f = std::fopen(partial.c_str(), "w");
    if (!f) {
        std::perror(partial.c_str());
        std::exit(1);
    }
    std::fputs("y,x1,x2,x3,x4,x5,x6,x7,x8,x9,x10\n", f);
    for (long i = 1; i <= rows; ++i) {
        // Numerals of the lengths data files have: whole numbers, a few decimals, 15 digits.
        std::fprintf(f, "%.6f,%ld,%.2f,%.15g,%ld,%.3f,%.15g,%.1f,%ld,%.4f,%.15g\n",
                     3.0 + i * 0.25 + i % 7, i, (i % 97) * 1.25, std::sin(i), i * 7 % 101,
                     (i % 37) * 0.3, std::cos(i) * 100, (i % 11) * 2.0, i % 5 + 1,
                     ((i * 31) % 53) * 0.7, std::sqrt(static_cast<double>(i)));
    }
    if (std::fclose(f) != 0 || std::rename(partial.c_str(), path.c_str()) != 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
}

// The records read and the sum of every value, so that nothing is left out.
struct TResult {
    long records = 0;
    double sum = 0;
};

TResult Stream(const std::string& path) {
    TResult r;
    const auto stream = tav::OpenCsvStream(path);
    const tav::TFieldSource& source = stream->Fields();
    const char* names[kColumns] = {"y",  "x1", "x2", "x3", "x4", "x5",
                                   "x6", "x7", "x8", "x9", "x10"};
    const tav::TField* fields[kColumns];
    for (int k = 0; k < kColumns; ++k) fields[k] = source.FieldByName(names[k]);
    while (stream->Next()) {
        ++r.records;
        for (const tav::TField* f : fields) {
            double number = 0;
            bool isNumber = false;
            if (f->Peek(number, isNumber) == tav::TField::TState::Value && isNumber)
                r.sum += number;
        }
    }
    return r;
}

TResult Plain(const std::string& path) {
    TResult r;
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return r;
    char line[4096];
    if (!std::fgets(line, sizeof line, f)) return r;  // the header
    while (std::fgets(line, sizeof line, f)) {
        ++r.records;
        char* p = line;
        for (int k = 0; k < kColumns; ++k) {
            char* end = nullptr;
            r.sum += std::strtod(p, &end);
            p = *end == ',' ? end + 1 : end;
        }
    }
    std::fclose(f);
    return r;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    long rows = 1000000;
    int rounds = 7;
    std::string file, only;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--rows=", 7) == 0) rows = std::atol(argv[i] + 7);
        if (std::strncmp(argv[i], "--rounds=", 9) == 0)
            rounds = std::max(1, std::atoi(argv[i] + 9));
        if (std::strncmp(argv[i], "--file=", 7) == 0) file = argv[i] + 7;
        if (std::strncmp(argv[i], "--only=", 7) == 0) only = argv[i] + 7;
    }
    if (file.empty()) {
        file = "/tmp/bench_csvstream.csv";
        MakeFile(file, rows);
    }
    if (only == "open") {
        std::printf("open: %lld records\n",
                    static_cast<long long>(tav::OpenCsvStream(file)->Count()));
        return 0;
    }
    if (!only.empty()) {
        const TResult r = only == "plain" ? Plain(file) : Stream(file);
        std::printf("%s: %ld records, sum %.17g\n", only.c_str(), r.records, r.sum);
        return 0;
    }
    using Clock = std::chrono::steady_clock;
    std::vector<double> ours, theirs, ratio;
    TResult a, b;
    for (int round = 0; round < rounds; ++round) {
        double us = 0, them = 0;
        for (int half = 0; half < 2; ++half) {  // alternate which goes first
            for (int side = 0; side < 2; ++side) {
                const bool stream = (side == 0) == ((round + half) % 2 == 0);
                const auto start = Clock::now();
                if (stream)
                    a = Stream(file);
                else
                    b = Plain(file);
                const double s = std::chrono::duration<double>(Clock::now() - start).count();
                (stream ? us : them) += s;
            }
        }
        ours.push_back(us / 2);
        theirs.push_back(them / 2);
        ratio.push_back(us / them);
    }
    if (a.records != b.records || a.sum != b.sum)
        std::printf("the two sides differ: %ld records, sum %.17g; %ld records, sum %.17g\n",
                    a.records, a.sum, b.records, b.sum);
    std::printf(
        "%ld records x %d columns: stream median %.3f s, plain loop %.3f s, ratio %.2f "
        "(%.2f .. %.2f) over %d rounds\n",
        a.records, kColumns, Median(ours), Median(theirs), Median(ratio),
        *std::min_element(ratio.begin(), ratio.end()),
        *std::max_element(ratio.begin(), ratio.end()), rounds);
    return 0;
}

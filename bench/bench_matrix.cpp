// Timings of the matrix routines at the sizes of a full regression: 2500 records, 11 terms.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>

#include "tav/matrix.h"

namespace {

using namespace tav;

double Next(std::mt19937& gen) { return static_cast<double>(gen()) / 4294967296.0 - 0.5; }

struct TData {
    mbynp x, design;
    npbym xt, wide, near;
    npbynp xtx, inv, work;
    mvector v, r;
    npvector b;
};

// One block, filled once, as a component holds it.
TData& Data() {
    static const std::unique_ptr<TData> data = [] {
        auto d = std::make_unique<TData>();
        std::mt19937 gen(1);
        for (int32_t i = 1; i <= MaxData; ++i) {
            for (int32_t j = 1; j <= MaxTerms; ++j) d->x(i, j) = Next(gen);
            d->x(i, 1) = 1.0;  // the design matrix of a fit: its column of ones first
            d->v[i] = Next(gen);
        }
        transposembynp(d->x, d->xt, MaxData, MaxTerms);
        multnpbymmbynp(d->xt, d->x, d->xtx, MaxData, MaxTerms);
        for (int32_t i = 1; i <= MaxTerms; ++i) d->b[i] = Next(gen);
        return d;
    }();
    return *data;
}

void BM_invertnpbynp(benchmark::State& state) {
    TData& d = Data();
    for (auto _ : state) {
        d.work = d.xtx;  // the inversion leaves its LU factors in the argument
        invertnpbynp(d.work, d.inv, MaxTerms);
        benchmark::DoNotOptimize(d.inv);
    }
}
BENCHMARK(BM_invertnpbynp);

void BM_multnpbymmbynp(benchmark::State& state) {
    TData& d = Data();
    for (auto _ : state) {
        multnpbymmbynp(d.xt, d.x, d.xtx, MaxData, MaxTerms);
        benchmark::DoNotOptimize(d.xtx);
    }
    state.SetItemsProcessed(state.iterations() * MaxData * MaxTerms * MaxTerms);
}
BENCHMARK(BM_multnpbymmbynp)->Unit(benchmark::kMicrosecond);

// A that is not B's transpose, found out at the first record: all np x np sums are formed.
void BM_multnpbymmbynp_General(benchmark::State& state) {
    TData& d = Data();
    d.near = d.xt;
    d.near(1, 1) += 1.0;
    for (auto _ : state) {
        multnpbymmbynp(d.near, d.x, d.xtx, MaxData, MaxTerms);
        benchmark::DoNotOptimize(d.xtx);
    }
    state.SetItemsProcessed(state.iterations() * MaxData * MaxTerms * MaxTerms);
}
BENCHMARK(BM_multnpbymmbynp_General)->Unit(benchmark::kMicrosecond);

// The worst case: A is B's transpose up to its last record, so the symmetric sums are formed in
// vain before the general ones.
void BM_multnpbymmbynp_NearTranspose(benchmark::State& state) {
    TData& d = Data();
    d.near = d.xt;
    d.near(MaxTerms, MaxData) += 1.0;
    for (auto _ : state) {
        multnpbymmbynp(d.near, d.x, d.xtx, MaxData, MaxTerms);
        benchmark::DoNotOptimize(d.xtx);
    }
}
BENCHMARK(BM_multnpbymmbynp_NearTranspose)->Unit(benchmark::kMicrosecond);

void BM_multnpbynpnpbym(benchmark::State& state) {
    TData& d = Data();
    for (auto _ : state) {
        multnpbynpnpbym(d.inv, d.xt, d.wide, MaxData, MaxTerms);
        benchmark::DoNotOptimize(d.wide);
    }
    state.SetItemsProcessed(state.iterations() * MaxData * MaxTerms * MaxTerms);
}
BENCHMARK(BM_multnpbynpnpbym)->Unit(benchmark::kMicrosecond);

void BM_multnpbymmvector(benchmark::State& state) {
    TData& d = Data();
    for (auto _ : state) {
        multnpbymmvector(d.wide, d.v, d.b, MaxData, MaxTerms);
        benchmark::DoNotOptimize(d.b);
    }
}
BENCHMARK(BM_multnpbymmvector)->Unit(benchmark::kMicrosecond);

void BM_mult1bynpbynpbym(benchmark::State& state) {
    TData& d = Data();
    for (auto _ : state) {
        mult1bynpbynpbym(d.r, d.b, d.xt, MaxData, MaxTerms);
        benchmark::DoNotOptimize(d.r);
    }
}
BENCHMARK(BM_mult1bynpbynpbym)->Unit(benchmark::kMicrosecond);

void BM_multmbynpnpvector(benchmark::State& state) {
    TData& d = Data();
    for (auto _ : state) {
        multmbynpnpvector(d.x, d.b, d.r, MaxData, MaxTerms - 1);
        benchmark::DoNotOptimize(d.r);
    }
}
BENCHMARK(BM_multmbynpnpvector)->Unit(benchmark::kMicrosecond);

void BM_transposembynp(benchmark::State& state) {
    TData& d = Data();
    for (auto _ : state) {
        transposembynp(d.x, d.wide, MaxData, MaxTerms);
        benchmark::DoNotOptimize(d.wide);
    }
}
BENCHMARK(BM_transposembynp)->Unit(benchmark::kMicrosecond);

void BM_addunitmbynp(benchmark::State& state) {
    TData& d = Data();
    for (auto _ : state) {
        addunitmbynp(d.x, d.design, MaxData, MaxTerms);
        benchmark::DoNotOptimize(d.design);
    }
}
BENCHMARK(BM_addunitmbynp)->Unit(benchmark::kMicrosecond);

void BM_multmvectors(benchmark::State& state) {
    TData& d = Data();
    for (auto _ : state) benchmark::DoNotOptimize(multmvectors(d.v, d.v, MaxData));
}
BENCHMARK(BM_multmvectors)->Unit(benchmark::kMicrosecond);

void BM_sortmvector(benchmark::State& state) {
    TData& d = Data();
    for (auto _ : state) {
        state.PauseTiming();
        d.r = d.v;
        state.ResumeTiming();
        sortmvector(d.r, MaxData);
        benchmark::DoNotOptimize(d.r);
    }
}
BENCHMARK(BM_sortmvector)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

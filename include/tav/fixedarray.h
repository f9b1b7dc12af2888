// Fixed-capacity arrays with the index ranges of the matrix library (rows and columns from 1,
// term vectors from 0). Element access through operator() / operator[] is checked against the
// capacity and throws std::out_of_range; the routines of the library check their dimension
// arguments once and then walk the storage through raw row pointers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>

namespace tav {

[[noreturn]] void RaiseIndexError(const char* what, int64_t index, int64_t lo, int64_t hi);

// A vector of the elements Lo..Hi held in place (no allocation); indices outside raise
// std::out_of_range.
template <typename T, int32_t Lo, int32_t Hi>
class TFixedVector {
  public:
    static constexpr int32_t Low = Lo;
    static constexpr int32_t High = Hi;
    static constexpr std::size_t Size = static_cast<std::size_t>(Hi - Lo + 1);

    T& operator[](int64_t i) {
        Check(i);
        return data_[i - Lo];
    }
    const T& operator[](int64_t i) const {
        Check(i);
        return data_[i - Lo];
    }
    // Pointer to element `Lo`; p[i - Lo] is element i.
    T* base() { return data_; }
    const T* base() const { return data_; }
    // Unchecked element i, for loops whose bounds were checked before.
    T& raw(int64_t i) { return data_[i - Lo]; }
    const T& raw(int64_t i) const { return data_[i - Lo]; }
    void Fill(const T& value) {
        for (auto& x : data_) x = value;
    }

  private:
    static void Check(int64_t i) {
        if (i < Lo || i > Hi) RaiseIndexError("vector", i, Lo, Hi);
    }
    T data_[Size]{};
};

// Row-major matrix with rows RLo..RHi and columns CLo..CHi.
template <int32_t RLo, int32_t RHi, int32_t CLo, int32_t CHi>
class TFixedMatrix {
  public:
    static constexpr int32_t RowLow = RLo;
    static constexpr int32_t RowHigh = RHi;
    static constexpr int32_t ColLow = CLo;
    static constexpr int32_t ColHigh = CHi;
    static constexpr std::size_t Stride = static_cast<std::size_t>(CHi - CLo + 1);
    static constexpr std::size_t Rows = static_cast<std::size_t>(RHi - RLo + 1);

    double& operator()(int64_t i, int64_t j) {
        Check(i, j);
        return data_[Offset(i, j)];
    }
    double operator()(int64_t i, int64_t j) const {
        Check(i, j);
        return data_[Offset(i, j)];
    }
    // Pointer to element (i, CLo) of row i, unchecked: p[j - CLo] is element (i, j).
    double* row(int64_t i) { return data_ + (i - RLo) * static_cast<int64_t>(Stride); }
    const double* row(int64_t i) const { return data_ + (i - RLo) * static_cast<int64_t>(Stride); }
    void Fill(double value) {
        for (auto& x : data_) x = value;
    }

  private:
    static std::size_t Offset(int64_t i, int64_t j) {
        return static_cast<std::size_t>((i - RLo) * static_cast<int64_t>(Stride) + (j - CLo));
    }
    static void Check(int64_t i, int64_t j) {
        if (i < RLo || i > RHi) RaiseIndexError("matrix row", i, RLo, RHi);
        if (j < CLo || j > CHi) RaiseIndexError("matrix column", j, CLo, CHi);
    }
    double data_[Rows * Stride]{};
};

// A block of fixed arrays that starts as zeros and costs memory only where it is written.
// A component's arrays hold far more than most fits use (and nothing until a load), and a form
// file may hold thousands of components: value-initialising the block would write, and so
// commit, every page of it. calloc hands out a large block as pages the system has not yet
// provided, which read as zero and are committed one by one on first write; zero bits are 0.0
// and 0 in every array. The block's type must be trivially copyable and destructible (arrays of
// numbers), so that calloc's storage is an object of it without any constructor running.
struct TFreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using TZeroedBlock = std::unique_ptr<T, TFreeDeleter>;

template <typename T>
TZeroedBlock<T> AllocateZeroed() {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>,
                  "a zeroed block holds numbers only");
    void* p = std::calloc(1, sizeof(T));
    if (!p) throw std::bad_alloc();
    return TZeroedBlock<T>(static_cast<T*>(p));
}

}  // namespace tav

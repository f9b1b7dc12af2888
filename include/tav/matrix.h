// Dense linear algebra on fixed-capacity arrays: LU decomposition, back-substitution and
// inversion, products, transposition, shifting, dot products, extrema, sorting and text display.
//
// Every routine works on the leading part of its arrays given by the dimension arguments; those
// are checked against the capacity (std::out_of_range), never trusted. Sums run in the index order
// of each routine: every product is formed in extended precision (long double) and every partial
// sum is stored back to double, so results are reproducible to the bit.
//
// The unit-level work storage `u` and `indx` makes invertnpbynp non-reentrant: call it from one
// thread at a time (the user-interface thread in practice).
#pragma once

#include <cstdint>
#include <string>

#include "tav/fixedarray.h"
#include "tav/maxdata.h"
#include "tav/sysutils.h"

namespace tav {

using npbynp = TFixedMatrix<1, MaxTerms, 1, MaxTerms>;
using mbynp = TFixedMatrix<1, MaxData, 1, MaxTerms>;
using npbym = TFixedMatrix<1, MaxTerms, 1, MaxData>;
using npvector = TFixedVector<double, 0, MaxTerms>;
using mvector = TFixedVector<double, 1, MaxData>;
using glnvmatrix = TFixedVector<npvector, 1, MaxTerms>;
using indexvector = TFixedVector<int32_t, 1, MaxTerms>;

// Put in place of an exactly zero pivot.
inline constexpr double TINY = 1.0E-20;

// Raised by ludecomp after it has shown "Your matrix is singular": the decomposition is abandoned
// and its results must not be used.
class ESingularMatrix : public Exception {
  public:
    using Exception::Exception;
};

namespace Matrix {
// Work storage of invertnpbynp: the unit right-hand sides, then the solution columns, and the
// row-interchange record. Their contents between calls have no meaning.
extern glnvmatrix u;
extern indexvector indx;
}  // namespace Matrix

// The one accumulation step of every sum in the library.
inline double AddProduct(double sum, double a, double b) {
    return static_cast<double>(static_cast<long double>(sum) +
                               static_cast<long double>(a) * static_cast<long double>(b));
}
inline double SubProduct(double sum, double a, double b) {
    return static_cast<double>(static_cast<long double>(sum) -
                               static_cast<long double>(a) * static_cast<long double>(b));
}

// LU decomposition (Crout, implicit partial pivoting) of the leading n x n part of A.
void ludecomp(npbynp& A, int32_t n, indexvector& Indx, double& D);
// Solves A.x = B for one right-hand side with the factors and Indx of ludecomp; B becomes x.
void lubacksub(const npbynp& A, int32_t n, const indexvector& Indx, npvector& B);
// Row j of Y := solution of A.x = e_j, i.e. Y is the transpose of the inverse. A keeps its LU
// factors afterwards.
void invertnpbynp(npbynp& A, npbynp& Y, int32_t n);

void transposembynp(const mbynp& A, npbym& At, int32_t m, int32_t np);
void addunitmbynp(const mbynp& A, mbynp& B, int32_t m, int32_t np);
void multnpbymmbynp(const npbym& A, const mbynp& B, npbynp& P, int32_t m, int32_t np);
void multnpbynpnpbym(const npbynp& A, const npbym& B, npbym& P, int32_t m, int32_t np);
void multnpbymmvector(const npbym& A, const mvector& V, npvector& R, int32_t m, int32_t np);
// V is taken by value: the caller may pass a vector that R's computation would disturb.
void mult1bynpbynpbym(mvector& R, npvector V, const npbym& A, int32_t m, int32_t np);
// R[i] := sum over k = 1..np of V[k] * A[i, k], for i = 1..m (V[0] ignored): the fitted values
// of all records at once, each sum formed as Predict forms its sum, but many records advanced
// together.
void multmbynpnpvector(const mbynp& A, const npvector& V, mvector& R, int32_t m, int32_t np);
void zeroshiftnpvector(npvector& V, int32_t np);
double multmvectors(const mvector& A, const mvector& B, int32_t m);
double multnpvectors(const npvector& A, const npvector& B, int32_t np);
double minmvector(const mvector& V, int32_t m);
double maxmvector(const mvector& V, int32_t m);
void sortmvector(mvector& V, int32_t m);
double min(double a, double b);
double max(double a, double b);

// Text display: with Show non-zero, a message box with the header and the values (precision 6,
// 4 decimals); with Show zero nothing at all.
void shownpbynpmatrix(const npbynp& A, int32_t n, const std::string& Title, uint16_t Show);
void showglnvmatrix(const glnvmatrix& A, int32_t n, const std::string& Title, uint16_t Show);
void showmbynpmatrix(const mbynp& A, int32_t m, int32_t np, const std::string& Title,
                     uint16_t Show);
void shownpbymmatrix(const npbym& A, int32_t m, int32_t np, const std::string& Title,
                     uint16_t Show);
void shownpvector(const npvector& V, int32_t n, const std::string& Title, uint16_t Show);
void showmvector(const mvector& V, int32_t m, const std::string& Title, uint16_t Show);

}  // namespace tav

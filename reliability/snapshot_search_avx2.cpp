// The snapshot search with 256-bit word operations (built with AVX2 enabled;
// the engine calls it only on CPUs that have it). Integer operations only:
// the floating-point steps are those of every other form.
//
// This unit includes nothing from the library but the intrinsics and
// defines everything in it with internal linkage except its entry point:
// an inline library function compiled here would be a shared (weak) symbol
// that the linker may keep for the plain code too, which would then need
// AVX2. The tests check its object for such symbols.
#include <immintrin.h>

#include "reliability/one_pair_search.hpp"
#include "reliability/snapshot_search.hpp"

namespace masks {
namespace {

struct avx2Kit {
  static constexpr std::size_t lanes = 4;
  using pack = __m256i;
  static __m256i load(const bits* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  }
  static __m256i both(__m256i a, __m256i b) { return _mm256_and_si256(a, b); }
  static __m256i butNot(__m256i a, __m256i b) { return _mm256_andnot_si256(b, a); }
  static bits zeros(__m256i v) {
    const __m256i z = _mm256_cmpeq_epi64(v, _mm256_setzero_si256());
    return static_cast<bits>(_mm256_movemask_pd(_mm256_castsi256_pd(z)));
  }
  static bits joins(const bits* s, const bits* d, std::size_t W) {
    bits none = 0;
    for (std::size_t i = 0; i < W; i += 4)
      none |= zeros(_mm256_and_si256(load(s + i), load(d + i))) << i;
    return ~none;
  }
  static bits cut(const bits* from, const bits* keep, bits* to, std::size_t W) {
    bits empty = 0;
    for (std::size_t i = 0; i < W; i += 4) {
      const __m256i v = _mm256_and_si256(load(from + i), load(keep + i));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + i), v);
      empty |= zeros(v) << i;
    }
    return empty;
  }
};

}  // namespace

void searchSnapshotsAvx2(const snapshotView& v, double cutOff, search::totals& t) {
  snapshotSearchSized<avx2Kit>(v, cutOff, t);
}

void searchOnePairAvx2(const pairRow* rows, int live, std::uint64_t alive, double cutOff,
                       search::totals& t, void* frames, const search::laneStore& store) {
  onePairSearch<true>(rows, live, alive, cutOff, t, frames, store);
}

}  // namespace masks

#pragma once
// Error locations, unique by construction.
//
// A location is a five-digit number naming the place that raised an error.
// Each source file of the library owns the ranges listed in `error4units`,
// which may not overlap. A raise site writes its location as E4LOC(n); that
// fails to compile when n lies outside the ranges of the file it is written
// in, and when another E4LOC of the same file already claimed n (g++ reports
// a "redefinition of error4claimed(error4claimTag<n>)" at the second site).
// So two sites never share a number, and a number leads to one site.
//
// A helper that raises at its caller's location plus 0 to k - 1 takes an
// `error4span<k>`, which only an E4LOC converts to: the caller's site then
// claims all k numbers.
#include <cstdint>
#include <string_view>
#include <utility>

struct error4unit {
    std::string_view file;  // the source file's name, without its folder
    int32_t first, last;    // a range of locations it owns
};

// clang-format off
inline constexpr error4unit error4units[] = {
    {"env4release.cpp",    81000, 81099},  // 81004: a release while no environment is live
    {"list4.cpp",          90100, 90199},
    {"mem4.cpp",           90400, 90499},
    {"file4.cpp",          90600, 90699},
    {"table4.cpp",         90700, 90769},
    {"table4file.cpp",     90770, 90799},
    {"lock4.cpp",          90800, 90809},
    {"file4lock.cpp",      90810, 90819},
    {"lock4.cpp",          90820, 90899},
    {"file4seq.cpp",       90900, 90949},
    {"journal4.cpp",       90950, 90999},
    {"env4.cpp",           91000, 91002},
    {"env4release.cpp",    91003, 91003},
    {"env4.cpp",           91004, 91099},
    {"expr4calc.cpp",      91100, 91199},
    {"expr4parse.cpp",     91200, 91299},
    {"expr4eval.cpp",      91300, 91399},
    {"expr4func.cpp",      91400, 91499},
    {"sort4.cpp",          91500, 91599},
    {"tag4.cpp",           92100, 92199},
    {"tag4edit.cpp",       92200, 92299},
    {"index4file.cpp",     92300, 92399},
    {"index4.cpp",         92400, 92499},
    {"buffer4.cpp",        92500, 92599},
    {"index4build.cpp",    92600, 92699},
    {"field4.cpp",         93200, 93299},
    {"table4access.cpp",   93300, 93399},
    {"table4nav.cpp",      93400, 93499},
    {"table4write.cpp",    93500, 93599},
    {"util4.cpp",          94500, 94519},
    {"buffer4.cpp",        94520, 94529},  // u4growBuffer
    {"util4.cpp",          94530, 94539},
    {"buffer4.cpp",        94540, 94549},  // u4allocAgain
    {"util4.cpp",          94550, 94599},
    {"util4.cpp",          95100, 95199},
    {"date4.cpp",          96300, 96359},
    {"key4.cpp",           96360, 96399},
    {"error4.cpp",         96600, 96699},
};
// clang-format on

consteval bool error4unitsApart() {
    for (const error4unit& a : error4units) {
        if (a.first < 10000 || a.last > 99999 || a.first > a.last) return false;
        for (const error4unit& b : error4units)
            if (&a != &b && a.first <= b.last && b.first <= a.last) return false;
    }
    return true;
}
static_assert(error4unitsApart(), "error4units: every range has five digits and no two overlap");

// The last location of the range of `path` that holds n; 0 when none does.
consteval int32_t error4rangeEnd(std::string_view path, int32_t n) {
    size_t slash = path.find_last_of("/\\");
    if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
    for (const error4unit& u : error4units)
        if (u.file == path && n >= u.first && n <= u.last) return u.last;
    return 0;
}

template <int32_t N, int32_t Site, int32_t Last>
struct error4site;

// Locations `first` to `first + K - 1`, claimed by one raise site.
template <int32_t K>
class error4span {
  public:
    template <int32_t I>
    constexpr int32_t at() const {
        static_assert(I >= 0 && I < K, "beyond the locations the site claimed");
        return first_ + I;
    }
    // A helper passes its span on to one that needs no more of it.
    template <int32_t M>
    requires(M <= K) constexpr operator error4span<M>() const { return error4span<M>(first_); }

  private:
    explicit constexpr error4span(int32_t first) : first_(first) {}
    int32_t first_;

    template <int32_t>
    friend class error4span;
    template <int32_t, int32_t, int32_t>
    friend struct error4site;
};

namespace {  // claims are checked within each source file

template <int32_t N>
struct error4claimTag {};

// Defines one function per claimed number: a second claim of N by another site
// defines it again, which the compiler refuses.
template <int32_t N, int32_t Site>
struct error4claimOne {
    friend constexpr int32_t error4claimed(error4claimTag<N>) { return Site; }
};

template <int32_t N, int32_t Site, typename Offsets>
struct error4claimSpan;
template <int32_t N, int32_t Site, int32_t... I>
struct error4claimSpan<N, Site, std::integer_sequence<int32_t, I...>>
    : error4claimOne<N + I, Site>... {};

}  // namespace

template <int32_t N, int32_t Site, int32_t Last>
struct error4site {
    static_assert(Last != 0, "location outside the ranges of this file in error4units");

    template <int32_t K>
    static constexpr int32_t claim() {
        static_assert(N + K - 1 <= Last, "locations run past the range of this file");
        return sizeof(error4claimSpan<N, Site, std::make_integer_sequence<int32_t, K>>) > 0 ? N : 0;
    }
    constexpr operator int32_t() const { return claim<1>(); }
    template <int32_t K>
    constexpr operator error4span<K>() const {
        return error4span<K>(claim<K>());
    }
};

#define E4LOC(n) (error4site<(n), __COUNTER__, error4rangeEnd(__FILE__, (n))>{})

#pragma once
#include <cstddef>
#include <cstdint>

// Texts made at compile time: the launcher's screen texts and log lines that quote one of its
// timings are built from the timing, so that changing the timing changes them too.

template <size_t N> struct CText {
    char s[N] = {}; // NUL-terminated; N counts the NUL
    constexpr const char* c_str() const { return s; }
    static constexpr size_t length() { return N - 1; }
};

template <size_t N> constexpr CText<N> ctext(const char (&lit)[N]) {
    CText<N> t;
    for (size_t i = 0; i < N; ++i)
        t.s[i] = lit[i];
    return t;
}

template <size_t A, size_t B> constexpr CText<A + B - 1> operator+(CText<A> a, CText<B> b) {
    CText<A + B - 1> t;
    for (size_t i = 0; i + 1 < A; ++i)
        t.s[i] = a.s[i];
    for (size_t i = 0; i < B; ++i)
        t.s[A - 1 + i] = b.s[i];
    return t;
}
template <size_t A, size_t B> constexpr CText<A + B - 1> operator+(CText<A> a, const char (&b)[B]) {
    return a + ctext(b);
}
template <size_t A, size_t B> constexpr CText<A + B - 1> operator+(const char (&a)[A], CText<B> b) {
    return ctext(a) + b;
}

namespace ctext_detail {

constexpr size_t digits(uint32_t v) {
    size_t n = 1;
    for (; v >= 10; v /= 10)
        ++n;
    return n;
}

// Whole seconds, or seconds and tenths: "3", "10", "1.5".
constexpr size_t seconds_length(uint32_t ms) {
    return digits(ms / 1000) + (ms % 1000 != 0 ? 2 : 0);
}

constexpr void put_decimal(char* at, size_t n, uint32_t v) {
    for (size_t i = n; i-- > 0; v /= 10)
        at[i] = static_cast<char>('0' + v % 10);
}

} // namespace ctext_detail

// A number in decimal: 3240 -> "3240".
template <uint32_t V> constexpr CText<ctext_detail::digits(V) + 1> decimal_text() {
    CText<ctext_detail::digits(V) + 1> t;
    ctext_detail::put_decimal(t.s, ctext_detail::digits(V), V);
    return t;
}

// A span in ms as the wearer reads it, in seconds: 3000 -> "3", 1500 -> "1.5". Spans are
// written to the tenth; a finer one does not compile.
template <uint32_t MS> constexpr CText<ctext_detail::seconds_length(MS) + 1> seconds_text() {
    static_assert(MS % 100 == 0, "a span the wearer reads is written to the tenth of a second");
    CText<ctext_detail::seconds_length(MS) + 1> t;
    const size_t whole = ctext_detail::digits(MS / 1000);
    ctext_detail::put_decimal(t.s, whole, MS / 1000);
    if (MS % 1000 != 0) {
        t.s[whole] = '.';
        t.s[whole + 1] = static_cast<char>('0' + MS % 1000 / 100);
    }
    return t;
}

// Character classes and scans shared by the rooms of the HTML tokenizer.
#pragma once

#include <QString>
#include <QStringView>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace zentaro::web::htmlchars {

constexpr int kEof = -1;
constexpr char16_t kReplacement = 0xFFFD;

inline bool isAlpha(int c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
inline bool isUpper(int c) {
    return c >= 'A' && c <= 'Z';
}
inline bool isDigit(int c) {
    return c >= '0' && c <= '9';
}
inline bool isAlnum(int c) {
    return isAlpha(c) || isDigit(c);
}
inline bool isHex(int c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
inline bool isSpace(int c) {
    return c == '\t' || c == '\n' || c == '\f' || c == ' ';
}
inline char16_t lower(int c) {
    return char16_t(isUpper(c) ? c + 32 : c);
}

// The first of the three characters at or after from; n when none. Plain text runs are skipped this way,
// eight characters at a time where the processor allows.
inline qsizetype findStop(const char16_t* d, qsizetype from, qsizetype n, char16_t a, char16_t b,
                          char16_t c) {
    qsizetype i = from;
#ifdef __SSE2__
    const __m128i va = _mm_set1_epi16(short(a)), vb = _mm_set1_epi16(short(b)), vc = _mm_set1_epi16(short(c));
    for (; i + 16 <= n; i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i + 8));
        const __m128i mx = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(x, va), _mm_cmpeq_epi16(x, vb)),
                                        _mm_cmpeq_epi16(x, vc));
        const __m128i my = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(y, va), _mm_cmpeq_epi16(y, vb)),
                                        _mm_cmpeq_epi16(y, vc));
        const unsigned mask = unsigned(_mm_movemask_epi8(mx)) | (unsigned(_mm_movemask_epi8(my)) << 16);
        if (mask) return i + (__builtin_ctz(mask) >> 1);
    }
#endif
    for (; i < n; ++i)
        if (d[i] == a || d[i] == b || d[i] == c) return i;
    return n;
}

// Appends the text with its ASCII capitals lowered, in one piece.
inline void appendLowered(QString& to, QStringView s) {
    const qsizetype at = to.size();
    to.append(s);
    char16_t* p = reinterpret_cast<char16_t*>(to.data()) + at;
    for (qsizetype i = 0; i < s.size(); ++i)
        if (p[i] >= u'A' && p[i] <= u'Z') p[i] = char16_t(p[i] + 32);
}

inline bool startsWithNoCase(const char16_t* d, qsizetype at, qsizetype n, const char* word) {
    for (qsizetype k = 0; word[k]; ++k)
        if (at + k >= n || lower(d[at + k]) != word[k]) return false;
    return true;
}

inline bool startsWith(const char16_t* d, qsizetype at, qsizetype n, const char* word) {
    for (qsizetype k = 0; word[k]; ++k)
        if (at + k >= n || d[at + k] != char16_t(word[k])) return false;
    return true;
}

} // namespace zentaro::web::htmlchars

/* What the string functions share for reading a word at a time, and the
 * low-address rule. Private to the library. */
#ifndef RIDID_STRING_WORDS_H
#define RIDID_STRING_WORDS_H

namespace ridid {

// A pointer below 4096 counts as an absent string.
inline bool is_low(const void* p) { return reinterpret_cast<unsigned long>(p) < 4096; }

// A 32-bit load from an aligned address that may alias anything.
typedef unsigned int __attribute__((may_alias)) word;

enum : unsigned int { ONES = 0x01010101u, HIGHS = 0x80808080u };

inline bool aligned(const void* p) { return (reinterpret_cast<unsigned long>(p) & 3) == 0; }

// The quick test: false exactly when every byte of w is in 1..0x80. Every
// word with a zero byte passes it, and so does any with a byte above 0x80.
inline bool may_hold_zero(unsigned int w) { return ((w - ONES) & HIGHS) != 0; }

// The exact test: true when w holds a zero byte.
inline bool has_zero(unsigned int w) { return ((w - ONES) & ~w & HIGHS) != 0; }

}  // namespace ridid

// The word loops read past a string's terminator, up to the end of its last
// word; the address checks of host test builds would report that.
#define WORD_READS __attribute__((no_sanitize("address")))

#endif

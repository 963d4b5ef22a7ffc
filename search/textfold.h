#pragma once
// The text fold behind the search that ignores kana and width: two texts that a Japanese reader
// takes for the same word fold to the same text.

#include <QString>

namespace search {

// Folds a text for comparison: compatibility forms to their usual form (half-width katakana,
// full-width letters and digits, composed voiced marks; Unicode NFKC), hiragana to katakana
// (ゔ, small kana and the iteration marks too), the hyphens and minus signs to "-" and the wave
// dash to "~" (as the full-width tilde already becomes), then letter case. Long-vowel marks and
// the middle dot stay as written, as do small kana, which are not made large.
QString foldForSearch(QString text);

// The dash a hyphen, minus sign or wave dash becomes in the fold after the normaliser, or 0 for
// any other character. People type phone numbers and ranges with whichever of them their input
// method offers.
char16_t foldedDash(char32_t c);

}  // namespace search

#pragma once
// Which characters of a stored text can become a given character of a folded text. The folded
// search uses it to let the database engine pass over cards that cannot match: a card whose
// folded text holds the folded keyword must hold, as stored, one of the sources of each of the
// keyword's characters that no composition produces.

#include <QString>

#include <optional>
#include <vector>

namespace search {

// Every character whose fold holds c (c itself among them when it folds to itself).
std::vector<char32_t> foldSources(char32_t c);

// The fewest sources over the folded keyword's characters that composition never produces (a
// voiced kana can be made of two stored characters, a kanji cannot), or nothing when every such
// character has more than limit sources, or the keyword has none.
std::optional<std::vector<char32_t>> fewestSources(const QString& foldedKeyword, std::size_t limit);

}  // namespace search

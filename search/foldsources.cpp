#include "foldsources.h"

#include "textfold.h"

#include <QChar>
#include <QList>

#include <algorithm>
#include <utility>

namespace search {

namespace {

constexpr char32_t kLastCodePoint = 0x10FFFF;

// A character that the fold may change or that holds a decomposition; any other folds to itself.
bool mayFoldOtherwise(char32_t c) {
    return QChar::decompositionTag(c) != QChar::NoDecomposition || QChar::toCaseFolded(c) != c ||
           QChar::toLower(c) != c || (c >= 0x3041 && c <= 0x309F);  // hiragana
}

// (folded character, source) pairs for every character that the fold changes or that holds a
// decomposition, sorted; about twelve thousand pairs, built once at the first folded search.
using SourcePairs = std::vector<std::pair<char32_t, char32_t>>;

const SourcePairs& sourcePairs() {
    static const SourcePairs pairs = [] {
        SourcePairs p;
        for (char32_t c = 0; c <= kLastCodePoint; ++c) {
            if (QChar::isSurrogate(c) || !mayFoldOtherwise(c))
                continue;
            for (const char32_t f : foldForSearch(QString::fromUcs4(&c, 1)).toUcs4())
                p.emplace_back(f, c);
        }
        std::sort(p.begin(), p.end());
        p.erase(std::unique(p.begin(), p.end()), p.end());
        p.shrink_to_fit();
        return p;
    }();
    return pairs;
}

}  // namespace

std::vector<char32_t> foldSources(char32_t c) {
    std::vector<char32_t> sources;
    // Any character the table leaves out folds to itself alone.
    if (!mayFoldOtherwise(c))
        sources.push_back(c);
    const SourcePairs& pairs = sourcePairs();
    const auto first = std::lower_bound(pairs.begin(), pairs.end(), std::pair<char32_t, char32_t>(c, 0));
    for (auto it = first; it != pairs.end() && it->first == c; ++it)
        sources.push_back(it->second);
    return sources;
}

std::optional<std::vector<char32_t>> fewestSources(const QString& foldedKeyword, std::size_t limit) {
    std::optional<std::vector<char32_t>> fewest;
    for (const char32_t c : foldedKeyword.toUcs4()) {
        if (QChar::decompositionTag(c) == QChar::Canonical)
            continue;  // composition can make it out of two stored characters
        std::vector<char32_t> sources = foldSources(c);
        if (!sources.empty() && sources.size() <= limit && (!fewest || sources.size() < fewest->size()))
            fewest = std::move(sources);
    }
    return fewest;
}

}  // namespace search

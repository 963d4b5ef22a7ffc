#include "foldsources.h"

#include "textfold.h"

#include <QByteArrayView>
#include <QChar>
#include <QList>

#include <algorithm>
#include <tuple>

namespace search {

namespace {

constexpr char32_t kLastCodePoint = 0x10FFFF;

// The engine checks a run's first character at every place of a text and the next ones only
// where the previous matched: a longer run costs little and leaves out more cards, but beyond a
// few characters hardly any more.
constexpr std::size_t kLongestRun = 4;

// A character that the fold may change or that holds a decomposition; any other folds to itself.
bool mayFoldOtherwise(char32_t c) {
    return QChar::decompositionTag(c) != QChar::NoDecomposition || QChar::toCaseFolded(c) != c ||
           QChar::toLower(c) != c || (c >= 0x3041 && c <= 0x309F)  // hiragana
           || foldedDash(c) != 0;
}

struct SourcePair {
    char32_t folded;
    char32_t source;
    bool alone;  // the source folds to this character and nothing else

    bool operator<(const SourcePair& o) const {
        return std::tie(folded, source, alone) < std::tie(o.folded, o.source, o.alone);
    }
    bool operator==(const SourcePair& o) const = default;
};
using SourcePairs = std::vector<SourcePair>;

// A pair for every character of the fold of every character that the fold changes or that holds
// a decomposition, sorted by folded character; about twelve thousand, built once at the first
// folded search.
const SourcePairs& sourcePairs() {
    static const SourcePairs pairs = [] {
        SourcePairs p;
        for (char32_t c = 0; c <= kLastCodePoint; ++c) {
            if (QChar::isSurrogate(c) || !mayFoldOtherwise(c))
                continue;
            const QList<uint> folded = foldForSearch(QStringView(QChar::fromUcs4(c)).toString()).toUcs4();
            for (const char32_t f : folded)
                p.push_back({f, c, folded.size() == 1});
        }
        std::sort(p.begin(), p.end());
        p.erase(std::unique(p.begin(), p.end()), p.end());
        p.shrink_to_fit();
        return p;
    }();
    return pairs;
}

struct SplitSources {
    std::vector<char32_t> alone;
    std::vector<char32_t> expanding;
};

SplitSources splitSources(char32_t c) {
    SplitSources s;
    if (!mayFoldOtherwise(c))
        s.alone.push_back(c);
    const SourcePairs& pairs = sourcePairs();
    auto it = std::lower_bound(pairs.begin(), pairs.end(), SourcePair{c, 0, false});
    for (; it != pairs.end() && it->folded == c; ++it)
        (it->alone ? s.alone : s.expanding).push_back(it->source);
    std::sort(s.alone.begin(), s.alone.end());
    return s;
}

// Whether a character of a folded text always comes from one stored character of its own:
// composition never makes it (voiced kana, accented letters, Hangul syllables) and it never
// joins the character before it (marks).
bool mayStandInRun(char32_t c) {
    const bool hangulSyllable = c >= 0xAC00 && c <= 0xD7A3;
    const QChar::Category category = QChar::category(c);
    const bool mark = category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining ||
                      category == QChar::Mark_Enclosing;
    return !hangulSyllable && !mark && QChar::combiningClass(c) == 0 &&
           QChar::decompositionTag(c) != QChar::Canonical;
}

// Characters that mean something in a SIMILAR TO pattern; each is written after the escape "\".
bool isPatternSpecial(char32_t c) {
    return c < 0x80 && QByteArrayView("[]()|^-+*%_?{}\\").contains(char(c));
}

QString patternCharacter(char32_t c) {
    const QString one = QStringView(QChar::fromUcs4(c)).toString();
    return isPatternSpecial(c) ? QLatin1Char('\\') + one : one;
}

QString patternClass(const std::vector<char32_t>& characters) {
    if (characters.size() == 1)
        return patternCharacter(characters.front());
    QString out = QStringLiteral("[");
    for (const char32_t c : characters)
        out += patternCharacter(c);
    return out + QLatin1Char(']');
}

bool holds(const std::vector<char32_t>& sorted, uint c) {
    return std::binary_search(sorted.begin(), sorted.end(), char32_t(c));
}

}  // namespace

std::vector<char32_t> foldSources(char32_t c) {
    SplitSources s = splitSources(c);
    s.alone.insert(s.alone.end(), s.expanding.begin(), s.expanding.end());
    std::sort(s.alone.begin(), s.alone.end());
    return s.alone;
}

bool HeldRun::heldBy(const QString& stored) const {
    const QList<uint> text = stored.toUcs4();
    if (std::any_of(text.begin(), text.end(), [&](uint c) { return holds(expanding, c); }))
        return true;
    for (qsizetype start = 0; start + qsizetype(run.size()) <= text.size(); ++start) {
        std::size_t i = 0;
        while (i < run.size() && holds(run[i], text[start + qsizetype(i)]))
            ++i;
        if (i == run.size())
            return true;
    }
    return false;
}

QString HeldRun::similarToPattern() const {
    QString sequence;
    for (const std::vector<char32_t>& sources : run)
        sequence += patternClass(sources);
    if (expanding.empty())
        return QLatin1Char('%') + sequence + QLatin1Char('%');
    return QStringLiteral("%(") + sequence + QLatin1Char('|') + patternClass(expanding) +
           QStringLiteral(")%");
}

std::optional<HeldRun> heldRun(const QString& foldedKeyword) {
    const QList<uint> keyword = foldedKeyword.toUcs4();
    std::vector<SplitSources> sources;
    std::vector<bool> runnable;
    for (const char32_t c : keyword) {
        sources.push_back(splitSources(c));
        runnable.push_back(mayStandInRun(c) && !sources.back().alone.empty());
    }
    // Each place's longest run starting there, capped.
    std::vector<std::size_t> length(keyword.size() + 1, 0);
    for (std::size_t i = keyword.size(); i-- > 0;)
        length[i] = runnable[i] ? std::min(length[i + 1] + 1, kLongestRun) : 0;
    const std::size_t longest = *std::max_element(length.begin(), length.end());
    if (longest == 0)
        return std::nullopt;
    std::size_t best = 0;
    bool found = false;
    for (std::size_t i = 0; i + 1 < length.size(); ++i) {
        if (length[i] == longest && (!found || sources[i].alone.size() < sources[best].alone.size())) {
            best = i;
            found = true;
        }
    }
    HeldRun held;
    for (std::size_t i = best; i < best + longest; ++i) {
        held.run.push_back(sources[i].alone);
        held.expanding.insert(held.expanding.end(), sources[i].expanding.begin(), sources[i].expanding.end());
    }
    std::sort(held.expanding.begin(), held.expanding.end());
    held.expanding.erase(std::unique(held.expanding.begin(), held.expanding.end()), held.expanding.end());
    return held;
}

}  // namespace search

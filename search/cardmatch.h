#pragma once
// Matching cards by a keyword with kana, width and letter case folded away, on the client: the
// card table is made outside the program, so no folded column or index can be kept beside it.

#include "cards.h"

#include <QLatin1StringView>
#include <QString>

#include <array>

namespace search {

// A keyword folded once, looked up in cell texts folded as they are read. "%" and "_" are plain
// characters here; an empty keyword is found in every text.
class FoldedKeyword final {
public:
    explicit FoldedKeyword(const QString& keyword);
    bool foundIn(QString text) const;
    const QString& folded() const { return m_folded; }

private:
    QString m_folded;
};

// Whether the folded search in the setting remembered between runs is switched on (off unless
// the user switched it on).
bool foldedSearchOn();
void setFoldedSearchOn(bool on);

}  // namespace search

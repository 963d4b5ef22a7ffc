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

// How the card list's keyword search compares texts. The program keeps one, read from the user's
// settings at start-up; the main menu's option switches it.
struct SearchOptions {
    bool foldKanaAndWidth = false;  // kana, width and letter case folded away
};

}  // namespace search

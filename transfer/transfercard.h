#pragma once
// What every transfer action works with: one card as it travels between the card file and the
// files outside it, and the failure that ends an action with a message for the user.

#include "cards.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <stdexcept>

class CardDatabase;

namespace transfer {

// A transfer action refused or failed; the text is the Japanese message for the user. Nothing in
// the card file has changed when it is thrown.
class TransferError : public std::runtime_error {
public:
    explicit TransferError(const QString& text) : std::runtime_error(text.toStdString()) {}
    QString text() const { return QString::fromUtf8(what()); }
};

// A picture that came with a card from a file, for the new card's picture folder.
struct Picture {
    QByteArray bytes;
    QString suffix;  // "jpg", "png"...
};

struct Card {
    QString key;  // the stored key; empty for a card read from a file
    cards::CardTexts texts;
    bool deleted = false;
    int origin = 0;  // where a card read from a file starts: its line (CSV) or its number (vCard)
    // From a file: what the card has no box for, as the labelled lines added to the memo; what
    // was not kept (said to the user); the pictures that decode as pictures.
    QStringList memoLines;
    QStringList leftOut;
    QList<Picture> pictures;
};

// Progress of a long action: a line of report, and how far along it is (0..100, or -1 unknown).
using Progress = std::function<void(const QString& line, int percent)>;

// Walks the stored cards from the newest (highest key) down; deleted cards only when asked.
void forEachStoredCard(CardDatabase& dm, bool withDeleted, const std::function<void(const Card&)>& visit);

using cards::ColumnLimits;

// A text's length as the card's columns count it: in characters, a line break (CR LF) two.
int textLength(const QString& text);

// Appends labelled lines to the card's memo, each on a line of its own, in the order given, as
// long as the memo stays within its limit; the lines that do not fit go to leftOut.
void appendMemoLines(Card& card, const QStringList& lines);

// True when both paths lead to one existing file (links and relative paths resolved).
bool sameFile(const QString& a, const QString& b);

// Date parts as one text: "2026/1/31" keeps each part exactly as stored; empty when all are.
QString joinDate(const cards::CardTexts& t);

}  // namespace transfer

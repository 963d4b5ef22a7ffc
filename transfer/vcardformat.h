#pragma once
// Cards as vCard 3.0 (written) and vCard 2.1, 3.0 or 4.0 (read): one vCard per card, lines folded
// at 75 octets, texts escaped. Read as phones and address books write them: a character set and
// quoted-printable per property, nameless parameters, grouped properties, alternative languages.

#include "transfercard.h"

#include <QByteArray>
#include <QList>
#include <QPair>

#include <memory>

class QIODevice;

namespace transfer::vcard {

// What ties an exported card to its card file, so that address books know it again.
struct ExportContext {
    QString cardFile;  // the card file's path; with the key it makes the card's UID
};

// One card as a vCard with CR LF line ends, appended to out.
void appendCard(QByteArray& out, const Card& card, const ExportContext& context = {});

// One property as the file holds it, lines unfolded, its value not decoded yet.
struct Property {
    QByteArray group;                             // "ITEM1" of "item1.EMAIL", upper case
    QByteArray name;                              // upper case
    QList<QPair<QByteArray, QByteArray>> params;  // names upper case; nameless ones named TYPE or ENCODING
    QByteArray value;
    bool has(QByteArrayView paramName, QByteArrayView value) const;  // value compared in any case
    QByteArray param(QByteArrayView paramName) const;                // the first value, or empty
};

// One vCard as a card: texts in their boxes, what has no box as labelled memo lines, pictures.
// Throws TransferError naming the card (counted from 1) when it cannot be read.
Card cardFrom(const QList<Property>& properties, int number);

// Reads the vCards of a file one after another from a place where one starts, without holding
// the file: each card's properties, its number and its byte offset.
class CardReader {
public:
    CardReader(QIODevice& device, qint64 offset, int number);
    ~CardReader();
    CardReader(const CardReader&) = delete;
    CardReader& operator=(const CardReader&) = delete;
    // False after the last card. Throws TransferError naming the card of a malformed line.
    bool next(QList<Property>& properties, int& number, qint64& offset);

private:
    struct State;
    std::unique_ptr<State> m;
};

}  // namespace transfer::vcard

#pragma once
// Cards as vCard 3.0 (written) and vCard 3.0 or 4.0 (read): one vCard per card, lines folded at
// 75 octets, texts escaped.

#include "transfercard.h"

#include <QByteArray>

namespace transfer::vcard {

// One card as a vCard with CR LF line ends, appended to out.
void appendCard(QByteArray& out, const Card& card);

// Reads every vCard in decoded text. Throws TransferError naming the card (counted from 1) that
// cannot be read.
QList<Card> parse(const QString& text);

}  // namespace transfer::vcard

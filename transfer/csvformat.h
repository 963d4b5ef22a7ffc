#pragma once
// Cards as comma-separated text: UTF-8 with a byte-order mark and CR LF line ends, one header row
// in Japanese, fields quoted where they hold a comma, a quote or a line break.

#include "transfercard.h"

#include <QByteArray>
#include <QStringList>

namespace transfer::csv {

// The header row's column names, in the order the writer puts them.
const QStringList& columnNames();

// The byte-order mark and the header row.
QByteArray header();
// One card as a row, CR LF included, appended to out.
void appendRow(QByteArray& out, const Card& card);

// Reads cards from decoded text in the writer's layout (columns found by their header names, in
// any order; unknown columns refused). Rows of empty fields are passed over. Throws TransferError
// naming the line of a malformed row.
QList<Card> parse(const QString& text);

}  // namespace transfer::csv

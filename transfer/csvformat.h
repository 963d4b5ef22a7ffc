#pragma once
// Cards as comma-separated text: UTF-8 with a byte-order mark and CR LF line ends, one header row
// in Japanese, fields quoted where they hold a comma, a quote or a line break.

#include "textdecode.h"
#include "transfercard.h"

#include <QByteArray>
#include <QStringList>

#include <memory>

class QIODevice;

namespace transfer::csv {

// The header row's column names, in the order the writer puts them.
const QStringList& columnNames();

// The byte-order mark and the header row.
QByteArray header();
// One card as a row, CR LF included, appended to out.
void appendRow(QByteArray& out, const Card& card);

// Where a column of a file goes: a box of the card, a labelled memo line, or nowhere.
enum class Box {
    LeftOut,
    Key,  // our own export's key column: read, never written (a new card gets a new key)
    Date,
    Name,
    FamilyName,
    GivenName,
    Reading,
    FamilyReading,
    GivenReading,
    Organisation,
    Department,
    Position,
    Memo,
    Deleted,
    MemoLine,   // a labelled line of the memo
    LineLabel,  // the label of another column's memo lines ("Phone 1 - Type": "Mobile")
};

// Kinds of memo lines, in the order they are added to the memo.
enum class LineKind { Phone, Mail, Address, Web, Birthday, Nickname, OrganisationReading, Other };

struct ColumnTarget {
    QString header;  // as the file names it
    Box box = Box::LeftOut;
    QString label;  // a memo line's label
    LineKind kind = LineKind::Other;
    int labelFrom = -1;  // the column whose text adds to the label, for Google's "- Value" columns
};

struct Columns {
    QList<ColumnTarget> targets;  // one per column of the header row
    int count() const { return int(targets.size()); }
    // The columns that go nowhere, by their header names (empty header cells left out).
    QStringList leftOut() const;
};

// Where a column goes, in words: "名前（姓）", "メモ（電話）", "読み込まない".
QString describe(const ColumnTarget& target);

// What the user may choose for a column in the import window, with their words.
struct Choice {
    Box box;
    QString caption;
};
const QList<Choice>& choices();
// A column sent to another box: the label of a memo line is its header.
ColumnTarget retargeted(const ColumnTarget& target, Box box);

// The columns of a header row: our own export's names, the columns of address books' and
// spreadsheets' exports (Google, Outlook in Japanese and English, a sheet with a 電話 column), an
// unknown column left out, never refused. Throws TransferError naming the line when no column
// gives a name or a reading.
Columns readHeader(const QStringList& header, int line);
// Refuses columns that give neither a name nor a reading.
void checkColumns(const Columns& columns, int line);

// One row as a card; false for a row of empty fields, which is passed over. Throws TransferError
// naming the line of a row that does not fit the header or holds a bad date or mark.
bool cardFrom(const Columns& columns, const QStringList& fields, int line, Card& card);

// Reads the rows of a CSV file one after another from a place in it where a row starts, without
// holding the file: each row's fields, the line it starts on and its byte offset.
class RowReader {
public:
    RowReader(QIODevice& device, Encoding encoding, qint64 offset, int line);
    ~RowReader();
    RowReader(const RowReader&) = delete;
    RowReader& operator=(const RowReader&) = delete;
    // False at the end of the file. Throws TransferError naming the line of a malformed row.
    bool next(QStringList& fields, int& line, qint64& offset);

private:
    struct State;
    std::unique_ptr<State> m;
};

}  // namespace transfer::csv

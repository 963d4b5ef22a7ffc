#pragma once
// Bringing cards in from a CSV or vCard file: read and check the whole file first, list the cards
// that are likely already stored, then read the file again and write the chosen cards as new
// cards in one transaction. The file is never held whole: memory stays small whatever its size.

#include "csvformat.h"
#include "textdecode.h"
#include "transfercard.h"

#include <QDateTime>
#include <QSet>

namespace transfer {

enum class FileFormat { Csv, VCard };

// Where a card starts in the file, so that the second reading can begin there.
struct FilePlace {
    qint64 offset = 0;
    int line = 1;    // CSV: the line the card's row starts on
    int number = 0;  // vCard: cards before this one
};

struct ImportPlan {
    QString path;
    FileFormat format = FileFormat::Csv;
    QString encoding;  // "UTF-8", "Shift-JIS" or, for a vCard of mixed properties, both
    FileEncoding fileEncoding;
    csv::Columns columns;
    int cardCount = 0;
    // The first cards of the file as they will be written (pictures without their bytes), for
    // showing what goes where before anything is written.
    QList<Card> preview;
    QList<int> duplicates;       // positions in the file of the cards whose name and organisation are stored
    QList<Card> duplicateCards;  // their texts, in the same order
    QStringList
        leftOutNotes;  // "3 件目のカード: 画像として読めない PHOTO", for the first cards that have any
    QList<FilePlace> blocks;  // where each run of cards read again together starts
    qint64 fileSize = 0;
    QDateTime fileModified;
};

// How many cards of the file the plan keeps in full for showing.
constexpr int kPreviewCards = 100;

// Reads and checks the file and finds likely duplicates among the live stored cards. A CSV's
// columns go where their header names say, or where columns says (the user's choice, one target
// per column of the header row). Throws TransferError with the line or card at fault; nothing is
// written.
ImportPlan planImport(CardDatabase& dm, const QString& path, const csv::Columns* columns = nullptr);

// The same texts give the same key after Unicode compatibility folding (full-width letters and
// digits, half-width kana) with every space removed. A card without a name is known by its
// reading and organisation instead.
QString duplicateKey(const QString& name, const QString& organisation, const QString& reading = {});

// Where a card of the plan came from, for messages and lists: "12 行目" or "3 件目".
QString originText(const ImportPlan& plan, const Card& card);

// Writes every card of the plan except the duplicates not taken, each as a new card with a key
// from the trigger, all in one transaction: all of them or none. The file is read again and must
// be as it was when planned. Pictures go to the new cards' picture folders. Returns the number
// written.
int runImport(CardDatabase& dm, const ImportPlan& plan, const QSet<int>& takenDuplicates,
              const Progress& progress = {});

// Writes one card and its pictures (named photo1, photo2... in its new picture folder) as a new
// card, committed with its pictures or not at all. Returns the new card's key.
int registerNewCard(CardDatabase& dm, const Card& card);

}  // namespace transfer

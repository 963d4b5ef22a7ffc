#pragma once
// Bringing cards in from a CSV or vCard file: read and check the whole file first, list the cards
// that are likely already stored, then write the chosen cards as new cards in one transaction.

#include "transfercard.h"

#include <QSet>

namespace transfer {

enum class FileFormat { Csv, VCard };

struct ImportPlan {
    FileFormat format = FileFormat::Csv;
    QString encoding;
    QList<Card> cards;
    QList<int> duplicates;  // positions in cards of those whose name and organisation are stored
};

// Reads and checks the file and finds likely duplicates among the live stored cards. Throws
// TransferError with the line or card at fault; nothing is written.
ImportPlan planImport(CardDatabase& dm, const QString& path);

// The same texts give the same key after Unicode compatibility folding (full-width letters and
// digits, half-width kana) with every space removed.
QString duplicateKey(const QString& name, const QString& organisation);

// Where a card of the plan came from, for messages and lists: "12 行目" or "3 件目".
QString originText(const ImportPlan& plan, const Card& card);

// Writes every card of the plan except the duplicates not taken, each as a new card with a key
// from the trigger, all in one transaction: all of them or none. Returns the number written.
int runImport(CardDatabase& dm, const ImportPlan& plan, const QSet<int>& takenDuplicates,
              const Progress& progress = {});

}  // namespace transfer

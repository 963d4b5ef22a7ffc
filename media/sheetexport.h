#pragma once
// The card sheet: one card with its pictures laid out on a new spreadsheet workbook.

#include "cardfolder.h"
#include "cards.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace sheet {

struct WrittenSheet {
    QStringList placed;   // picture entries on the sheet, in their order
    QStringList skipped;  // entries of the picture folder that never look like pictures
    // Entries named like pictures that cannot be shown: the user is told about these.
    QStringList refused;
    QStringList refusedReasons;
};

// Creates a new empty file in folder under a name no earlier sheet has and returns its path;
// nothing is ever overwritten. Throws when the folder takes no new file.
QString reserveSheetFile(const QString& folder, const QString& baseId, const QDateTime& now);
// A text as a cell of the workbook holds it: characters that XML cannot carry, and text that
// reads like such an escape, written as _xHHHH_, which spreadsheet programs read back.
QString cellText(const QString& text);
// A text for an attribute such as a picture's description, with characters that XML cannot
// carry replaced by U+FFFD.
QString attributeText(const QString& text);
// Column width in character units that a spreadsheet's column fit gives these texts in the
// workbook's standard font.
double fittedColumnWidth(const QStringList& texts);

// Writes the workbook of one card to outputPath: the texts (memo lines separated by CR LF) and
// the readable pictures of pictureFolder. Throws SheetError with a message for the user.
WrittenSheet writeCardSheet(const cards::CardTexts& texts, const QString& pictureFolder,
                            const QString& outputPath);

struct ExportedSheet {
    QString path;  // the new workbook
    WrittenSheet written;
};

// Writes a new workbook for the card with this base-ID and texts into the card folder's sheets
// folder, with the pictures of its picture folder. Throws SheetError; a half-written file is
// removed.
ExportedSheet exportCard(const CardFolder& cardFolder, const QString& baseId, const cards::CardTexts& texts,
                         const QDateTime& now);

}  // namespace sheet

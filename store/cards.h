#pragma once
// Every statement the program runs against the card table MST_CAR, and the two write sequences.

#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <optional>

#include "dbstatement.h"

class CardDatabase;

namespace cards {

// The editor's texts of one card, written exactly as the boxes hold them. Filled by name
// (designated initialisers); a text not named is empty.
struct CardTexts {
    QString name{};          // SYASYU
    QString reading{};       // HURIGANA
    QString organisation{};  // KATABAN
    QString department{};    // KYORI
    QString position{};      // KINGAKU
    QString memo{};          // MEMO, lines separated by CR LF
    QString year{};          // LYEAR
    QString month{};         // LMONTH
    QString day{};           // LDAY
};

bool operator==(const CardTexts&, const CardTexts&);  // every text exactly

// The longest text each field of a card takes, in characters, and the date parts' digit counts,
// as the card table declares its columns (schema.sql). The windows and the import read them here.
struct ColumnLimits {
    static constexpr int name = 150, reading = 150, organisation = 150, department = 150, position = 100,
                         memo = 5000, year = 4, month = 2, day = 2;
};

enum class CardState { Live, Deleted };

// Whether a stored DEL_FLG1 text is exactly the one the program writes for the state. Only
// "-1" marks a deleted card, so a flag of any other text (left by another program) reads as
// live but is written as neither.
bool flagIsWrittenFor(QStringView storedFlag, CardState state);
CardState stateOfFlag(QStringView storedFlag);

// One stored card as read back: its texts and whether it is deleted.
struct Card {
    CardTexts texts;
    CardState state = CardState::Live;
    bool operator==(const Card&) const = default;
};

// A card rewrite on a server refused because someone else changed the card since this editor
// loaded it; current is the card as it is stored now.
class CardChanged : public DbError {
public:
    explicit CardChanged(Card current);
    Card current;
};

// A card that is no longer in the table (removed by another program or person).
class CardGone : public DbError {
public:
    explicit CardGone(const QString& keyText);
};

enum class SearchField { Name, Organisation, Memo };

// The columns the search that ignores kana and width reads for a field: the field's own column,
// then its companion (the reading for the name, the department for the organisation) if it has
// one. The search hands them back to prepareSearchSimilarTo and openFiltered as they are.
QStringList foldedSearchColumns(SearchField field);

// The fields of a card row, for reading one field of many rows.
enum class CardField { Key, Name, Reading, Organisation, Department, Position, Memo, Year, Month, Day, Flag };

// Reads the current row of a card query (search, fetch, every card) as a card. The columns are
// found once, when the reader is made on the statement with its result open, so that reading
// many rows costs no lookup by name. The statement must keep that result while the reader is used.
class CardReader final {
public:
    explicit CardReader(const DbStatement& q);
    QString text(CardField field) const;
    QString keyText() const { return text(CardField::Key); }
    CardTexts texts() const;
    CardState state() const;
    // Whether the stored flag is exactly the one written for the state (see flagIsWrittenFor).
    bool flagIsWrittenFor(CardState state) const;
    Card card() const;

private:
    const DbStatement& m_q;
    std::array<int, 11> m_columns{};
};

// Sets up the search query of the field with the pattern "%" + keyword + "%"; the caller runs it.
void prepareSearch(DbStatement& q, SearchField field, const QString& keyword);
// Sets up the search query's columns and order with rows kept where one of the columns matches
// the pattern (SIMILAR TO with "\\" as its escape, compared by code point whatever the column's
// collation) or is the memo and holds more than 600 bytes; with firstColumnRequired only rows
// whose first column has a value, as the name search leaves out cards without a name. The
// caller runs it and decides on the rows it keeps. A column whose character set is not UTF-8
// makes the statement fail.
void prepareSearchSimilarTo(DbStatement& q, const QStringList& columns, const QString& pattern,
                            bool firstColumnRequired);
// The longest pattern, in characters, that prepareSearchSimilarTo takes.
constexpr qsizetype kLongestSimilarToPattern = 1000;
// Sets up the query of every card, whatever its texts (a name left empty by another program
// too), ascending by key; the caller runs it.
void prepareAllCards(DbStatement& q);
// Sets up the card fetch query for the key text (read as a decimal integer); the caller runs it.
void prepareFetch(DbStatement& q, const QString& keyText);
// Runs the card insert with KEY1 bound as text (the database turns it into the integer). With
// returningKey the insert also gives back the row's key as the column KEY1 of its result.
void insertCard(DbStatement& q, const QString& keyText, const CardTexts& card, CardState state,
                bool returningKey = false);
// The key that the last insert run with returningKey gave back.
int returnedKey(const DbStatement& q);
// Writes the texts and the state's flag over the card's row, found by its key; returns the
// number of rows written (0 when the card is not in the table).
int updateCard(DbStatement& q, const QString& keyText, const CardTexts& card, CardState state);
// Switches the key trigger on; the caller commits, after which the switch is in force.
void triggerOn(DbStatement& q);
// The largest key in the table ("ANS"); 0 for an empty table.
int newestKey(DbStatement& q);

// The card with this key, or nothing when no row has it.
std::optional<Card> fetchCard(CardDatabase& dm, int key);

// Whether the key trigger TRG_CAR is there and active.
enum class TriggerState { Active, Inactive, Missing };
TriggerState triggerState(DbStatement& q);
// Makes TRG_CAR active again if an interrupted older program left it switched off, committed
// before anything else runs; refuses (DbError) a card file without the trigger, since a new card
// would then keep the key 0. Returns true when it had to switch the trigger on.
bool ensureTriggerActive(CardDatabase& dm);

// New card: the insert with key 0, so that the trigger gives the key, committed at once so that
// a card reported as saved survives whatever happens to the process afterwards. The trigger is
// made active first if it was left off. On a server, where other people insert cards at the
// same time, the insert returns the key the trigger gave this very row; alone on the embedded
// engine the key is read afterwards with the newest key query (newCardKey).
std::optional<int> newCardInsert(CardDatabase& dm, const CardTexts& card);
// The new card's key: the one the insert returned, else the newest key in the table.
int newCardKey(CardDatabase& dm, std::optional<int> insertedKey);

// Writes the card again under its key in the given state, as one update of its row in one
// transaction. No row is ever removed and no key is ever supplied to an insert, so the card keeps
// its key whatever the table's trigger does, and a crash at any moment (commit included) leaves
// the old or the new version of the row, once. A card whose row is gone is refused with a
// message (CardGone), and nothing is written.
// On a server, given the card as the editor loaded it, the row is locked and compared first:
// when someone else has changed it meanwhile, CardChanged is thrown and nothing is written
// (pass no loaded card to overwrite their change).
void cardRewrite(CardDatabase& dm, const QString& keyText, const CardTexts& card, CardState state,
                 const Card* loaded = nullptr);

// Reads a key text as the integer the statements bind; a text that is no integer is refused
// with a message.
int keyFromText(const QString& keyText);

// The card's row, locked against other people's writes until this transaction ends; nothing
// when no row has the key.
std::optional<Card> lockCard(DbStatement& q, int key);

// Tells the step observer that a write sequence reaches the named step.
void step(const char* name);

// Test seam: called before each step of the write sequences, with the step's name
// ("insert", "update", "commit", "committed").
void setStepObserver(std::function<void(const char* step)> observer);

}  // namespace cards

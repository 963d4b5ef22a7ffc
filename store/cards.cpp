#include "cards.h"

#include "carddatabase.h"

namespace cards {

namespace {

const QString kLive = QStringLiteral("1");
const QString kDeleted = QStringLiteral("-1");

// The longest text, in bytes, that the engine matches against a search pattern: two hundred
// kana or kanji. Its length in bytes is at hand without reading the text.
constexpr int kLongestTextMatched = 600;

const QString& flagText(CardState state) {
    return state == CardState::Deleted ? kDeleted : kLive;
}

std::function<void(const char*)>& stepObserver() {
    static std::function<void(const char*)> observer;
    return observer;
}

void addLines(DbStatement& q, std::initializer_list<const char*> lines) {
    for (const char* line : lines)
        q.sql.add(QString::fromUtf8(line));
}

void setLines(DbStatement& q, std::initializer_list<const char*> lines) {
    q.sql.clear();
    addLines(q, lines);
}

// The first lines of every statement that reads whole cards: all their columns, from the table.
void selectCards(DbStatement& q) {
    setLines(q, {"SELECT", "  KEY1,", "  SYASYU,", "  KATABAN,", "  KINGAKU,", "  KYORI,", "  MEMO,",
                 "  LYEAR,", "  LMONTH,", "  LDAY,", "  HURIGANA,", "  DEL_FLG1", "FROM", "  MST_CAR"});
}

// The card's texts and flag, bound to the parameters the insert and the update share.
void bindTexts(DbStatement& q, const CardTexts& card, CardState state) {
    q.param("SYASYU").setText(card.name);
    q.param("KATABAN").setText(card.organisation);
    q.param("hurigana").setText(card.reading);
    q.param("KINGAKU").setText(card.position);
    q.param("KYORI").setText(card.department);
    q.param("MEMO").setText(card.memo);
    q.param("DEL_FLG1").setText(flagText(state));
    q.param("LYEAR").setText(card.year);
    q.param("LMONTH").setText(card.month);
    q.param("LDAY").setText(card.day);
}

// Runs a statement that finds one card by its key and reads it; nothing when no row has it.
std::optional<Card> openOneCard(DbStatement& q) {
    q.open();
    std::optional<Card> card;
    if (q.rowCount() > 0)
        card = CardReader(q).card();
    q.close();
    return card;
}

}  // namespace

void step(const char* name) {
    if (stepObserver())
        stepObserver()(name);
}

std::optional<Card> lockCard(DbStatement& q, int key) {
    selectCards(q);
    addLines(q, {"WHERE", "  (KEY1    = :KEY1   )", "WITH LOCK;"});
    q.param("KEY1").setInt(key);
    return openOneCard(q);
}

bool flagIsWrittenFor(QStringView storedFlag, CardState state) {
    return storedFlag == flagText(state);
}

CardState stateOfFlag(QStringView storedFlag) {
    return storedFlag == kDeleted ? CardState::Deleted : CardState::Live;
}

bool operator==(const CardTexts& a, const CardTexts& b) {
    return a.name == b.name && a.reading == b.reading && a.organisation == b.organisation &&
           a.department == b.department && a.position == b.position && a.memo == b.memo && a.year == b.year &&
           a.month == b.month && a.day == b.day;
}

CardChanged::CardChanged(Card current)
    : DbError(QStringLiteral("ほかの人がこのカードを変更しました。")), current(std::move(current)) {}

CardGone::CardGone(const QString& keyText)
    : DbError(QStringLiteral("このカード（番号 %1）はカードファイルにもうありません。\r\n"
                             "何も書き込んでいません。")
                  .arg(keyText)) {}

namespace {

// The card table's column of each field, in the order of CardField.
constexpr std::array<const char*, 11> kFieldColumns = {"KEY1",   "SYASYU",  "HURIGANA", "KATABAN",
                                                       "KYORI",  "KINGAKU", "MEMO",     "LYEAR",
                                                       "LMONTH", "LDAY",    "DEL_FLG1"};

}  // namespace

CardReader::CardReader(const DbStatement& q) : m_q(q) {
    for (std::size_t i = 0; i < kFieldColumns.size(); ++i)
        m_columns[i] = q.fieldIndex(kFieldColumns[i]);
}

QString CardReader::text(CardField field) const {
    return m_q.fieldAt(m_columns[std::size_t(field)]).text();
}

CardTexts CardReader::texts() const {
    return {
        .name = text(CardField::Name),
        .reading = text(CardField::Reading),
        .organisation = text(CardField::Organisation),
        .department = text(CardField::Department),
        .position = text(CardField::Position),
        .memo = text(CardField::Memo),
        .year = text(CardField::Year),
        .month = text(CardField::Month),
        .day = text(CardField::Day),
    };
}

CardState CardReader::state() const {
    return stateOfFlag(text(CardField::Flag));
}

bool CardReader::flagIsWrittenFor(CardState state) const {
    return cards::flagIsWrittenFor(text(CardField::Flag), state);
}

Card CardReader::card() const {
    return Card{.texts = texts(), .state = state()};
}

QStringList foldedSearchColumns(SearchField field) {
    switch (field) {
        case SearchField::Name:
            return {QStringLiteral("SYASYU"), QStringLiteral("HURIGANA")};
        case SearchField::Organisation:
            return {QStringLiteral("KATABAN"), QStringLiteral("KYORI")};
        case SearchField::Memo:
            break;
    }
    return {QStringLiteral("MEMO")};
}

int returnedKey(const DbStatement& q) {
    return q.field("KEY1").toInt();
}

void setStepObserver(std::function<void(const char*)> observer) {
    stepObserver() = std::move(observer);
}

int keyFromText(const QString& keyText) {
    bool ok = false;
    const int key = keyText.toInt(&ok);
    if (!ok)
        throw DbError(QStringLiteral("「%1」はカードの番号として読めません。").arg(keyText));
    return key;
}

void prepareSearch(DbStatement& q, SearchField field, const QString& keyword) {
    const char* condition = nullptr;
    const char* param = nullptr;
    switch (field) {
        case SearchField::Name:
            condition = "   SYASYU   Like :SYASYU      ";
            param = "SYASYU";
            break;
        case SearchField::Organisation:
            condition = "   KATABAN   Like :KATABAN      ";
            param = "KATABAN";
            break;
        case SearchField::Memo:
            condition = "   memo   Like :memo      ";
            param = "memo";
            break;
    }
    selectCards(q);
    addLines(q, {"WHERE", condition, "ORDER BY", "KEY1 ASC;"});
    q.param(QLatin1StringView(param)).setText(QLatin1Char('%') + keyword + QLatin1Char('%'));
}

void prepareSearchSimilarTo(DbStatement& q, const QStringList& columns, const QString& pattern,
                            bool firstColumnRequired) {
    if (columns.isEmpty() || pattern.size() > kLongestSimilarToPattern)
        throw DbError(QStringLiteral("検索する項目がないか、検索の条件が長すぎます。"));
    selectCards(q);
    // Column names come from the program, never from the user; the pattern is a parameter, cast
    // so that its length is not the column's. The engine's pattern match takes longer per
    // character the longer the text: a memo of more than a few hundred characters is kept for
    // the caller to decide, which is quicker than matching it here (one of 5,000 kanji takes the
    // engine a millisecond). The other columns hold at most 150 characters.
    q.sql.add(QStringLiteral("WHERE"));
    q.sql.add(firstColumnRequired ? QStringLiteral("  %1 IS NOT NULL AND (").arg(columns[0])
                                  : QStringLiteral("  ("));
    // A memo is matched in its own collation: relabelled as UTF8, the engine copies the text
    // as long as the memo column is declared for every card, which costs more than the match.
    // A collation's comparison form of a character is the same wherever it stands, so the
    // classes still take every character they list.
    for (qsizetype i = 0; i < columns.size(); ++i) {
        QString matched = columns[i] + QStringLiteral(" COLLATE UTF8");
        if (columns[i].compare(QLatin1String("MEMO"), Qt::CaseInsensitive) == 0) {
            q.sql.add(
                QStringLiteral("    OCTET_LENGTH(%1) > %2 OR").arg(columns[i]).arg(kLongestTextMatched));
            matched = columns[i];
        }
        q.sql.add(QStringLiteral("    %1 SIMILAR TO CAST(:PATTERN AS VARCHAR(%2) CHARACTER SET UTF8) "
                                 "ESCAPE '\\'%3")
                      .arg(matched)
                      .arg(kLongestSimilarToPattern)
                      .arg(i + 1 < columns.size() ? QStringLiteral(" OR") : QString()));
    }
    q.sql.add(QStringLiteral("  )"));
    q.sql.add(QStringLiteral("ORDER BY"));
    q.sql.add(QStringLiteral("KEY1 ASC;"));
    q.param("PATTERN").setText(pattern);
}

void prepareAllCards(DbStatement& q) {
    selectCards(q);
    addLines(q, {"ORDER BY", "KEY1 ASC;"});
}

void prepareFetch(DbStatement& q, const QString& keyText) {
    selectCards(q);
    addLines(q, {"WHERE", "  (KEY1    = :KEY1   )", "ORDER BY", "  KEY1;"});
    q.param("KEY1").setInt(keyFromText(keyText));
}

void insertCard(DbStatement& q, const QString& keyText, const CardTexts& card, CardState state,
                bool returningKey) {
    setLines(q, {"INSERT INTO MST_CAR",
                 "(",
                 "  KEY1,",
                 "  SYASYU,",
                 "  KATABAN,",
                 "  hurigana,",
                 "  KINGAKU,",
                 "  KYORI,",
                 "  MEMO,",
                 "  DEL_FLG1,",
                 "  LYEAR,",
                 "  LMONTH,",
                 "  LDAY",
                 ")",
                 "VALUES",
                 "(",
                 "  :KEY1,",
                 "  :SYASYU,",
                 "  :KATABAN,",
                 "  :hurigana,",
                 "  :KINGAKU,",
                 "  :KYORI,",
                 "  :MEMO,",
                 "  :DEL_FLG1,",
                 "  :LYEAR,",
                 "  :LMONTH,",
                 "  :LDAY"});
    if (returningKey) {
        // The key the trigger gave this very row, read from the insert itself.
        q.sql.add(QStringLiteral(")"));
        q.sql.add(QStringLiteral("RETURNING KEY1;"));
    } else {
        q.sql.add(QStringLiteral(");"));
    }
    q.param("KEY1").setText(keyText);
    bindTexts(q, card, state);
    q.open();
}

int updateCard(DbStatement& q, const QString& keyText, const CardTexts& card, CardState state) {
    setLines(q, {"UPDATE MST_CAR", "SET", "  SYASYU   = :SYASYU,", "  KATABAN  = :KATABAN,",
                 "  hurigana = :hurigana,", "  KINGAKU  = :KINGAKU,", "  KYORI    = :KYORI,",
                 "  MEMO     = :MEMO,", "  DEL_FLG1 = :DEL_FLG1,", "  LYEAR    = :LYEAR,",
                 "  LMONTH   = :LMONTH,", "  LDAY     = :LDAY", "WHERE", "  (KEY1   = :KEY1  );"});
    q.param("KEY1").setInt(keyFromText(keyText));
    bindTexts(q, card, state);
    q.execute();
    return q.rowsAffected();
}

void triggerOn(DbStatement& q) {
    setLines(q, {"ALTER TRIGGER TRG_CAR ACTIVE ;"});
    q.execute();
}

int newestKey(DbStatement& q) {
    setLines(q, {"SELECT MAX(KEY1) as ANS FROM MST_CAR"});
    q.open();
    const int key = q.field("ANS").toInt();
    q.close();
    return key;
}

TriggerState triggerState(DbStatement& q) {
    setLines(q,
             {"SELECT RDB$TRIGGER_INACTIVE AS OFF FROM RDB$TRIGGERS", "WHERE RDB$TRIGGER_NAME = 'TRG_CAR'"});
    q.open();
    const TriggerState state = q.rowCount() == 0             ? TriggerState::Missing
                               : q.field("OFF").toInt() == 0 ? TriggerState::Active
                                                             : TriggerState::Inactive;
    q.close();
    return state;
}

bool ensureTriggerActive(CardDatabase& dm) {
    switch (triggerState(dm.statement)) {
        case TriggerState::Active:
            return false;
        case TriggerState::Missing:
            throw DbError(
                QStringLiteral("カードファイルに番号をつけるトリガー TRG_CAR がありません。"
                               "新しいカードは登録できません。"));
        case TriggerState::Inactive:
            break;
    }
    dm.allOrNothing([&] { triggerOn(dm.statement); });
    return true;
}

std::optional<Card> fetchCard(CardDatabase& dm, int key) {
    DbStatement& q = dm.statement;
    prepareFetch(q, QString::number(key));
    return openOneCard(q);
}

std::optional<int> newCardInsert(CardDatabase& dm, const CardTexts& card) {
    ensureTriggerActive(dm);
    std::optional<int> key;
    dm.allOrNothing([&] {
        step("insert");
        insertCard(dm.statement, QStringLiteral("0"), card, CardState::Live, dm.teamMode());
        if (dm.teamMode())
            key = returnedKey(dm.statement);
        dm.statement.close();
        step("commit");
    });
    step("committed");
    return key;
}

int newCardKey(CardDatabase& dm, std::optional<int> insertedKey) {
    return insertedKey ? *insertedKey : newestKey(dm.statement);
}

void cardRewrite(CardDatabase& dm, const QString& keyText, const CardTexts& card, CardState state,
                 const Card* loaded) {
    keyFromText(keyText);  // refuse a key that is no number before anything is written
    dm.allOrNothing([&] {
        if (loaded && dm.teamMode()) {
            const std::optional<Card> current = lockCard(dm.statement, keyFromText(keyText));
            if (!current)
                throw CardGone(keyText);
            if (!(*current == *loaded))
                throw CardChanged(*current);
        }
        step("update");
        if (updateCard(dm.statement, keyText, card, state) == 0)
            throw CardGone(keyText);
        step("commit");
    });
    step("committed");
}

}  // namespace cards

#include "cards.h"

#include "dm1.h"

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

void addLines(TIBQuery& q, std::initializer_list<const char*> lines) {
    for (const char* line : lines)
        q.SQL.Add(QString::fromUtf8(line));
}

void setLines(TIBQuery& q, std::initializer_list<const char*> lines) {
    q.SQL.Clear();
    addLines(q, lines);
}

// The first lines of every statement that reads whole cards: all their columns, from the table.
void selectCards(TIBQuery& q) {
    setLines(q, {"SELECT", "  KEY1,", "  SYASYU,", "  KATABAN,", "  KINGAKU,", "  KYORI,", "  MEMO,",
                 "  LYEAR,", "  LMONTH,", "  LDAY,", "  HURIGANA,", "  DEL_FLG1", "FROM", "  MST_CAR"});
}

// The card's texts and flag, bound to the parameters the insert and the update share.
void bindTexts(TIBQuery& q, const CardTexts& card, CardState state) {
    q.ParamByName("SYASYU").setAsString(card.name);
    q.ParamByName("KATABAN").setAsString(card.organisation);
    q.ParamByName("hurigana").setAsString(card.reading);
    q.ParamByName("KINGAKU").setAsString(card.position);
    q.ParamByName("KYORI").setAsString(card.department);
    q.ParamByName("MEMO").setAsString(card.memo);
    q.ParamByName("DEL_FLG1").setAsString(flagText(state));
    q.ParamByName("LYEAR").setAsString(card.year);
    q.ParamByName("LMONTH").setAsString(card.month);
    q.ParamByName("LDAY").setAsString(card.day);
}

// The current row of a search or fetch result as a card.
Card readCard(const TIBQuery& q) {
    return Card{
        .texts =
            {
                .name = q.FieldByName("SYASYU").AsString(),
                .reading = q.FieldByName("HURIGANA").AsString(),
                .organisation = q.FieldByName("KATABAN").AsString(),
                .department = q.FieldByName("KYORI").AsString(),
                .position = q.FieldByName("KINGAKU").AsString(),
                .memo = q.FieldByName("MEMO").AsString(),
                .year = q.FieldByName("LYEAR").AsString(),
                .month = q.FieldByName("LMONTH").AsString(),
                .day = q.FieldByName("LDAY").AsString(),
            },
        .state = stateOfFlag(q.FieldByName("DEL_FLG1").AsString()),
    };
}

// Runs a statement that finds one card by its key and reads it; nothing when no row has it.
std::optional<Card> openOneCard(TIBQuery& q) {
    q.Open();
    std::optional<Card> card;
    if (q.RecordCount() > 0)
        card = readCard(q);
    q.Close();
    return card;
}

}  // namespace

void step(const char* name) {
    if (stepObserver())
        stepObserver()(name);
}

std::optional<Card> lockCard(TIBQuery& q, int key) {
    selectCards(q);
    addLines(q, {"WHERE", "  (KEY1    = :KEY1   )", "WITH LOCK;"});
    q.ParamByName("KEY1").setAsInteger(key);
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

void prepareSearch(TIBQuery& q, SearchField field, const QString& keyword) {
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
    q.ParamByName(QLatin1StringView(param)).setAsString(QLatin1Char('%') + keyword + QLatin1Char('%'));
}

void prepareSearchSimilarTo(TIBQuery& q, const QStringList& columns, const QString& pattern,
                            bool firstColumnRequired) {
    if (columns.isEmpty() || pattern.size() > kLongestSimilarToPattern)
        throw DbError(QStringLiteral("検索する項目がないか、検索の条件が長すぎます。"));
    selectCards(q);
    // Column names come from the program, never from the user; the pattern is a parameter, cast
    // so that its length is not the column's. The engine's pattern match takes longer per
    // character the longer the text: a memo of more than a few hundred characters is kept for
    // the caller to decide, which is quicker than matching it here (one of 5,000 kanji takes the
    // engine a millisecond). The other columns hold at most 150 characters.
    q.SQL.Add(QStringLiteral("WHERE"));
    q.SQL.Add(firstColumnRequired ? QStringLiteral("  %1 IS NOT NULL AND (").arg(columns[0])
                                  : QStringLiteral("  ("));
    // A memo is matched in its own collation: relabelled as UTF8, the engine copies the text
    // as long as the memo column is declared for every card, which costs more than the match.
    // A collation's comparison form of a character is the same wherever it stands, so the
    // classes still take every character they list.
    for (qsizetype i = 0; i < columns.size(); ++i) {
        QString matched = columns[i] + QStringLiteral(" COLLATE UTF8");
        if (columns[i].compare(QLatin1String("MEMO"), Qt::CaseInsensitive) == 0) {
            q.SQL.Add(
                QStringLiteral("    OCTET_LENGTH(%1) > %2 OR").arg(columns[i]).arg(kLongestTextMatched));
            matched = columns[i];
        }
        q.SQL.Add(QStringLiteral("    %1 SIMILAR TO CAST(:PATTERN AS VARCHAR(%2) CHARACTER SET UTF8) "
                                 "ESCAPE '\\'%3")
                      .arg(matched)
                      .arg(kLongestSimilarToPattern)
                      .arg(i + 1 < columns.size() ? QStringLiteral(" OR") : QString()));
    }
    q.SQL.Add(QStringLiteral("  )"));
    q.SQL.Add(QStringLiteral("ORDER BY"));
    q.SQL.Add(QStringLiteral("KEY1 ASC;"));
    q.ParamByName("PATTERN").setAsString(pattern);
}

void prepareAllCards(TIBQuery& q) {
    selectCards(q);
    addLines(q, {"ORDER BY", "KEY1 ASC;"});
}

void prepareFetch(TIBQuery& q, const QString& keyText) {
    selectCards(q);
    addLines(q, {"WHERE", "  (KEY1    = :KEY1   )", "ORDER BY", "  KEY1;"});
    q.ParamByName("KEY1").setAsInteger(keyFromText(keyText));
}

void insertCard(TIBQuery& q, const QString& keyText, const CardTexts& card, CardState state,
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
        q.SQL.Add(QStringLiteral(")"));
        q.SQL.Add(QStringLiteral("RETURNING KEY1;"));
    } else {
        q.SQL.Add(QStringLiteral(");"));
    }
    q.ParamByName("KEY1").setAsString(keyText);
    bindTexts(q, card, state);
    q.Open();
}

int updateCard(TIBQuery& q, const QString& keyText, const CardTexts& card, CardState state) {
    setLines(q, {"UPDATE MST_CAR", "SET", "  SYASYU   = :SYASYU,", "  KATABAN  = :KATABAN,",
                 "  hurigana = :hurigana,", "  KINGAKU  = :KINGAKU,", "  KYORI    = :KYORI,",
                 "  MEMO     = :MEMO,", "  DEL_FLG1 = :DEL_FLG1,", "  LYEAR    = :LYEAR,",
                 "  LMONTH   = :LMONTH,", "  LDAY     = :LDAY", "WHERE", "  (KEY1   = :KEY1  );"});
    q.ParamByName("KEY1").setAsInteger(keyFromText(keyText));
    bindTexts(q, card, state);
    q.ExecSQL();
    return q.RowsAffected();
}

void triggerOn(TIBQuery& q) {
    setLines(q, {"ALTER TRIGGER TRG_CAR ACTIVE ;"});
    q.ExecSQL();
}

int newestKey(TIBQuery& q) {
    setLines(q, {"SELECT MAX(KEY1) as ANS FROM MST_CAR"});
    q.Open();
    const int key = q.FieldByName("ANS").AsInteger();
    q.Close();
    return key;
}

TriggerState triggerState(TIBQuery& q) {
    setLines(q,
             {"SELECT RDB$TRIGGER_INACTIVE AS OFF FROM RDB$TRIGGERS", "WHERE RDB$TRIGGER_NAME = 'TRG_CAR'"});
    q.Open();
    const TriggerState state = q.RecordCount() == 0                    ? TriggerState::Missing
                               : q.FieldByName("OFF").AsInteger() == 0 ? TriggerState::Active
                                                                       : TriggerState::Inactive;
    q.Close();
    return state;
}

bool ensureTriggerActive(TDM1& dm) {
    switch (triggerState(dm.IBQuery1)) {
        case TriggerState::Active:
            return false;
        case TriggerState::Missing:
            throw DbError(
                QStringLiteral("カードファイルに番号をつけるトリガー TRG_CAR がありません。"
                               "新しいカードは登録できません。"));
        case TriggerState::Inactive:
            break;
    }
    dm.allOrNothing([&] { triggerOn(dm.IBQuery1); });
    return true;
}

std::optional<Card> fetchCard(TDM1& dm, int key) {
    TIBQuery& q = dm.IBQuery1;
    prepareFetch(q, QString::number(key));
    return openOneCard(q);
}

std::optional<int> newCardInsert(TDM1& dm, const CardTexts& card) {
    ensureTriggerActive(dm);
    std::optional<int> key;
    dm.allOrNothing([&] {
        step("insert");
        insertCard(dm.IBQuery1, QStringLiteral("0"), card, CardState::Live, dm.teamMode());
        if (dm.teamMode())
            key = dm.IBQuery1.FieldByName("KEY1").AsInteger();
        dm.IBQuery1.Close();
        step("commit");
    });
    step("committed");
    return key;
}

int newCardKey(TDM1& dm, std::optional<int> insertedKey) {
    return insertedKey ? *insertedKey : newestKey(dm.IBQuery1);
}

void cardRewrite(TDM1& dm, const QString& keyText, const CardTexts& card, CardState state,
                 const Card* loaded) {
    keyFromText(keyText);  // refuse a key that is no number before anything is written
    dm.allOrNothing([&] {
        if (loaded && dm.teamMode()) {
            const std::optional<Card> current = lockCard(dm.IBQuery1, keyFromText(keyText));
            if (!current)
                throw CardGone(keyText);
            if (!(*current == *loaded))
                throw CardChanged(*current);
        }
        step("update");
        if (updateCard(dm.IBQuery1, keyText, card, state) == 0)
            throw CardGone(keyText);
        step("commit");
    });
    step("committed");
}

}  // namespace cards

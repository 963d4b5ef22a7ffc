#include "cards.h"

#include "dm1.h"

namespace cards {

namespace {

std::function<void(const char*)>& stepObserver() {
    static std::function<void(const char*)> observer;
    return observer;
}

void step(const char* name) {
    if (stepObserver())
        stepObserver()(name);
}

void setLines(TIBQuery& q, std::initializer_list<const char*> lines) {
    q.SQL.Clear();
    for (const char* line : lines)
        q.SQL.Add(QString::fromUtf8(line));
}

}  // namespace

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
    setLines(q, {"SELECT", "  KEY1,", "  SYASYU,", "  KATABAN,", "  KINGAKU,", "  KYORI,", "  MEMO,",
                 "  LYEAR,", "  LMONTH,", "  LDAY,", "  HURIGANA,", "  DEL_FLG1", "FROM", "  MST_CAR",
                 "WHERE", condition, "ORDER BY", "KEY1 ASC;"});
    q.ParamByName(QLatin1StringView(param)).setAsString(QLatin1Char('%') + keyword + QLatin1Char('%'));
}

void prepareFetch(TIBQuery& q, const QString& keyText) {
    setLines(q, {"SELECT", "  KEY1,", "  SYASYU,", "  KATABAN,", "  KINGAKU,", "  KYORI,", "  MEMO,",
                 "  LYEAR,", "  LMONTH,", "  LDAY,", "  HURIGANA,", "  DEL_FLG1", "FROM", "  MST_CAR",
                 "WHERE", "  (KEY1    = :KEY1   )", "ORDER BY", "  KEY1;"});
    q.ParamByName("KEY1").setAsInteger(keyFromText(keyText));
}

void insertCard(TIBQuery& q, const QString& keyText, const CardTexts& card, const QString& flag) {
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
                 "  :LDAY",
                 ");"});
    q.ParamByName("KEY1").setAsString(keyText);
    q.ParamByName("SYASYU").setAsString(card.name);
    q.ParamByName("KATABAN").setAsString(card.organisation);
    q.ParamByName("hurigana").setAsString(card.reading);
    q.ParamByName("KINGAKU").setAsString(card.position);
    q.ParamByName("KYORI").setAsString(card.department);
    q.ParamByName("MEMO").setAsString(card.memo);
    q.ParamByName("DEL_FLG1").setAsString(flag);
    q.ParamByName("LYEAR").setAsString(card.year);
    q.ParamByName("LMONTH").setAsString(card.month);
    q.ParamByName("LDAY").setAsString(card.day);
    q.Open();
}

void deleteCard(TIBQuery& q, const QString& keyText) {
    setLines(q, {"DELETE FROM MST_CAR", "WHERE", "  (KEY1   = :KEY1  );"});
    q.ParamByName("KEY1").setAsInteger(keyFromText(keyText));
    q.ExecSQL();
}

void triggerOff(TIBQuery& q) {
    setLines(q, {"ALTER TRIGGER TRG_CAR INACTIVE ;"});
    q.ExecSQL();
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

void newCardInsert(TDM1& dm, const CardTexts& card) {
    dm.allOrNothing([&] {
        step("insert");
        insertCard(dm.IBQuery1, QStringLiteral("0"), card, kLive);
        step("commit");
    });
    step("committed");
}

void cardRewrite(TDM1& dm, const QString& keyText, const CardTexts& card, const QString& flag) {
    keyFromText(keyText);  // refuse a key that is no number before anything is written
    dm.allOrNothing([&] {
        step("delete");
        deleteCard(dm.IBQuery1, keyText);
        step("trigger off");
        triggerOff(dm.IBQuery1);
        step("insert");
        insertCard(dm.IBQuery1, keyText, card, flag);
        step("trigger on");
        triggerOn(dm.IBQuery1);
        step("commit");
    });
    step("committed");
}

}  // namespace cards

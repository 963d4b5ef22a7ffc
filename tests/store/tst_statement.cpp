// The statement object, the transaction behaviour and the parameter parser, against real
// database files made by the creation tool.

#include "dm1.h"
#include "ibobjects.h"
#include "schemascript.h"
#include "sqlparams.h"
#include "testdb.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

void run(TIBQuery& q, std::initializer_list<const char*> lines) {
    q.SQL.Clear();
    for (const char* l : lines)
        q.SQL.Add(QString::fromUtf8(l));
}

void insertRow(TIBQuery& q, const QString& key, const QString& name,
               const QString& flag = QStringLiteral("1")) {
    run(q, {"INSERT INTO MST_CAR (KEY1, SYASYU, DEL_FLG1)", "VALUES (:key1, :Syasyu, :flag);"});
    q.ParamByName("KEY1").setAsString(key);
    q.ParamByName("syasyu").setAsString(name);
    q.ParamByName("FLAG").setAsString(flag);
    q.Open();
}

// Reads every key of a result from the last row to the first, as the program's lists do.
QStringList walkBack(TIBQuery& q) {
    QStringList keys;
    q.Last();
    while (!q.Bof()) {
        keys << q.FieldByName("key1").AsString();
        q.Prior();
    }
    return keys;
}

}  // namespace

class TestStatement final : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<TDM1> m_dm;

private slots:
    void init() {
        QVERIFY(m_dir.isValid());
        testdb::create(m_dir.path());
        m_dm = std::make_unique<TDM1>(m_dir.path());
        m_dm->DataModuleCreate();
    }
    void cleanup() { m_dm.reset(); }

    void parsesParametersOutsideQuotesAndComments_data() {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("markers");
        QTest::newRow("plain") << "WHERE (KEY1 = :KEY1 )"
                               << "WHERE (KEY1 = ? )" << QStringList{"KEY1"};
        QTest::newRow("repeated") << ":a, :B, :a"
                                  << "?, ?, ?" << QStringList{"a", "B", "a"};
        QTest::newRow("quoted") << "':x' || \":y\" || :z"
                                << "':x' || \":y\" || ?" << QStringList{"z"};
        QTest::newRow("escaped quote") << "'it''s :no' = :yes"
                                       << "'it''s :no' = ?" << QStringList{"yes"};
        QTest::newRow("comments") << "-- :a\n/* :b */ :c"
                                  << "-- :a\n/* :b */ ?" << QStringList{"c"};
        QTest::newRow("no name") << "a : b, 1:2"
                                 << "a : b, 1:2" << QStringList{};
    }
    void parsesParametersOutsideQuotesAndComments() {
        QFETCH(QString, sql);
        const ParsedSql p = parseSqlParams(sql);
        QTEST(p.text, "text");
        QTEST(p.markers, "markers");
    }

    void splitsScriptsWithTerminatorChanges() {
        const QStringList s =
            splitSqlScript(QStringLiteral("/* head; */ CREATE TABLE T (A INT);\n-- note;\nSET TERM ^ "
                                          ";\nCREATE TRIGGER X AS BEGIN a = 1; END^\n"
                                          "SET TERM ; ^\nINSERT INTO T VALUES (';');"));
        QCOMPARE(s, (QStringList{"CREATE TABLE T (A INT)", "CREATE TRIGGER X AS BEGIN a = 1; END",
                                 "INSERT INTO T VALUES (';')"}));
    }

    void namesMatchWithoutRegardToCase() {
        TIBQuery& q = m_dm->IBQuery1;
        insertRow(q, "7", QStringLiteral("山田"));
        run(q, {"SELECT SYASYU AS Hurigana, KEY1 FROM MST_CAR WHERE KEY1 = :Key1"});
        q.ParamByName("kEY1").setAsInteger(7);
        q.Open();
        QCOMPARE(q.FieldByName("HURIGANA").AsString(), QStringLiteral("山田"));
        QCOMPARE(q.FieldByName("hurigana").AsString(), QStringLiteral("山田"));
        QCOMPARE(q.FieldByName("key1").AsInteger(), 7);
        QCOMPARE(q.FieldByName("KEY1").AsString(), QStringLiteral("7"));
        QVERIFY_THROWS_EXCEPTION(DbError, q.FieldByName("nothing"));
        QVERIFY_THROWS_EXCEPTION(DbError, q.ParamByName("nothing"));
    }

    void nullsAndUnsetParametersReadEmpty() {
        TIBQuery& q = m_dm->IBQuery1;
        run(q, {"INSERT INTO MST_CAR (KEY1, SYASYU, MEMO) VALUES (:KEY1, :SYASYU, :MEMO);"});
        q.ParamByName("KEY1").setAsInteger(3);
        q.ParamByName("SYASYU").setAsString(QString());  // empty text, not null
        q.Open();
        run(q, {"SELECT SYASYU, MEMO, KINGAKU, MAX(KEY1) AS ANS FROM MST_CAR GROUP BY 1, 2, 3"});
        q.Open();
        QVERIFY(!q.FieldByName("SYASYU").IsNull());
        QVERIFY(q.FieldByName("MEMO").IsNull());  // never set: sent as null
        QCOMPARE(q.FieldByName("MEMO").AsString(), QString());
        QCOMPARE(q.FieldByName("KINGAKU").AsInteger(), 0);
        run(q, {"SELECT MAX(KEY1) AS ANS FROM MST_CAR WHERE KEY1 < 0"});
        q.Open();
        QCOMPARE(q.FieldByName("ANS").AsInteger(), 0);
        QCOMPARE(q.FieldByName("ANS").AsString(), QString());
    }

    void walksBackOverResultsOfAnySize_data() {
        QTest::addColumn<int>("rows");
        QTest::newRow("none") << 0;
        QTest::newRow("one") << 1;
        QTest::newRow("many") << 250;
    }
    void walksBackOverResultsOfAnySize() {
        QFETCH(int, rows);
        TIBQuery& q = m_dm->IBQuery1;
        QStringList expected;
        for (int k = 1; k <= rows; ++k) {
            insertRow(q, QString::number(k), QStringLiteral("名%1").arg(k));
            expected.prepend(QString::number(k));
        }
        run(q, {"SELECT KEY1, SYASYU FROM MST_CAR ORDER BY KEY1 ASC;"});
        q.Open();
        QCOMPARE(q.RecordCount(), rows);
        QCOMPARE(walkBack(q), expected);
        QVERIFY(q.Bof());
        if (rows == 1) {
            q.Last();
            QVERIFY(!q.Bof());
            q.Prior();
            QVERIFY(q.Bof());
            QCOMPARE(q.FieldByName("KEY1").AsString(), QStringLiteral("1"));
        }
        if (rows == 0)
            QCOMPARE(q.FieldByName("SYASYU").AsString(), QString());  // no rows: every column null
    }

    void changingTheTextClosesTheResult() {
        TIBQuery& q = m_dm->IBQuery1;
        insertRow(q, "1", "a");
        run(q, {"SELECT KEY1 FROM MST_CAR"});
        q.Open();
        QVERIFY(q.Active());
        q.SQL.Add("WHERE KEY1 = 2");
        QVERIFY(!q.Active());
        q.Open();
        QCOMPARE(q.RecordCount(), 0);
        q.Open();  // already open: nothing happens
        QCOMPARE(q.RecordCount(), 0);
    }

    void failuresCarryTheClientsText() {
        TIBQuery& q = m_dm->IBQuery1;
        run(q, {"SELECT NOPE FROM MST_CAR"});
        try {
            q.Open();
            QFAIL("no error");
        } catch (const DbError& e) {
            QVERIFY2(QString::fromUtf8(e.what()).contains("NOPE"), e.what());
        }
        // A value longer than its column is refused, counted in characters.
        run(q, {"INSERT INTO MST_CAR (KEY1, KINGAKU) VALUES (5, :v);"});
        q.ParamByName("v").setAsString(QString(100, QChar(0x540D)));  // 100 three-byte characters fit
        q.Open();
        run(q, {"INSERT INTO MST_CAR (KEY1, KINGAKU) VALUES (6, :v);"});
        q.ParamByName("v").setAsString(QString(101, QLatin1Char('x')));
        QVERIFY_THROWS_EXCEPTION(DbError, q.Open());
    }

    // Lines are added one at a time; the parameters of every line are found once the line is
    // there, and values set on the way keep their values until the text is cleared.
    void parametersOfLinesAddedLaterAreFound() {
        TIBQuery& q = m_dm->IBQuery1;
        q.SQL.Clear();
        q.SQL.Add("INSERT INTO MST_CAR (KEY1, SYASYU, MEMO)");
        q.SQL.Add("VALUES (:KEY1,");
        q.ParamByName("KEY1").setAsInteger(31);
        QVERIFY_THROWS_EXCEPTION(DbError, q.ParamByName("SYASYU"));  // its line is not there yet
        q.SQL.Add(":SYASYU,");
        q.ParamByName("SYASYU").setAsString(QStringLiteral("途中"));
        q.SQL.Add(":MEMO);");
        q.ParamByName("memo").setAsString(QStringLiteral("最後の行"));
        q.ExecSQL();
        run(q, {"SELECT SYASYU, MEMO FROM MST_CAR WHERE KEY1 = :KEY1"});
        q.ParamByName("KEY1").setAsInteger(31);
        q.Open();
        QCOMPARE(q.RecordCount(), 1);
        QCOMPARE(q.FieldByName("SYASYU").AsString(), QStringLiteral("途中"));
        QCOMPARE(q.FieldByName("MEMO").AsString(), QStringLiteral("最後の行"));
        q.SQL.Clear();
        q.SQL.Add("SELECT KEY1 FROM MST_CAR");
        QVERIFY_THROWS_EXCEPTION(DbError, q.ParamByName("KEY1"));  // cleared with the text
    }

    // A transaction that goes away without a commit undoes its work at once: its row locks are
    // gone for other connections, and its change never reaches the card file.
    void transactionLeftUncommittedIsRolledBack() {
        insertRow(m_dm->IBQuery1, "21", QStringLiteral("元の名前"));
        m_dm->IBTransaction1.Commit();
        TIBDatabase db;
        attach(db);
        {
            TIBTransaction tr(db);
            tr.Params = {"read_committed", "no_rec_version", "nowait"};
            TIBQuery q(db, tr);
            run(q, {"UPDATE MST_CAR SET SYASYU = 'uncommitted' WHERE KEY1 = 21"});
            q.ExecSQL();
            QVERIFY(tr.InTransaction());
        }
        // Would be refused with a lock conflict while the update above were still pending.
        TIBQuery& q = m_dm->IBQuery1;
        run(q, {"UPDATE MST_CAR SET MEMO = 'next' WHERE KEY1 = 21"});
        m_dm->IBTransaction1.Params = {"read_committed", "no_rec_version", "nowait"};
        q.ExecSQL();
        QCOMPARE(q.RowsAffected(), 1);
        run(q, {"SELECT SYASYU FROM MST_CAR WHERE KEY1 = 21"});
        q.Open();
        QCOMPARE(q.FieldByName("SYASYU").AsString(), QStringLiteral("元の名前"));
    }

    // Either of the pair may go first: a database closed before its transactions commits its
    // default one, rolls back the others, and leaves them refusing further work.
    void databaseMayGoBeforeItsTransactions() {
        auto db = std::make_unique<TIBDatabase>();
        attach(*db);
        TIBTransaction first(*db), other(*db);
        db->setDefaultTransaction(&first);
        {
            TIBQuery q(*db, first);
            insertRow(q, "41", "committed at close");
        }
        {
            TIBQuery q(*db, other);
            insertRow(q, "42", "rolled back at close");
        }
        db.reset();
        QVERIFY(!first.InTransaction());
        QVERIFY(!other.InTransaction());
        QVERIFY_THROWS_EXCEPTION(DbError, first.StartTransaction());
        QCOMPARE(committedRows(), 1);
    }

    void defaultTransactionMustBelongToTheDatabase() {
        TIBDatabase a, b;
        TIBTransaction ofB(b);
        QVERIFY_THROWS_EXCEPTION(DbError, a.setDefaultTransaction(&ofB));
        {
            TIBTransaction ofA(a);
            a.setDefaultTransaction(&ofA);
            QCOMPARE(a.defaultTransaction(), &ofA);
        }
        QCOMPARE(a.defaultTransaction(), nullptr);  // never left pointing at a transaction gone
    }

    // Every statement shares one transaction: an uncommitted row is seen at once by the program,
    // but by nobody else until the reconnect commits it.
    void reconnectCommitsPendingWork() {
        TIBQuery& q = m_dm->IBQuery1;
        insertRow(q, "11", "pending");
        run(q, {"SELECT KEY1 FROM MST_CAR"});
        q.Open();
        QCOMPARE(q.RecordCount(), 1);
        QCOMPARE(committedRows(), 0);
        m_dm->IBDatabase1.reconnect();
        QVERIFY(!m_dm->IBTransaction1.InTransaction());
        QCOMPARE(committedRows(), 1);
    }

    void closingTheModuleCommits() {
        insertRow(m_dm->IBQuery1, "12", "at the end");
        m_dm.reset();
        QCOMPARE(committedRows(), 1);
    }

private:
    void attach(TIBDatabase& db) {
        db.DatabaseName = m_dir.path() + "/data/DATA.FDB";
        db.Params = {"user_name=SYSDBA", "password=quintlake", "lc_ctype=UTF8"};
        db.Open();
    }

    int committedRows() {
        TIBDatabase db;
        attach(db);
        TIBTransaction tr(db);
        tr.Params = {"read_committed", "rec_version", "nowait", "read"};
        db.setDefaultTransaction(&tr);
        TIBQuery q(db, tr);
        run(q, {"SELECT COUNT(*) AS N FROM MST_CAR"});
        q.Open();
        return q.FieldByName("N").AsInteger();
    }
};

QTEST_GUILESS_MAIN(TestStatement)
#include "tst_statement.moc"

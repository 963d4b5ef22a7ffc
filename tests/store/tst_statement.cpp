// The statement object, the transaction behaviour and the parameter parser, against real
// database files made by the creation tool.

#include "carddatabase.h"
#include "dbstatement.h"
#include "schemascript.h"
#include "sqlparams.h"
#include "testdb.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

void run(DbStatement& q, std::initializer_list<const char*> lines) {
    q.sql.clear();
    for (const char* l : lines)
        q.sql.add(QString::fromUtf8(l));
}

void insertRow(DbStatement& q, const QString& key, const QString& name,
               const QString& flag = QStringLiteral("1")) {
    run(q, {"INSERT INTO MST_CAR (KEY1, SYASYU, DEL_FLG1)", "VALUES (:key1, :Syasyu, :flag);"});
    q.param("KEY1").setText(key);
    q.param("syasyu").setText(name);
    q.param("FLAG").setText(flag);
    q.open();
}

// Reads every key of a result from the last row to the first, as the program's lists do.
QStringList walkBack(DbStatement& q) {
    QStringList keys;
    q.last();
    while (!q.beforeFirst()) {
        keys << q.field("key1").text();
        q.prior();
    }
    return keys;
}

}  // namespace

class TestStatement final : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<CardDatabase> m_dm;

private slots:
    void init() {
        QVERIFY(m_dir.isValid());
        testdb::create(m_dir.path());
        m_dm = std::make_unique<CardDatabase>(m_dir.path());
        m_dm->open();
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
        DbStatement& q = m_dm->statement;
        insertRow(q, "7", QStringLiteral("山田"));
        run(q, {"SELECT SYASYU AS Hurigana, KEY1 FROM MST_CAR WHERE KEY1 = :Key1"});
        q.param("kEY1").setInt(7);
        q.open();
        QCOMPARE(q.field("HURIGANA").text(), QStringLiteral("山田"));
        QCOMPARE(q.field("hurigana").text(), QStringLiteral("山田"));
        QCOMPARE(q.field("key1").toInt(), 7);
        QCOMPARE(q.field("KEY1").text(), QStringLiteral("7"));
        QVERIFY_THROWS_EXCEPTION(DbError, q.field("nothing"));
        QVERIFY_THROWS_EXCEPTION(DbError, q.param("nothing"));
    }

    void nullsAndUnsetParametersReadEmpty() {
        DbStatement& q = m_dm->statement;
        run(q, {"INSERT INTO MST_CAR (KEY1, SYASYU, MEMO) VALUES (:KEY1, :SYASYU, :MEMO);"});
        q.param("KEY1").setInt(3);
        q.param("SYASYU").setText(QString());  // empty text, not null
        q.open();
        run(q, {"SELECT SYASYU, MEMO, KINGAKU, MAX(KEY1) AS ANS FROM MST_CAR GROUP BY 1, 2, 3"});
        q.open();
        QVERIFY(!q.field("SYASYU").isNull());
        QVERIFY(q.field("MEMO").isNull());  // never set: sent as null
        QCOMPARE(q.field("MEMO").text(), QString());
        QCOMPARE(q.field("KINGAKU").toInt(), 0);
        run(q, {"SELECT MAX(KEY1) AS ANS FROM MST_CAR WHERE KEY1 < 0"});
        q.open();
        QCOMPARE(q.field("ANS").toInt(), 0);
        QCOMPARE(q.field("ANS").text(), QString());
    }

    void walksBackOverResultsOfAnySize_data() {
        QTest::addColumn<int>("rows");
        QTest::newRow("none") << 0;
        QTest::newRow("one") << 1;
        QTest::newRow("many") << 250;
    }
    void walksBackOverResultsOfAnySize() {
        QFETCH(int, rows);
        DbStatement& q = m_dm->statement;
        QStringList expected;
        for (int k = 1; k <= rows; ++k) {
            insertRow(q, QString::number(k), QStringLiteral("名%1").arg(k));
            expected.prepend(QString::number(k));
        }
        run(q, {"SELECT KEY1, SYASYU FROM MST_CAR ORDER BY KEY1 ASC;"});
        q.open();
        QCOMPARE(q.rowCount(), rows);
        QCOMPARE(walkBack(q), expected);
        QVERIFY(q.beforeFirst());
        if (rows == 1) {
            q.last();
            QVERIFY(!q.beforeFirst());
            q.prior();
            QVERIFY(q.beforeFirst());
            QCOMPARE(q.field("KEY1").text(), QStringLiteral("1"));
        }
        if (rows == 0)
            QCOMPARE(q.field("SYASYU").text(), QString());  // no rows: every column null
    }

    void changingTheTextClosesTheResult() {
        DbStatement& q = m_dm->statement;
        insertRow(q, "1", "a");
        run(q, {"SELECT KEY1 FROM MST_CAR"});
        q.open();
        QVERIFY(q.isOpen());
        q.sql.add("WHERE KEY1 = 2");
        QVERIFY(!q.isOpen());
        q.open();
        QCOMPARE(q.rowCount(), 0);
        q.open();  // already open: nothing happens
        QCOMPARE(q.rowCount(), 0);
    }

    void failuresCarryTheClientsText() {
        DbStatement& q = m_dm->statement;
        run(q, {"SELECT NOPE FROM MST_CAR"});
        try {
            q.open();
            QFAIL("no error");
        } catch (const DbError& e) {
            QVERIFY2(QString::fromUtf8(e.what()).contains("NOPE"), e.what());
        }
        // A value longer than its column is refused, counted in characters.
        run(q, {"INSERT INTO MST_CAR (KEY1, KINGAKU) VALUES (5, :v);"});
        q.param("v").setText(QString(100, QChar(0x540D)));  // 100 three-byte characters fit
        q.open();
        run(q, {"INSERT INTO MST_CAR (KEY1, KINGAKU) VALUES (6, :v);"});
        q.param("v").setText(QString(101, QLatin1Char('x')));
        QVERIFY_THROWS_EXCEPTION(DbError, q.open());
    }

    // Lines are added one at a time; the parameters of every line are found once the line is
    // there, and values set on the way keep their values until the text is cleared.
    void parametersOfLinesAddedLaterAreFound() {
        DbStatement& q = m_dm->statement;
        q.sql.clear();
        q.sql.add("INSERT INTO MST_CAR (KEY1, SYASYU, MEMO)");
        q.sql.add("VALUES (:KEY1,");
        q.param("KEY1").setInt(31);
        QVERIFY_THROWS_EXCEPTION(DbError, q.param("SYASYU"));  // its line is not there yet
        q.sql.add(":SYASYU,");
        q.param("SYASYU").setText(QStringLiteral("途中"));
        q.sql.add(":MEMO);");
        q.param("memo").setText(QStringLiteral("最後の行"));
        q.execute();
        run(q, {"SELECT SYASYU, MEMO FROM MST_CAR WHERE KEY1 = :KEY1"});
        q.param("KEY1").setInt(31);
        q.open();
        QCOMPARE(q.rowCount(), 1);
        QCOMPARE(q.field("SYASYU").text(), QStringLiteral("途中"));
        QCOMPARE(q.field("MEMO").text(), QStringLiteral("最後の行"));
        q.sql.clear();
        q.sql.add("SELECT KEY1 FROM MST_CAR");
        QVERIFY_THROWS_EXCEPTION(DbError, q.param("KEY1"));  // cleared with the text
    }

    // A transaction that goes away without a commit undoes its work at once: its row locks are
    // gone for other connections, and its change never reaches the card file.
    void transactionLeftUncommittedIsRolledBack() {
        insertRow(m_dm->statement, "21", QStringLiteral("元の名前"));
        m_dm->transaction.commit();
        DbConnection db;
        attach(db);
        {
            DbTransaction tr(db);
            tr.params = {"read_committed", "no_rec_version", "nowait"};
            DbStatement q(db, tr);
            run(q, {"UPDATE MST_CAR SET SYASYU = 'uncommitted' WHERE KEY1 = 21"});
            q.execute();
            QVERIFY(tr.isActive());
        }
        // Would be refused with a lock conflict while the update above were still pending.
        DbStatement& q = m_dm->statement;
        run(q, {"UPDATE MST_CAR SET MEMO = 'next' WHERE KEY1 = 21"});
        m_dm->transaction.params = {"read_committed", "no_rec_version", "nowait"};
        q.execute();
        QCOMPARE(q.rowsAffected(), 1);
        run(q, {"SELECT SYASYU FROM MST_CAR WHERE KEY1 = 21"});
        q.open();
        QCOMPARE(q.field("SYASYU").text(), QStringLiteral("元の名前"));
    }

    // Either of the pair may go first: a database closed before its transactions commits its
    // default one, rolls back the others, and leaves them refusing further work.
    void databaseMayGoBeforeItsTransactions() {
        auto db = std::make_unique<DbConnection>();
        attach(*db);
        DbTransaction first(*db), other(*db);
        db->setDefaultTransaction(&first);
        {
            DbStatement q(*db, first);
            insertRow(q, "41", "committed at close");
        }
        {
            DbStatement q(*db, other);
            insertRow(q, "42", "rolled back at close");
        }
        db.reset();
        QVERIFY(!first.isActive());
        QVERIFY(!other.isActive());
        QVERIFY_THROWS_EXCEPTION(DbError, first.start());
        QCOMPARE(committedRows(), 1);
    }

    void defaultTransactionMustBelongToTheDatabase() {
        DbConnection a, b;
        DbTransaction ofB(b);
        QVERIFY_THROWS_EXCEPTION(DbError, a.setDefaultTransaction(&ofB));
        {
            DbTransaction ofA(a);
            a.setDefaultTransaction(&ofA);
            QCOMPARE(a.defaultTransaction(), &ofA);
        }
        QCOMPARE(a.defaultTransaction(), nullptr);  // never left pointing at a transaction gone
    }

    // Every statement shares one transaction: an uncommitted row is seen at once by the program,
    // but by nobody else until the reconnect commits it.
    void reconnectCommitsPendingWork() {
        DbStatement& q = m_dm->statement;
        insertRow(q, "11", "pending");
        run(q, {"SELECT KEY1 FROM MST_CAR"});
        q.open();
        QCOMPARE(q.rowCount(), 1);
        QCOMPARE(committedRows(), 0);
        m_dm->connection.reconnect();
        QVERIFY(!m_dm->transaction.isActive());
        QCOMPARE(committedRows(), 1);
    }

    void closingTheModuleCommits() {
        insertRow(m_dm->statement, "12", "at the end");
        m_dm.reset();
        QCOMPARE(committedRows(), 1);
    }

private:
    void attach(DbConnection& db) {
        db.databaseName = m_dir.path() + "/data/DATA.FDB";
        db.params = {"user_name=SYSDBA", "password=quintlake", "lc_ctype=UTF8"};
        db.open();
    }

    int committedRows() {
        DbConnection db;
        attach(db);
        DbTransaction tr(db);
        tr.params = {"read_committed", "rec_version", "nowait", "read"};
        db.setDefaultTransaction(&tr);
        DbStatement q(db, tr);
        run(q, {"SELECT COUNT(*) AS N FROM MST_CAR"});
        q.open();
        return q.field("N").toInt();
    }
};

QTEST_GUILESS_MAIN(TestStatement)
#include "tst_statement.moc"

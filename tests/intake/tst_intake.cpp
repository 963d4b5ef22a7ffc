// A stack of card pictures taken in at once: which pictures make a card, the record that lets
// the next intake start where the user stopped, the command, and the review window over drawn
// cards read for real.

#include "carddatabase.h"
#include "commandrun.h"
#include "fakes.h"
#include "intakecards.h"
#include "intakereader.h"
#include "intakestack.h"
#include "intakewindow.h"
#include "picturearea.h"
#include "testdb.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using intake::CardOutcome;
using intake::StackCard;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Text as an input method commits it into the focused box.
void commitText(QWidget* box, const QString& text) {
    QInputMethodEvent e;
    e.setCommitString(text);
    QCoreApplication::sendEvent(box, &e);
}

scan::ScanResult sideOf(const std::vector<std::pair<scan::Box, QString>>& lines) {
    scan::ScanResult r;
    for (const auto& [box, text] : lines) {
        r.lines.push_back({text, 40});
        r.boxes.push_back(box);
    }
    return r;
}

}  // namespace

class IntakeTest final : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_drawn;  // the drawn cards: jp-h-1.png, en-h-1.png, jp-v-1.png, photo-jp-h-1.jpg
    int m_folders = 0;

    // A new folder holding drawn pictures under the names given (name -> drawn file).
    QString stack(const QList<std::pair<QString, QString>>& pictures) {
        const QString folder = m_dir.filePath(QStringLiteral("stack%1").arg(++m_folders));
        QDir().mkpath(folder);
        for (const auto& [name, drawn] : pictures)
            QFile::copy(QDir(m_drawn).filePath(drawn), QDir(folder).filePath(name));
        return folder;
    }
    QString cardFolder() {
        const QString folder = m_dir.filePath(QStringLiteral("cards%1").arg(++m_folders));
        testdb::create(folder);
        return folder;
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        // The scanner is SANE's test backend alone, whatever this machine has: a feeder of ten
        // sheets.
        const QString sane = m_dir.filePath(QStringLiteral("sane"));
        QDir().mkpath(sane);
        QFile dll(sane + QStringLiteral("/dll.conf")), test(sane + QStringLiteral("/test.conf"));
        QVERIFY(dll.open(QIODevice::WriteOnly) && test.open(QIODevice::WriteOnly));
        dll.write("test\n");
        test.write("number_of_devices 1\n");
        dll.close();
        test.close();
        qputenv("SANE_CONFIG_DIR", QFile::encodeName(sane));
        m_drawn = m_dir.filePath(QStringLiteral("drawn"));
        QProcess script;
        script.start(QStringLiteral("bash"),
                     {QStringLiteral(MAKE_CARDS_SCRIPT), m_drawn, QStringLiteral("quick")});
        QVERIFY(script.waitForFinished(120000));
        QVERIFY2(script.exitCode() == 0, script.readAllStandardError().constData());
    }

    void pairing_data() {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<bool>("duplex");
        QTest::addColumn<QList<QStringList>>("cards");
        QTest::newRow("one picture a card")
            << QStringList{"b.png", "a.jpg"} << false << QList<QStringList>{{"a.jpg"}, {"b.png"}};
        QTest::newRow("_1 and _2 are two sides")
            << QStringList{"tanaka_2.jpg", "sato.jpg", "tanaka_1.jpg"} << false
            << QList<QStringList>{{"sato.jpg"}, {"tanaka_1.jpg", "tanaka_2.jpg"}};
        QTest::newRow("front and back, any case") << QStringList{"a-Back.PNG", "a-front.png"} << false
                                                  << QList<QStringList>{{"a-front.png", "a-Back.PNG"}};
        QTest::newRow("表 and 裏") << QStringList{"山田_裏.jpg", "山田_表.jpg"} << false
                                   << QList<QStringList>{{"山田_表.jpg", "山田_裏.jpg"}};
        QTest::newRow("a numbered series is not two sides")
            << QStringList{"scan_1.jpg", "scan_2.jpg", "scan_3.jpg"} << false
            << QList<QStringList>{{"scan_1.jpg"}, {"scan_2.jpg"}, {"scan_3.jpg"}};
        QTest::newRow("numbers in natural order") << QStringList{"p10.jpg", "p2.jpg", "p1.jpg"} << false
                                                  << QList<QStringList>{{"p1.jpg"}, {"p2.jpg"}, {"p10.jpg"}};
        QTest::newRow("a side without its partner")
            << QStringList{"b_2.jpg"} << false << QList<QStringList>{{"b_2.jpg"}};
        QTest::newRow("both sides in feeder order")
            << QStringList{"scan-0003.png", "scan-0001.png", "scan-0004.png", "scan-0002.png"} << true
            << QList<QStringList>{{"scan-0001.png", "scan-0002.png"}, {"scan-0003.png", "scan-0004.png"}};
        QTest::newRow("an odd sheet last") << QStringList{"s1.png", "s2.png", "s3.png"} << true
                                           << QList<QStringList>{{"s1.png", "s2.png"}, {"s3.png"}};
        QTest::newRow("named sides kept beside a feeder's")
            << QStringList{"s1.png", "a_2.png", "s2.png", "a_1.png"} << true
            << QList<QStringList>{{"a_1.png", "a_2.png"}, {"s1.png", "s2.png"}};
    }
    void pairing() {
        QFETCH(QStringList, names);
        QFETCH(bool, duplex);
        QFETCH(QList<QStringList>, cards);
        QList<QStringList> got;
        for (const StackCard& c : intake::pairPictures(names, duplex))
            got << c.pictures;
        QCOMPARE(got, cards);
    }

    // A folder without pictures is refused with a message; the record file is no picture.
    void folderRefused() {
        const QString empty = m_dir.filePath(QStringLiteral("empty"));
        QDir().mkpath(empty);
        QFile(QDir(empty).filePath(intake::kRecordFileName)).open(QIODevice::WriteOnly);
        QFile(QDir(empty).filePath(QStringLiteral("note.txt"))).open(QIODevice::WriteOnly);
        for (const QString& folder : {empty, m_dir.filePath(QStringLiteral("missing"))}) {
            try {
                intake::listStack(folder, false);
                QFAIL("no error");
            } catch (const intake::IntakeError& e) {
                QVERIFY2(e.text().startsWith(QStringLiteral("フォルダ「")), qPrintable(e.text()));
            }
        }
    }

    // What was done survives a new reading of the record, a line torn by a crash spoils nothing,
    // and a folder that cannot be written is told rather than ignored.
    void record() {
        const QString folder = stack({});
        const StackCard a{{"a_1.jpg", "a_2.jpg"}}, b{{"b\tc.jpg"}}, c{{"c.jpg"}};
        {
            intake::StackRecord r(folder);
            QVERIFY(r.note(a, CardOutcome::Registered, 12));
            QVERIFY(r.note(b, CardOutcome::Skipped));
        }
        QFile file(QDir(folder).filePath(intake::kRecordFileName));
        QVERIFY(file.open(QIODevice::Append));
        file.write("registered\t13\tc.j");  // cut short by a crash
        file.close();
        intake::StackRecord r(folder);
        r.load();
        int key = 0;
        QCOMPARE(r.outcome(a, &key), CardOutcome::Registered);
        QCOMPARE(key, 12);
        QCOMPARE(r.outcome(b), CardOutcome::Skipped);
        QCOMPARE(r.outcome(c), CardOutcome::Open);
        QVERIFY(r.note(b, CardOutcome::Registered, 14));  // passed over, then registered after all
        intake::StackRecord again(folder);
        again.load();
        QCOMPARE(again.outcome(b, &key), CardOutcome::Registered);
        QCOMPARE(key, 14);

        const QString blocked = stack({});
        QDir().mkpath(QDir(blocked).filePath(intake::kRecordFileName));
        intake::StackRecord refused(blocked);
        QVERIFY(!refused.note(a, CardOutcome::Skipped));
        QVERIFY(!refused.error().isEmpty());
        QCOMPARE(refused.outcome(a), CardOutcome::Skipped);  // known for this intake all the same
    }

    // The back's lines fill only what the front left empty; contact lines gather from both.
    void suggestions() {
        using scan::Box;
        const scan::BoxTexts boxes = intake::suggestionsFor({sideOf({{Box::Name, "佐藤 健一"},
                                                                     {Box::Organisation, "株式会社青葉商事"},
                                                                     {Box::Other, "TEL 03-3123-4567"}}),
                                                             sideOf({{Box::Name, "Kenichi Sato"},
                                                                     {Box::Position, "Sales Manager"},
                                                                     {Box::Other, "TEL 03-3123-4567"},
                                                                     {Box::Other, "sato@aoba.example.jp"}})});
        QCOMPARE(boxes.name, QStringLiteral("佐藤 健一"));
        QCOMPARE(boxes.position, QStringLiteral("Sales Manager"));
        QCOMPARE(boxes.other, QStringLiteral("TEL 03-3123-4567\nsato@aoba.example.jp"));
        const cards::CardTexts t = intake::cardTexts(boxes, QDate(2026, 3, 4));
        QCOMPARE(t.memo, QStringLiteral("TEL 03-3123-4567\r\nsato@aoba.example.jp"));
        QCOMPARE(QStringList({t.year, t.month, t.day}), QStringList({"2026", "03", "04"}));
    }

    // The command: a dry run prints the cards as CSV and writes nothing; a real run registers
    // every card not stored yet with its pictures, prints the keys and marks them in the folder,
    // so that a second run registers nothing twice; a card alike a stored one is left out.
    void command() {
        const QString folder = stack(
            {{"sato_1.png", "jp-h-1.png"}, {"sato_2.png", "en-h-1.png"}, {"yamamoto.png", "jp-v-1.png"}});
        const QString cards = cardFolder();
        const QString tool = QStringLiteral(CARDS_TOOL_PATH);
        const CommandRun dry = runCommand(tool, {"intake", folder, "--dry-run"});
        QVERIFY2(dry.code == 0, qPrintable(dry.err));
        const QStringList rows = dry.out.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QVERIFY2(rows.size() >= 3 && rows[0].contains(QStringLiteral("名前")), qPrintable(dry.out));
        QVERIFY2(dry.out.contains(QStringLiteral("株式会社青葉商事")), qPrintable(dry.out + dry.err));
        QVERIFY2(dry.out.contains(QStringLiteral("有限会社山本製作所")), qPrintable(dry.out + dry.err));
        QVERIFY(!QFile::exists(QDir(folder).filePath(intake::kRecordFileName)));
        QVERIFY(testdb::committedCards(cards).isEmpty());

        const CommandRun run = runCommand(tool, {"intake", folder, "--card-folder", cards});
        QVERIFY2(run.code == 0, qPrintable(run.err));
        const QStringList keys = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY2(keys.size() == 2, qPrintable(run.out + run.err));
        const QMap<int, testdb::CardRow> stored = testdb::committedCards(cards);
        QCOMPARE(stored.size(), 2);
        // yamamoto.png sorts after sato_1: the two-sided card was registered first.
        const QString sato = QDir(cards).filePath(QStringLiteral("image/%1/base/").arg(keys[0]));
        QCOMPARE(readAll(sato + QStringLiteral("photo1.png")), readAll(QDir(folder).filePath("sato_1.png")));
        QCOMPARE(readAll(sato + QStringLiteral("photo2.png")), readAll(QDir(folder).filePath("sato_2.png")));
        QVERIFY(stored.value(keys[0].toInt()).value("KATABAN").contains(QStringLiteral("青葉商事")));

        QFile::copy(QDir(m_drawn).filePath("jp-v-1.png"), QDir(folder).filePath("yamamoto-again.png"));
        const CommandRun again = runCommand(tool, {"intake", folder, "--card-folder", cards});
        QCOMPARE(again.code, 0);
        QCOMPARE(again.out, QString());
        QVERIFY2(
            again.err.contains(QStringLiteral("yamamoto-again.png: 登録済みの名刺（番号 %1）").arg(keys[1])),
            qPrintable(again.err));
        QCOMPARE(testdb::committedCards(cards).size(), 2);
    }

    // The command stopped by a signal at some moment of its reading or its registering: it ends with
    // 128 + the signal (or 0 when it was done first); every card it printed is stored, every card
    // the record names is stored under that key, and a card is stored at most once. Killed
    // outright, at most the card being registered goes unprinted.
    void interrupted_data() {
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("afterMs");
        QTest::newRow("TERM while reading") << int(SIGTERM) << 300;
        QTest::newRow("INT later") << int(SIGINT) << 2500;
        QTest::newRow("HUP late") << int(SIGHUP) << 4500;
        QTest::newRow("KILL while registering") << int(SIGKILL) << 4000;
    }
    void interrupted() {
        QFETCH(int, signal);
        QFETCH(int, afterMs);
        QList<std::pair<QString, QString>> pictures;
        for (int i = 1; i <= 3; ++i) {
            pictures << std::pair{QStringLiteral("h%1.png").arg(i), QStringLiteral("jp-h-1.png")}
                     << std::pair{QStringLiteral("v%1.png").arg(i), QStringLiteral("jp-v-1.png")};
        }
        const QString folder = stack(pictures), cards = cardFolder();
        QProcess p;
        p.start(QStringLiteral(CARDS_TOOL_PATH), {"intake", folder, "--card-folder", cards});
        QVERIFY(p.waitForStarted());
        QTest::qWait(afterMs);
        // The wait runs the event loop, which may have reaped a command that finished first: its
        // process id is then 0, and kill(0, ...) would signal this test's whole process group.
        if (const qint64 pid = p.processId(); pid > 0)
            ::kill(pid_t(pid), signal);
        QVERIFY(p.waitForFinished(10000));
        const QStringList printed =
            QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        const QMap<int, testdb::CardRow> stored = testdb::committedCards(cards);
        if (p.exitStatus() == QProcess::CrashExit) {
            QCOMPARE(signal, int(SIGKILL));
            QVERIFY(stored.size() - printed.size() <= 1);
        } else {
            QVERIFY2(p.exitCode() == 128 + signal || p.exitCode() == 0,
                     qPrintable(QString::number(p.exitCode())));
            QCOMPARE(stored.size(), printed.size());
        }
        QVERIFY(stored.size() <= 2);  // two people, the other pictures alike them
        for (const QString& key : printed)
            QVERIFY(stored.contains(key.toInt()));
        intake::StackRecord record(folder);
        record.load();
        for (const intake::StackCard& card : intake::listStack(folder, false)) {
            int key = 0;
            if (record.outcome(card, &key) == CardOutcome::Registered)
                QVERIFY(stored.contains(key));
        }
    }

    // From the scanner: the scanner SANE lists is chosen, the feeder's sheets become pictures in a
    // new folder of their own, and with 両面 two sheets after another make one card.
    void scannerPath() {
        MessageRecorder messages;
        const QString scans = m_dir.filePath(QStringLiteral("scans"));
        IntakeStartWindow start(scans);
        start.findScanners();
        QCOMPARE(start.m_scannerList->count(), 1);
        QCOMPARE(start.m_scannerList->currentData().toString(), QStringLiteral("test:0"));
        QVERIFY(start.m_scannerChoice->isChecked());
        start.m_duplexCheck->setChecked(true);
        QTest::mouseClick(start.m_startButton, Qt::LeftButton);
        QCOMPARE(messages.shown.size(), 0);
        QCOMPARE(start.result(), int(QDialog::Accepted));
        QVERIFY(start.folder().startsWith(scans + QLatin1Char('/')));
        QCOMPARE(QDir(start.folder()).entryList({QStringLiteral("scan-*.png")}).size(), 10);
        CardDatabase dm(cardFolder());
        dm.open();
        IntakeWindow window(dm, start.folder(), start.duplex(), nullptr, 2);
        QCOMPARE(window.cardCount(), 5);
        QCOMPARE(window.currentCard().pictures, QStringList({"scan-0001.png", "scan-0002.png"}));
    }

    // The review window: suggestions shown and marked, 登録 stores the card with its pictures,
    // 飛ばす passes over, 戻る shows what was registered; a card alike a stored one says so and
    // 登録 asks first. Closed in the middle, the next intake of the folder starts where it stopped.
    void reviewWindow() {
        const QString folder = stack({{"a_1.png", "jp-h-1.png"},
                                      {"a_2.png", "en-h-1.png"},
                                      {"b.png", "jp-v-1.png"},
                                      {"c.jpg", "photo-jp-h-1.jpg"},
                                      {"d.png", "jp-v-1.png"}});
        const QString cards = cardFolder();
        CardDatabase dm(cards);
        dm.open();
        MessageRecorder messages;
        int firstKey = 0;
        {
            IntakeWindow window(dm, folder, false, nullptr, 2);
            QCOMPARE(window.cardCount(), 4);
            QTRY_VERIFY_WITH_TIMEOUT(window.reader().finished(), 120000);
            QCoreApplication::processEvents();
            QCOMPARE(window.currentIndex(), 0);
            QVERIFY(window.m_frontPicture->isVisibleTo(&window) &&
                    window.m_backPicture->isVisibleTo(&window));
            QCOMPARE(window.m_organisationEdit->text(), QStringLiteral("株式会社青葉商事"));
            QVERIFY(window.isSuggested(window.m_organisationEdit));
            QVERIFY(!window.isSuggested(window.m_readingEdit));
            window.m_readingEdit->setFocus();
            commitText(window.m_readingEdit, QStringLiteral("さとう けんいち"));
            window.m_nameEdit->selectAll();
            commitText(window.m_nameEdit, QStringLiteral("佐藤 健一"));
            QVERIFY(!window.isSuggested(window.m_nameEdit));
            QTest::mouseClick(window.m_registerButton, Qt::LeftButton);
            const QMap<int, testdb::CardRow> stored = testdb::committedCards(cards);
            QCOMPARE(stored.size(), 1);
            firstKey = stored.firstKey();
            QCOMPARE(stored.first().value("SYASYU"), QStringLiteral("佐藤 健一"));
            QCOMPARE(stored.first().value("HURIGANA"), QStringLiteral("さとう けんいち"));
            QVERIFY(QFile::exists(
                QDir(cards).filePath(QStringLiteral("image/%1/base/photo2.png").arg(firstKey))));

            QCOMPARE(window.currentIndex(), 1);  // b.png
            // その他 past its column is refused, the card kept as typed.
            window.m_memoEdit->setPlainText(QString(4999, QLatin1Char('x')) + QStringLiteral("\nTEL"));
            QTest::mouseClick(window.m_registerButton, Qt::LeftButton);
            QVERIFY(
                messages.texts("show").value(0).startsWith(QStringLiteral("その他が長すぎます（5004 文字")));
            QCOMPARE(testdb::committedCards(cards).size(), 1);
            window.m_memoEdit->clear();
            QTest::mouseClick(window.m_registerButton, Qt::LeftButton);
            QCOMPARE(window.currentIndex(), 2);  // c.jpg: the same card as the first
            QVERIFY2(window.m_duplicateLabel->text().contains(QStringLiteral("番号 %1").arg(firstKey)),
                     qPrintable(window.m_duplicateLabel->text()));
            messages.expectQuestion(QStringLiteral("登録済みの名刺（番号 %1）と名前・組織名が同じです。\r\n"
                                                   "それでも登録しますか？")
                                        .arg(firstKey),
                                    false);
            QTest::mouseClick(window.m_registerButton, Qt::LeftButton);
            QCOMPARE(testdb::committedCards(cards).size(), 2);
            QCOMPARE(window.currentIndex(), 2);
            QTest::mouseClick(window.m_skipButton, Qt::LeftButton);
            QCOMPARE(window.currentIndex(), 3);

            QTest::mouseClick(window.m_backButton, Qt::LeftButton);
            QTest::mouseClick(window.m_backButton, Qt::LeftButton);
            QTest::mouseClick(window.m_backButton, Qt::LeftButton);
            QCOMPARE(window.currentIndex(), 0);
            QCOMPARE(window.m_stateLabel->text(), QStringLiteral("登録済み（番号 %1）").arg(firstKey));
            QCOMPARE(window.m_readingEdit->text(), QStringLiteral("さとう けんいち"));
            QVERIFY(!window.m_registerButton->isEnabled() && !window.m_nameEdit->isEnabled());
        }  // closed with d.png not looked at
        IntakeWindow resumed(dm, folder, false, nullptr, 2);
        QCOMPARE(resumed.currentIndex(), 3);
        QCOMPARE(resumed.reader().total(),
                 2);  // the skipped card and d.png; nothing registered is read again
        QCOMPARE(resumed.outcome(2), CardOutcome::Skipped);
        QTRY_VERIFY_WITH_TIMEOUT(resumed.reader().finished(), 120000);
        QCoreApplication::processEvents();
        // d.png is the vertical card registered from b.png.
        QVERIFY(resumed.m_duplicateLabel->text().contains(QStringLiteral("番号")));
        messages.expectQuestion(QStringLiteral("登録済みの名刺（番号 %1）と名前・組織名が同じです。\r\n"
                                               "それでも登録しますか？")
                                    .arg(resumed.likelyDuplicate()),
                                true);
        messages.onMessage = [](const MessageRecorder::Shown&) {};
        resumed.show();
        QVERIFY(QTest::qWaitForWindowActive(&resumed));
        QTest::keyClick(resumed.m_nameEdit, Qt::Key_Return, Qt::ControlModifier);
        QCOMPARE(testdb::committedCards(cards).size(), 3);
        QVERIFY(messages.texts("show").last().startsWith(
            QStringLiteral("このフォルダの名刺をすべて確かめました（登録 3 件、飛ばした 1 件）")));
    }
};

QTEST_MAIN(IntakeTest)
#include "tst_intake.moc"

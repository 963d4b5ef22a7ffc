// Reading a card's picture into the editor: the image area's menu item and Ctrl+R follow the
// shown picture, the dialog reads on a worker thread and fills only the boxes the user chose,
// and nothing reaches the database.

#include "controls.h"
#include "editorfixture.h"
#include "picturearea.h"
#include "programundertest.h"
#include "scandialog.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

class TestScanDialog final : public QObject {
    Q_OBJECT

    EditorFixture f;
    CardEditorWindow* w = nullptr;
    QTemporaryDir drawn;  // cards drawn once by the card script

    // Puts a drawn card in the picture folder of card 12 and shows it as a click does.
    void showCard(const QString& file) {
        QDir().mkpath(f.cardFolder("12"));
        QVERIFY(QFile::copy(drawn.filePath(file), f.cardFolder("12") + '/' + file));
        w->setCardKey(12);
        w->refreshPictureList();
        ctl<QListWidget>(w, "ListBox1")->setCurrentRow(0);
        w->onPictureChosen();
        QVERIFY(!ctl<PictureArea>(w, "Image1")->picture().isNull());
    }

    // Presses Ctrl+R in the editor and waits for the reading to end.
    ScanDialog* readWithShortcut() {
        QTest::keyClick(ctl<QLineEdit>(w, "Edit4"), Qt::Key_R, Qt::ControlModifier);
        auto* dialog = w->findChild<ScanDialog*>();
        if (dialog && !QTest::qWaitFor([dialog] { return !dialog->reading(); }, 60000))
            return nullptr;
        return dialog;
    }

    QComboBox* choiceFor(ScanDialog* d, const QString& text) {
        for (int row = 0; row < d->m_lineTable->rowCount(); ++row) {
            if (d->m_lineTable->item(row, 0)->text() == text)
                return static_cast<QComboBox*>(d->m_lineTable->cellWidget(row, 1));
        }
        return nullptr;
    }

    // The accessible cell of a line's box choice.
    QAccessibleInterface* choiceCell(ScanDialog* d, const QString& text) {
        QAccessibleInterface* table = QAccessible::queryAccessibleInterface(d->m_lineTable);
        if (!table || !table->tableInterface())
            return nullptr;
        for (int row = 0; row < d->m_lineTable->rowCount(); ++row) {
            if (d->m_lineTable->item(row, 0)->text() == text)
                return table->tableInterface()->cellAt(row, 1);
        }
        return nullptr;
    }

private slots:
    void initTestCase() {
        QProcess script;
        script.start("bash", {MAKE_CARDS_SCRIPT, drawn.path(), "quick"});
        QVERIFY(script.waitForFinished(120000));
        QCOMPARE(script.exitCode(), 0);
    }
    void init() {
        QVERIFY(f.setUp());
        w = program->cardEditor();
        w->resetFields(QDate(2024, 5, 1));
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        w->activateWindow();
        ctl<QLineEdit>(w, "Edit4")->setFocus();
    }
    void cleanup() {
        qunsetenv("TESSDATA_PREFIX");
        f.tearDown();
    }

    void offeredOnlyWithPicture() {
        QVERIFY(ctl<PictureArea>(w, "Image1")->actions().contains(w->readScan));
        QVERIFY(ctl<QMenu>(w, "PictureMenu")->actions().contains(w->readScan));
        QCOMPARE(ctl<PictureArea>(w, "Image1")->contextMenuPolicy(), Qt::CustomContextMenu);
        QCOMPARE(w->readScan->text(), QStringLiteral("画像から読み取る…"));
        QVERIFY(!w->readScan->isEnabled());
        QTest::keyClick(ctl<QLineEdit>(w, "Edit4"), Qt::Key_R, Qt::ControlModifier);
        QVERIFY(!w->findChild<ScanDialog*>());

        showCard("jp-h-1.png");
        QVERIFY(w->readScan->isEnabled());
        w->resetFields(QDate(2024, 5, 2));
        QVERIFY(!w->readScan->isEnabled());
    }

    void namesWhatToInstall() {
        QTemporaryDir empty;
        qputenv("TESSDATA_PREFIX", empty.path().toLocal8Bit());
        showCard("jp-h-1.png");
        QVERIFY(!w->readScan->isEnabled());
        QVERIFY2(w->readScan->text().contains("tesseract-ocr-jpn、tesseract-ocr-jpn-vert、tesseract-ocr-eng"),
                 qPrintable(w->readScan->text()));
    }

    void fillsChosenBoxes_data() {
        QTest::addColumn<bool>("overwrite");
        QTest::addColumn<QString>("organisation");
        QTest::addColumn<bool>("byScreenReader");  // the box is chosen through the accessible cell
        QTest::newRow("empty boxes only") << false << "旧組織" << false;
        QTest::newRow("overwrite") << true << "株式会社青葉商事" << false;
        QTest::newRow("chosen by a screen reader") << false << "旧組織" << true;
    }
    void fillsChosenBoxes() {
        QFETCH(bool, overwrite);
        QFETCH(QString, organisation);
        QFETCH(bool, byScreenReader);
        showCard("jp-h-1.png");
        ctl<QLineEdit>(w, "Edit5")->setText("旧組織");
        ctl<QLineEdit>(w, "Edit6")->setText("");
        const auto before = f.committedCards();

        ScanDialog* d = readWithShortcut();
        QVERIFY(d);
        QVERIFY2(d->m_applyButton->isEnabled(), qPrintable(d->m_statusLabel->text()));
        QComboBox* department = choiceFor(d, "営業部");
        QVERIFY(department);
        QCOMPARE(department->currentText(), QStringLiteral("部署名"));
        if (byScreenReader) {
            // The cell under the choice reads the box and takes another box's caption; a text
            // that names no box changes nothing.
            QAccessibleInterface* cell = choiceCell(d, "営業部");
            QVERIFY(cell);
            QCOMPARE(cell->role(), QAccessible::Cell);
            QCOMPARE(cell->text(QAccessible::Name), QStringLiteral("部署名"));
            cell->setText(QAccessible::Value, QStringLiteral("部署"));
            QCOMPARE(department->currentText(), QStringLiteral("部署名"));
            QCOMPARE(cell->text(QAccessible::Name), QStringLiteral("部署名"));
            cell->setText(QAccessible::Value, QStringLiteral("なし"));
            QCOMPARE(cell->text(QAccessible::Name), QStringLiteral("なし"));
        } else {
            department->setCurrentIndex(department->findText("なし"));  // the user drops one line
            QCOMPARE(choiceCell(d, "営業部")->text(QAccessible::Name), QStringLiteral("なし"));
        }
        QCOMPARE(department->currentText(), QStringLiteral("なし"));
        QCOMPARE(choiceFor(d, "佐藤 健一")->currentText(), QStringLiteral("名前"));
        d->m_overwriteCheck->setChecked(overwrite);
        QTest::mouseClick(d->m_applyButton, Qt::LeftButton);

        QCOMPARE(ctl<QLineEdit>(w, "Edit4")->text(), QStringLiteral("佐藤 健一"));
        QCOMPARE(ctl<QLineEdit>(w, "Edit5")->text(), organisation);
        QCOMPARE(ctl<QLineEdit>(w, "Edit6")->text(), QString());
        QCOMPARE(ctl<QLineEdit>(w, "Edit7")->text(), QStringLiteral("課長"));
        QCOMPARE(ctl<QLineEdit>(w, "Edit8")->text(), QString());  // the reading is never filled from kanji
        QCOMPARE(ctl<QPlainTextEdit>(w, "Memo1")->toPlainText(),
                 QStringLiteral("TEL 03-3123-4567\nsato@aoba-shoji.example.jp"));
        QCOMPARE(f.committedCards(), before);
        QVERIFY(f.messages->shown.isEmpty());
    }

    void cancelChangesNothing() {
        showCard("jp-v-1.png");
        ctl<QLineEdit>(w, "Edit4")->setText("山田 太郎");
        ScanDialog* d = readWithShortcut();
        QVERIFY(d);
        QVERIFY(d->m_lineTable->rowCount() > 0);
        QTest::mouseClick(d->m_cancelButton, Qt::LeftButton);
        QCOMPARE(ctl<QLineEdit>(w, "Edit4")->text(), QStringLiteral("山田 太郎"));
        for (QLineEdit* box : {ctl<QLineEdit>(w, "Edit5"), ctl<QLineEdit>(w, "Edit6"),
                               ctl<QLineEdit>(w, "Edit7"), ctl<QLineEdit>(w, "Edit8")})
            QVERIFY(box->text().isEmpty());
        QVERIFY(ctl<QPlainTextEdit>(w, "Memo1")->toPlainText().isEmpty());
    }

    // A picture replaced by something unreadable after it was shown: the dialog says why.
    void unreadablePictureSaysWhy() {
        showCard("jp-h-1.png");
        QFile broken(f.cardFolder("12") + "/jp-h-1.png");
        QVERIFY(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
        broken.write("not a picture");
        broken.close();
        ScanDialog* d = readWithShortcut();
        QVERIFY(d);
        QVERIFY2(d->m_statusLabel->text().contains("jp-h-1.png"), qPrintable(d->m_statusLabel->text()));
        QVERIFY(!d->m_applyButton->isEnabled());
        QCOMPARE(d->m_lineTable->rowCount(), 0);
    }

    // 中止 stops the worker; closing the dialog while it reads waits for it to end.
    void stopAndCloseWhileReading() {
        showCard("photo-jp-h-1.jpg");
        w->readScan->trigger();
        auto* d = w->findChild<ScanDialog*>();
        QVERIFY(d);
        QVERIFY(d->reading());
        QTest::mouseClick(d->m_stopButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!d->reading(), 60000);
        QCOMPARE(d->m_statusLabel->text(), QStringLiteral("読み取りを中止しました。"));
        QVERIFY(!d->m_applyButton->isEnabled());
        const QPointer<ScanDialog> closed(d);
        d->reject();
        QTRY_VERIFY(closed.isNull());

        w->readScan->trigger();
        d = w->findChild<ScanDialog*>();
        QVERIFY(d && d->reading());
        delete d;
        QVERIFY(ctl<QLineEdit>(w, "Edit4")->text().isEmpty());
    }
};

QTEST_MAIN(TestScanDialog)
#include "tst_scandialog.moc"

// The version window: its layout and texts, the knight picture at its own size, and the memo
// keeping what the user typed from one showing to the next.

#include "controls.h"
#include "fakes.h"
#include "formlook.h"
#include "messages.h"
#include "versionwindow.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

class TestVersion final : public QObject {
    Q_OBJECT
    VersionWindow* m_window = nullptr;

private slots:
    // Each test gets a window of its own, so that what one test types or changes is never
    // seen by another, whatever order they run in.
    void initTestCase() { formlook::setupApplicationFont(); }
    void init() { m_window = new VersionWindow; }
    void cleanup() {
        delete m_window;
        m_window = nullptr;
    }

    void controls_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");  // null: only the text is checked
        QTest::addColumn<QString>("text");
        for (const formlook::ControlSpec& c : VersionWindow::layout())
            QTest::newRow(c.objectName) << c.name() << c.rect << c.caption;
    }
    void controls() {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        QFETCH(QString, text);
        auto* w = m_window->findChild<QWidget*>(name);
        QVERIFY2(w, qPrintable(name));
        if (!geometry.isNull())
            QCOMPARE(w->geometry(), geometry);
        if (auto* label = qobject_cast<QLabel*>(w); label && !text.isEmpty())
            QCOMPARE(label->text(), text);
        if (auto* button = qobject_cast<QPushButton*>(w))
            QCOMPARE(button->text(), text);
        if (qobject_cast<QPlainTextEdit*>(w))
            QCOMPARE(w->accessibleName(), text);
    }

    void window() {
        QCOMPARE(m_window->windowTitle(), QStringLiteral("バージョン情報"));
        QCOMPARE(m_window->minimumSize(), QSize(524, 261));
        QCOMPARE(m_window->maximumSize(), QSize(524, 261));
        QVERIFY(ctl<QPushButton>(m_window, "Button1")->focusPolicy() & Qt::TabFocus);
        QCOMPARE(ctl<QPlainTextEdit>(m_window, "Memo1")->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QVERIFY(!ctl<QPlainTextEdit>(m_window, "Memo1")->isReadOnly());
        // The labels' panels are blue with white text.
        QCOMPARE(ctl<QLabel>(m_window, "Label2")->parentWidget(), ctl<QFrame>(m_window, "Panel2"));
        QCOMPARE(ctl<QLabel>(m_window, "Label4")->parentWidget(), ctl<QFrame>(m_window, "Panel1"));
        QCOMPARE(ctl<QLabel>(m_window, "Label3")->palette().color(QPalette::WindowText), QColor(Qt::white));
    }

    // 80 x 80 picture drawn from the top-left corner of its 80 x 81 area, not stretched: the
    // area's last row shows the window, not the picture.
    void pictureAtItsOwnSize() {
        const QPixmap picture = ctl<QLabel>(m_window, "Image1")->pixmap();
        QCOMPARE(picture.size(), QSize(80, 80));
        const QImage shot = ctl<QLabel>(m_window, "Image1")->grab().toImage();
        const QColor corner = shot.pixelColor(1, 1);
        QVERIFY2(corner.blue() > 60 && corner.red() < 60 && corner.green() < 80, qPrintable(corner.name()));
        QCOMPARE(shot.pixelColor(1, 80), m_window->palette().color(QPalette::Window));
        // The knight stands white in the middle.
        const QColor middle = shot.pixelColor(40, 45);
        QVERIFY2(middle.lightness() > 200, qPrintable(middle.name()));
    }

    // Heading framed by square marks, then four parts separated by empty lines: rights, the
    // request to be told before the program is presented, no liability, subject to change.
    void noticeStructure() {
        const QStringList lines =
            ctl<QPlainTextEdit>(m_window, "Memo1")->toPlainText().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 13);
        QVERIFY(lines[0].startsWith(QStringLiteral("■")) && lines[0].endsWith(QStringLiteral("■")));
        QList<int> empty;
        for (int i = 0; i < lines.size(); ++i)
            if (lines[i].trimmed().isEmpty())
                empty << i;
        QCOMPARE(empty.size(), 4);
        QVERIFY(lines.join(QString()).contains(QStringLiteral("著作権")));
        // The program is published under the MIT licence: the notice allows what it allows.
        QVERIFY(lines.join(QString()).contains(QStringLiteral("MIT ライセンス")));
        QVERIFY(!lines.join(QString()).contains(QStringLiteral("ご遠慮ください")));
        QVERIFY(lines.join(QString()).contains(QStringLiteral("雑誌")));
        QVERIFY(lines.join(QString()).contains(QStringLiteral("責任を負いません")));
        QVERIFY(lines.last().contains(QStringLiteral("予告なく変更")));
    }

    // Shown modally from the menu; the user types into the memo and closes; the next showing
    // has the typed text where it was.
    void typedTextStaysForTheNextShowing() {
        MessageRecorder recorder;
        const QString typed = QStringLiteral("メモ追記");
        QString seenFirstTime, seenSecondTime;
        int showing = 0;
        recorder.onShowModal = [&](QDialog* dialog) {
            dialog->show();
            QVERIFY(QTest::qWaitForWindowExposed(dialog));
            ++showing;
            if (showing == 1) {
                seenFirstTime = ctl<QPlainTextEdit>(m_window, "Memo1")->toPlainText();
                ctl<QPlainTextEdit>(m_window, "Memo1")->setFocus();
                ctl<QPlainTextEdit>(m_window, "Memo1")->moveCursor(QTextCursor::End);
                QTest::sendKeyEvent(QTest::Click, ctl<QPlainTextEdit>(m_window, "Memo1"), Qt::Key_Return,
                                    QStringLiteral("\r"), Qt::NoModifier);
                for (const QChar ch : typed)
                    QTest::sendKeyEvent(QTest::Click, ctl<QPlainTextEdit>(m_window, "Memo1"), Qt::Key_unknown,
                                        QString(ch), Qt::NoModifier);
            } else {
                seenSecondTime = ctl<QPlainTextEdit>(m_window, "Memo1")->toPlainText();
            }
            QTest::mouseClick(ctl<QPushButton>(m_window, "Button1"), Qt::LeftButton);
            QVERIFY(!dialog->isVisible());
        };
        messages::showModal(m_window);
        messages::showModal(m_window);
        QCOMPARE(showing, 2);
        const QStringList lines = seenFirstTime.split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 13);
        QVERIFY(lines[0].startsWith(QStringLiteral("■")) && lines[0].endsWith(QStringLiteral("■")));
        QList<int> empty;
        for (int i = 0; i < lines.size(); ++i)
            if (lines[i].trimmed().isEmpty())
                empty << i;
        QCOMPARE(empty.size(), 4);
        QVERIFY(seenFirstTime.contains(QStringLiteral("著作権")));
        QVERIFY(seenFirstTime.contains(QStringLiteral("雑誌")));
        QVERIFY(seenFirstTime.contains(QStringLiteral("責任を負いません")));
        QVERIFY(lines.last().contains(QStringLiteral("予告なく変更")));
        QCOMPARE(seenSecondTime, VersionWindow::notice() + QLatin1Char('\n') + typed);
        QVERIFY(recorder.texts(QStringLiteral("error")).isEmpty());
    }
};

QTEST_MAIN(TestVersion)
#include "tst_version.moc"

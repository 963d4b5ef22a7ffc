// The card folder lock: a running copy keeps others out; nothing else ever does, and a refusal
// says what is wrong and how to put it right.

#include "filemode.h"
#include "folderlock.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

class TestFolderLock final : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    void writeLockFile(const QByteArray& content) {
        QFile f(cardfolder::lockFilePath(m_dir.path()));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }

private slots:
    void initTestCase() { useDesktopUmask(); }

    void runningCopyKeepsOthersOutUntilItDies() {
        QProcess holder;
        holder.start(QCoreApplication::applicationDirPath() + "/lockholder", {m_dir.path()});
        QVERIFY(holder.waitForReadyRead(30000));
        QCOMPARE(holder.readAllStandardOutput().trimmed(), QByteArray("held"));
        const cardfolder::Claim second = cardfolder::claim(m_dir.path());
        QVERIFY(!second.lock);
        QVERIFY(second.heldByRunningCopy);
        QVERIFY(second.refusal.contains(QStringLiteral("すでに起動")));
        holder.kill();  // SIGKILL: the lock file stays behind, its owner gone
        QVERIFY(holder.waitForFinished());
        QVERIFY(QFile::exists(cardfolder::lockFilePath(m_dir.path())));
        {
            const cardfolder::Claim third = cardfolder::claim(m_dir.path());
            QVERIFY2(third.lock, qPrintable(third.refusal));
            QVERIFY(!cardfolder::claim(m_dir.path()).lock);  // held within one process as well
        }
        QVERIFY(!QFile::exists(cardfolder::lockFilePath(m_dir.path())));  // let go: removed
    }

    // Lock files nobody holds, whatever they say, never block a start. The lock file taken is
    // the owner's alone (0600), one left readable by an older copy too: another user who could
    // open it could take the lock and keep the owner out.
    void leftoverLockFilesAreTakenOver_data() {
        QTest::addColumn<QByteArray>("content");
        const QByteArray host = QSysInfo::machineHostName().toUtf8();
        QTest::newRow("none left over") << QByteArray("none");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("garbage") << QByteArray("\xff\xfe not a lock\n");
        QTest::newRow("another host") << QByteArray("4242\nTavrona\nother-desk.example\n");
        QTest::newRow("live process, no lock held") << QByteArray("1\nTavrona\n" + host + "\n");
    }
    void leftoverLockFilesAreTakenOver() {
        QFETCH(QByteArray, content);
        QFile::remove(cardfolder::lockFilePath(m_dir.path()));
        if (content != "none") {
            writeLockFile(content);
            QFile::setPermissions(cardfolder::lockFilePath(m_dir.path()),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                      QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther);
        }
        const cardfolder::Claim claim = cardfolder::claim(m_dir.path());
        QVERIFY2(claim.lock, qPrintable(claim.refusal));
        QFile f(cardfolder::lockFilePath(m_dir.path()));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readLine().trimmed(), QByteArray::number(qint64(::getpid())));
        QCOMPARE(fileMode(cardfolder::lockFilePath(m_dir.path())), 0600);
    }

    void lockFileInTheWaySaysHowToFreeIt() {
        QVERIFY(QDir(m_dir.path()).mkdir(".tavrona.lock"));
        const cardfolder::Claim claim = cardfolder::claim(m_dir.path());
        QVERIFY(!claim.lock);
        QVERIFY(!claim.heldByRunningCopy);
        QVERIFY2(claim.refusal.contains(QDir::toNativeSeparators(cardfolder::lockFilePath(m_dir.path()))),
                 qPrintable(claim.refusal));
        QVERIFY(claim.refusal.contains(QStringLiteral("削除")));
        QDir(m_dir.path()).rmdir(".tavrona.lock");
    }

    void unwritableFolderIsNotTakenForARunningCopy() {
        QFile plain(m_dir.filePath("plain-file"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        QStringList folders{m_dir.filePath("plain-file")};  // a file where the folder should be
        if (::geteuid() != 0) {                             // root writes everywhere
            QDir(m_dir.path()).mkdir("readonly");
            QFile::setPermissions(m_dir.filePath("readonly"), QFile::ReadOwner | QFile::ExeOwner);
            folders << m_dir.filePath("readonly");
        }
        for (const QString& folder : folders) {
            const cardfolder::Claim claim = cardfolder::claim(folder);
            QVERIFY(!claim.lock);
            QVERIFY(!claim.heldByRunningCopy);
            QVERIFY2(claim.refusal.contains(QStringLiteral("書き込めません")), qPrintable(claim.refusal));
            QVERIFY(claim.refusal.contains(QDir::toNativeSeparators(folder)));
            QVERIFY(claim.refusal.contains(QChar(u'（')));  // with the system's reason
        }
    }
};

QTEST_GUILESS_MAIN(TestFolderLock)
#include "tst_folderlock.moc"

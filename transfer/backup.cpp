#include "backup.h"

#include "cardfolder.h"
#include "dbconnection.h"
#include "engineprocess.h"
#include "fbservices.h"
#include "picturearchive.h"
#include "privatefile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>

#include <sys/stat.h>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace transfer {

namespace {

QString timeStamp() {
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
}

// The service reports "N records written" (or restored) every so many rows and at the end of a
// table; -1 for any other line.
int recordsIn(const QString& line) {
    static const QRegularExpression records(QStringLiteral("^(?:gbak:)?\\s*(\\d+) records"));
    const QRegularExpressionMatch m = records.match(line);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

void report(const Progress& progress, const QString& line, int percent) {
    if (progress)
        progress(line, percent);
}

// The service reports every object it writes; the steps are the lines that are not indented.
void reportStep(const Progress& progress, QString line, int percent) {
    if (line.startsWith(QLatin1String("gbak:")))
        line.remove(0, 5);
    if (line.isEmpty() || line[0].isSpace())
        return;
    report(progress, line.trimmed(), percent);
}

}  // namespace

QString picturesArchivePath(const QString& backupPath) {
    const QFileInfo info(backupPath);
    QString base = info.fileName();
    if (base.endsWith(QLatin1String(".fbk"), Qt::CaseInsensitive))
        base.chop(4);
    return info.dir().filePath(base + QStringLiteral(".pictures.tar"));
}

BackupResult backupCardFolder(const QString& folder, const QString& backupPath, bool withPictures,
                              const Progress& progress, const QString& picturesRoot) {
    const QString cardFile = CardFolder::local(folder).database;
    if (!QFileInfo::exists(cardFile))
        throw TransferError(QStringLiteral("カードファイル「%1」がありません。").arg(cardFile));
    const QFileInfo target(backupPath);
    if (target.isDir())
        throw TransferError(
            QStringLiteral("「%1」はフォルダです。バックアップのファイル名を指定してください。")
                .arg(backupPath));
    if (!target.dir().exists())
        throw TransferError(QStringLiteral("フォルダ「%1」がありません。").arg(target.dir().path()));
    if (target.absoluteFilePath() == QFileInfo(cardFile).absoluteFilePath() || sameFile(backupPath, cardFile))
        throw TransferError(QStringLiteral("カードファイルそのものにはバックアップを書けません。"));

    BackupResult result;
    // The share done is measured against the largest key, which costs no pass over the rows; the
    // number of cards saved is the one the service reports.
    const int estimate = fbservices::largestCardKey(cardFile);
    report(progress, QStringLiteral("カードファイルをバックアップしています…"), 0);
    // The engine writes a new file beside the target; an earlier backup there stays whole until
    // the new one is complete. The file is made private before the engine opens it, since the
    // engine would create it readable by everyone the umask lets.
    const QString partial = target.absoluteFilePath() + QStringLiteral(".part");
    QFile::remove(partial);
    if (const QString reason = privatefile::reserve(partial); !reason.isEmpty())
        throw TransferError(
            QStringLiteral("バックアップのファイル「%1」を作成できません（%2）。").arg(partial, reason));
    engineprocess::removeAtExit(partial);  // the service may still write it when interrupted
    bool cardTable = false;
    try {
        fbservices::backup(cardFile, partial, [&](const QString& line) {
            if (line.contains(QLatin1String("writing data for table")))
                cardTable = line.trimmed().endsWith(QLatin1String(" MST_CAR"));
            const int records = recordsIn(line);
            if (cardTable && records >= 0)
                result.cards = records;
            reportStep(progress, line,
                       estimate > 0 && records >= 0 ? std::min(99, int(records * 100ll / estimate)) : -1);
        });
    } catch (const DbError& e) {
        QFile::remove(partial);
        throw TransferError(
            QStringLiteral("バックアップできませんでした。\n%1").arg(QString::fromUtf8(e.what())));
    } catch (...) {
        QFile::remove(partial);  // interrupted: the earlier backup stays as it was
        throw;
    }
    // One step, so that the earlier backup is there until the new one takes its name.
    if (::rename(QFile::encodeName(partial).constData(),
                 QFile::encodeName(target.absoluteFilePath()).constData()) != 0) {
        const QString reason = privatefile::systemReason(errno);
        QFile::remove(partial);
        throw TransferError(
            QStringLiteral("バックアップを「%1」に置けませんでした（%2）。").arg(backupPath, reason));
    }
    report(progress, QStringLiteral("カードファイルのバックアップ: %1").arg(target.absoluteFilePath()),
           withPictures ? 90 : 100);

    if (withPictures) {
        result.picturesArchive = picturesArchivePath(target.absoluteFilePath());
        report(progress, QStringLiteral("画像フォルダをまとめています…"), 90);
        result.pictureFiles = writePicturesArchive(
            picturesRoot.isEmpty() ? CardFolder::resolve(folder).picturesRoot : picturesRoot,
            result.picturesArchive);
        report(progress,
               QStringLiteral("画像 %1 件: %2").arg(result.pictureFiles).arg(result.picturesArchive), 100);
    }
    return result;
}

namespace {

// A restore cut short (a killed process) leaves its new file, or its folder; with the folder's
// lock held no other restore is running, so any such entry is left over.
void removeLeftoverRestores(const QString& cardFile) {
    const QDir dataDir = QFileInfo(cardFile).dir();
    for (const QFileInfo& leftover : dataDir.entryInfoList(
             {QFileInfo(cardFile).fileName() + QStringLiteral(".restoring-*")},
             QDir::Files | QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        if (leftover.isDir() && !leftover.isSymLink())
            QDir(leftover.filePath()).removeRecursively();
        else
            QFile::remove(leftover.filePath());
    }
}

// Restores the backup into restored, checks that it is a card file and narrows it to the owner;
// returns its number of cards. A failed restore leaves no restored file.
int restoreAndCheck(const QFileInfo& source, const QString& restored, const Progress& progress) {
    try {
        fbservices::restore(source.absoluteFilePath(), restored,
                            [&](const QString& line) { reportStep(progress, line, -1); });
        const fbservices::CardFileFacts facts = fbservices::inspectCardFile(restored);
        if (!facts.hasCardTable || !facts.hasKeyTrigger)
            throw TransferError(
                QStringLiteral("復元したファイルに%1 がありません。名刺管理のバックアップではないようです。")
                    .arg(facts.hasCardTable ? QStringLiteral("トリガー TRG_CAR")
                                            : QStringLiteral("名刺の表 MST_CAR")));
        if (!privatefile::restrictToOwner(restored))
            throw TransferError(
                QStringLiteral("復元したファイル「%1」を自分だけが読めるようにできません（%2）。")
                    .arg(restored, privatefile::systemReason(errno)));
        return facts.cards;
    } catch (const DbError& e) {
        QFile::remove(restored);
        throw TransferError(QStringLiteral("復元できませんでした。カードファイルはそのままです。\n%1")
                                .arg(QString::fromUtf8(e.what())));
    } catch (...) {
        QFile::remove(restored);
        throw;
    }
}

// Gives the card file a second name to keep it by, and returns that name. Two restores within
// one second (a killed one and the next) get names of their own.
QString keepPreviousFile(const QString& cardFile, const QString& stamp, const QString& restored) {
    QString previousFile;
    int linked = -1;
    for (int n = 1; n <= 100 && linked != 0; ++n) {
        previousFile = cardFile + QStringLiteral(".before-restore-") + stamp +
                       (n == 1 ? QString() : QStringLiteral("-%1").arg(n));
        linked = ::link(QFile::encodeName(cardFile).constData(), QFile::encodeName(previousFile).constData());
        if (linked != 0 && errno != EEXIST)
            break;
    }
    if (linked != 0) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        QFile::remove(restored);
        throw TransferError(
            QStringLiteral(
                "カードファイルを「%1」として残せませんでした（%2）。カードファイルはそのままです。")
                .arg(previousFile, reason));
    }
    return previousFile;
}

}  // namespace

RestoreResult restoreCardFolder(const QString& folder, const QString& backupPath, const Progress& progress,
                                const std::function<void()>& releaseCardFile) {
    const QFileInfo source(backupPath);
    if (!source.exists())
        throw TransferError(QStringLiteral("バックアップ「%1」がありません。").arg(backupPath));
    if (!source.isFile() || !source.isReadable())
        throw TransferError(QStringLiteral("バックアップ「%1」を読めません。").arg(backupPath));
    const QString cardFile = CardFolder::local(folder).database;
    privatefile::makeFolders(QFileInfo(cardFile).absolutePath());
    removeLeftoverRestores(cardFile);

    const QString stamp = timeStamp();
    // The engine creates the restored file readable by everyone the umask lets: it is made in a
    // folder only the owner can enter, narrowed there, and only then moved to the card file's place.
    const QString work = cardFile + QStringLiteral(".restoring-") + stamp;
    if (::mkdir(QFile::encodeName(work).constData(), 0700) != 0 || !privatefile::restrictToOwner(work))
        throw TransferError(
            QStringLiteral("復元用のフォルダ「%1」を作成できません（%2）。カードファイルはそのままです。")
                .arg(work, privatefile::systemReason(errno)));
    const auto removeWork = qScopeGuard([&] { QDir(work).removeRecursively(); });
    const QString restored = QDir(work).filePath(QFileInfo(cardFile).fileName());
    engineprocess::removeAtExit(restored);  // the service may still write it when interrupted
    report(progress, QStringLiteral("バックアップから新しいファイルに復元しています…"), 0);
    RestoreResult result;
    result.cards = restoreAndCheck(source, restored, progress);
    report(progress, QStringLiteral("復元したファイルを確かめました（名刺 %1 件）。").arg(result.cards), 90);

    if (releaseCardFile)
        releaseCardFile();
    // The old file gets its second name first and the restored one then takes the card file's
    // name in one step, so that at every moment, a crash included, DATA.FDB is the old or the new
    // card file, never missing.
    if (QFileInfo::exists(cardFile))
        result.previousFile = keepPreviousFile(cardFile, stamp, restored);
    if (::rename(QFile::encodeName(restored).constData(), QFile::encodeName(cardFile).constData()) != 0) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        if (!result.previousFile.isEmpty())
            QFile::remove(result.previousFile);
        QFile::remove(restored);
        throw TransferError(QStringLiteral("復元したファイルをカードファイルの場所に置けませんでした（%"
                                           "1）。カードファイルはそのままです。")
                                .arg(reason));
    }
    // The old card file as kept is narrowed too; it was readable as the card file was until now.
    if (!result.previousFile.isEmpty())
        privatefile::restrictToOwner(result.previousFile);
    report(progress,
           result.previousFile.isEmpty()
               ? QStringLiteral("復元しました（名刺 %1 件）。").arg(result.cards)
               : QStringLiteral("復元しました（名刺 %1 件）。前のカードファイルは「%2」に残しました。")
                     .arg(result.cards)
                     .arg(result.previousFile),
           100);
    return result;
}

}  // namespace transfer

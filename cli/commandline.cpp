#include "commandline.h"

#include "carddatabase.h"
#include "commands.h"
#include "engineprocess.h"
#include "folderlock.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace cli {

namespace {
const QCommandLineOption kCardFolder(QStringLiteral("card-folder"),
                                     QStringLiteral("カードフォルダ（既定は現在のフォルダ）"),
                                     QStringLiteral("DIR"));
const QCommandLineOption kDatabase(
    QStringLiteral("database"),
    QStringLiteral("Firebird サーバーのカードファイル HOST[/PORT]:/path/DATA.FDB"
                   "（ユーザーは ISC_USER と ISC_PASSWORD）"),
    QStringLiteral("DATABASE"));
QString g_database;  // the --database option of this run, if given

CardFolder resolved(const QString& folder) {
    return CardFolder::resolve(folder, g_database);
}
}  // namespace

Invocation::Invocation(const char* command, const QStringList& positional)
    : m_command(QString::fromUtf8(command)), m_positional(positional) {
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOption(kCardFolder);
    parser.addOption(kDatabase);
    for (const QString& name : positional)
        parser.addPositionalArgument(name, name);
}

bool Invocation::parse(const QStringList& arguments) {
    if (!parser.parse(QStringList{QStringLiteral("tavrona-cards %1").arg(m_command)} + arguments)) {
        complain(parser.errorText());
        return false;
    }
    // A last name ending in "..." takes that argument once or more.
    const bool more = !m_positional.isEmpty() && m_positional.last().endsWith(QLatin1String("..."));
    const qsizetype given = parser.positionalArguments().size();
    if (more ? given < m_positional.size() : given != m_positional.size()) {
        complain(QStringLiteral("%1 には %2 を指定してください。")
                     .arg(m_command, m_positional.join(QLatin1Char(' '))));
        return false;
    }
    g_database = parser.value(kDatabase);
    return true;
}

QString Invocation::cardFolder() const {
    return QDir(parser.isSet(kCardFolder) ? parser.value(kCardFolder) : QDir::currentPath()).absolutePath();
}

int withCardFolder(const QString& folder, const QString& busyHint, const std::function<void()>& work,
                   CardFile cardFile, const QString& interruptedLine) {
    try {
        if (cardFile == CardFile::NotUsed) {
            work();
            return kDone;
        }
        if (!QFileInfo(folder).isDir()) {
            complain(QStringLiteral("カードフォルダ「%1」がありません。").arg(folder));
            return kFailed;
        }
        if (resolved(folder).onServer) {
            // A card file on a server is shared by several people: no folder lock, no file here.
            work();
            return kDone;
        }
        if (cardFile == CardFile::Required && !QFileInfo::exists(CardFolder::local(folder).database)) {
            complain(QStringLiteral("カードフォルダ「%1」に data/DATA.FDB がありません。").arg(folder));
            return kFailed;
        }
        const cardfolder::Claim claim = cardfolder::claim(folder);
        if (!claim.lock) {
            QString text = claim.refusal;
            text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
            complain(text + (claim.heldByRunningCopy ? QStringLiteral("\n") + busyHint : QString()));
            return kFailed;
        }
        work();
        return kDone;
    } catch (const std::exception& e) {
        // Whatever a termination signal cut short (a loop that noticed it, a statement cancelled
        // when it did not), the work has been undone on the way here.
        if (const int sig = engineprocess::interruptingSignal()) {
            complain(interruptedLine);
            return engineprocess::exitCodeFor(sig);
        }
        complain(QString::fromUtf8(e.what()));
        return kFailed;
    }
}

void withCardFile(const QString& folder, const std::function<void(CardDatabase&)>& work) {
    CardDatabase dm(resolved(folder));
    dm.open();
    work(dm);
    // Done and committed: closing the card file may not keep the command alive for long.
    engineprocess::finishWithin(std::chrono::seconds(5), kDone);
}

}  // namespace cli

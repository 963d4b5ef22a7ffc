#include "startup.h"

#include "carddatabase.h"
#include "cardeditorwindow.h"
#include "cardlistwindow.h"
#include "cards.h"
#include "duplicates.h"
#include "engineprocess.h"
#include "folderlock.h"
#include "formlook.h"
#include "japanese.h"
#include "login.h"
#include "mainmenuwindow.h"
#include "messages.h"
#include "openwait.h"
#include "program.h"
#include "usersettings.h"
#include "versionwindow.h"
#include "visualstyle.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCryptographicHash>
#include <QDialog>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QWindow>

#include <cstdio>
#include <cstdlib>

namespace {

const QString kStyleName = QStringLiteral("Aqua Light Slate");

bool g_terminated = false;

// A termination request (logout, kill, Ctrl+C) ends the program as closing the main menu does:
// every event loop is left, modal ones too, and the program ends in order. The signal itself is
// taken by the engine process's signal thread; this runs the rest on the event loop's thread.
void endOnTerminationSignals() {
    engineprocess::setInterruptionHandler([] {
        QMetaObject::invokeMethod(
            qApp,
            [] {
                g_terminated = true;
                QCoreApplication::exit(0);
            },
            Qt::QueuedConnection);
    });
}

// Opens the card file with the event loop live; false when the user stopped waiting or the
// program is being ended.
bool openCardFile(CardDatabase& dm) {
    return openwait::runWhileWaiting(dm.cardFolder().database, [&dm] { dm.open(); }) ==
           openwait::Outcome::Done;
}

// Team use: the person's own database user. ISC_USER and ISC_PASSWORD, when set, are the client
// library's own way and are left to it; otherwise the password kept in the keyring, then the
// login dialog, asked again after a wrong password until the user cancels.
bool logInToServer(CardDatabase& dm) {
    if (qEnvironmentVariableIsSet("ISC_USER"))
        return openCardFile(dm);
    const QString database = dm.cardFolder().database;
    usersettings::UserSettings settings;
    QString user = settings.value(QStringLiteral("team/user")).toString();
    std::optional<QString> kept = user.isEmpty() ? std::nullopt : login::keptPassword(database, user);
    for (;;) {
        Login who;
        QDialog asking;  // on the screen until this try ends: see login::ask
        if (kept) {
            who = {user, *kept, false};
        } else {
            const std::optional<Login> asked = login::ask(asking, database, user);
            if (!asked)
                throw DbError(QStringLiteral("カードファイル「%1」への接続をやめました。").arg(database));
            who = *asked;
        }
        dm.setCredentials(who.user, who.password);
        try {
            if (!openCardFile(dm))
                return false;
        } catch (const DbError& e) {
            if (e.problem() != DbProblem::Login)
                throw;
            if (kept)
                login::forgetPassword(database, user);
            messages::error(nullptr, QString::fromUtf8(e.what()));
            kept.reset();
            user = who.user;
            continue;
        }
        settings.setValue(QStringLiteral("team/user"), who.user);
        if (who.remember)
            login::keepPassword(database, who.user, who.password);
        return true;
    }
}

// The lock that keeps a second copy of the program away: the card folder's own for a file on
// this desk; for a file on a server, where several people work at once, one per person and
// database on this desk.
cardfolder::Claim claimForThisDesk(const CardFolder& cards) {
    if (!cards.onServer)
        return cardfolder::claim(cards.folder);
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    const QString hash = QString::fromLatin1(
        QCryptographicHash::hash(cards.database.toUtf8(), QCryptographicHash::Sha1).toHex().left(16));
    const QString folder =
        (runtime.isEmpty() ? QDir::tempPath() : runtime) + QStringLiteral("/tavrona-") + hash;
    QDir().mkpath(folder);
    return cardfolder::claim(folder);
}

// For scripts and the start-up benchmark: a line on the error output once the main menu is on
// the screen (and the termination signals are taken).
class ReadyLine final : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Expose && static_cast<QWindow*>(watched)->isExposed()) {
            std::fputs("tavrona: ready\n", stderr);
            std::fflush(stderr);
            watched->removeEventFilter(this);
        }
        return false;
    }
};

}  // namespace

Program::Program(const CardFolder& folder)
    : m_searchOptions{usersettings::foldedSearchOn()}, m_database(std::make_unique<CardDatabase>(folder)) {
    m_mainMenu = std::make_unique<MainMenuWindow>(*m_database, m_searchOptions);
    messages::guarded(nullptr, [this] {
        m_opened = m_database->teamMode() ? logInToServer(*m_database) : openCardFile(*m_database);
        if (m_opened) {
            cards::ensureTriggerActive(*m_database);  // a file left with the key trigger off by a crash
            transfer::settleMerge(*m_database);       // picture copies of a merge cut off before its commit
        }
    });
    if (!m_opened)
        return;
    m_versionWindow = new VersionWindow(m_mainMenu.get());
    m_cardEditor = new CardEditorWindow(folder, *m_database, m_mainMenu.get());
    m_cardList = new CardListWindow(*m_database, *m_cardEditor, m_searchOptions, m_mainMenu.get());
    m_mainMenu->setWindows(*m_cardEditor, *m_cardList, *m_versionWindow);
}

Program::~Program() {
    m_mainMenu.reset();
    m_database.reset();
}

std::unique_ptr<Program> composeProgram(const CardFolder& folder) {
    auto program = std::make_unique<Program>(folder);
    if (!program->opened()) {
        // The open may still be running inside the engine: the program is left as it is, for the
        // process to leave without waiting for it.
        [[maybe_unused]] Program* abandoned = program.release();
        return nullptr;
    }
    return program;
}

std::unique_ptr<Program> startProgram(const CardFolder& folder) {
    if (!applyVisualStyle(kStyleName))
        messages::error(nullptr, QStringLiteral("スタイル「%1」が見つかりません。").arg(kStyleName));
    std::unique_ptr<Program> program = composeProgram(folder);
    if (!program)
        return nullptr;
    formlook::centreOnScreen(program->mainMenu());
    program->mainMenu()->show();
    return program;
}

namespace {
int runWindows(int argc, char** argv);
}

int runTavrona(int argc, char** argv) {
    // Before Qt or the engine start a thread: the termination signals go to our own thread only.
    engineprocess::Process process;
    return process.finish(runWindows(argc, argv));
}

namespace {

int runWindows(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Tavrona"));
    useJapaneseInterface();
    formlook::setupApplicationFont();
    // The launcher could not prepare the card folder: its message, where a user sees it.
    if (const QString failure = qEnvironmentVariable("TAVRONA_START_FAILURE"); !failure.isEmpty()) {
        messages::error(nullptr, failure);
        return 1;
    }

    // The card folder is the working directory at start-up, read once here and handed on; its
    // settings file or the options may point at a database on a server and shared pictures.
    QCommandLineParser options;
    const QCommandLineOption database(QStringLiteral("database"),
                                      QStringLiteral("HOST[/PORT]:/path/DATA.FDB on a Firebird server"),
                                      QStringLiteral("database"));
    const QCommandLineOption pictures(QStringLiteral("pictures"), QStringLiteral("the pictures' shared root"),
                                      QStringLiteral("folder"));
    options.addOptions({database, pictures});
    options.addHelpOption();
    options.process(app);
    const CardFolder cards =
        CardFolder::resolve(QDir::currentPath(), options.value(database), options.value(pictures));

    // The database engine opens the card file exclusively; a second copy of the program in the
    // same card folder is told so plainly instead of failing on the database.
    const cardfolder::Claim folder = claimForThisDesk(cards);
    if (!folder.lock) {
        if (folder.heldByRunningCopy)
            messages::show(nullptr, folder.refusal);
        else
            messages::error(nullptr, folder.refusal);
        return 1;
    }
    endOnTerminationSignals();
    std::unique_ptr<Program> program = startProgram(cards);
    if (!program) {
        // 中止 while the card file was opening, or a termination signal then: the open may still
        // be running inside the engine, so the process leaves without waiting for it.
        engineprocess::leaveNow(g_terminated || engineprocess::interruptingSignal() ? 0 : 1);
    }
    if (qEnvironmentVariableIsSet("TAVRONA_READY_LINE"))
        program->mainMenu()->windowHandle()->installEventFilter(new ReadyLine(program->mainMenu()));
    const int rc = engineprocess::interruptingSignal() ? 0 : app.exec();
    engineprocess::finishWithin(std::chrono::seconds(8), rc);
    // Ended as 終了 ends it, a termination signal included: pending work is committed and the
    // card file detached before the engine is shut down.
    program.reset();
    return rc;
}

}  // namespace

// Child process for the durability tests.
//   cardwriter DIR new KILL_AT          writes a new card; dies by SIGKILL before the named step
//   cardwriter DIR rewrite KILL_AT KEY  rewrites a card as deleted; same
//   cardwriter DIR count                prints the number of cards
//   cardwriter DIR make ours|foreign    creates an empty card file of that kind
//   cardwriter DIR seed N               writes N new cards
//   cardwriter DIR churn SEED           rewrites and adds cards without end, to be killed
//   cardwriter DIR check N              checks the cards 1..N are there once each (see below)
//   cardwriter DIR versions             prints every card's key, texts and state, one a line
//   cardwriter DIR step                 prints the step churn last reached before it was killed
//   cardwriter lockdir                  prints the engine's lock folder

#include "carddatabase.h"
#include "cards.h"
#include "engineprocess.h"
#include "testdb.h"

#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QSet>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

cards::CardTexts texts(const QString& name) {
    return {.name = name,
            .organisation = QStringLiteral("北星商事"),
            .memo = name + QStringLiteral("\r\nメモ"),
            .year = QStringLiteral("2026"),
            .month = QStringLiteral("12"),
            .day = QStringLiteral("09")};
}

QString stepFile(const QString& dir) {
    return dir + QStringLiteral("/churn-step");
}

// Keeps the step the card statements last reached in a mapped file, which outlives a SIGKILL
// and costs no system call per step: the kill test tells from it whether a kill hit a commit.
void recordSteps(const QString& dir) {
    const int fd = ::open(qPrintable(stepFile(dir)), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ::ftruncate(fd, 32) != 0)
        return;
    void* map = ::mmap(nullptr, 32, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    if (map == MAP_FAILED)
        return;
    cards::setStepObserver(
        [page = static_cast<char*>(map)](const char* step) { std::strncpy(page, step, 31); });
}

// The rewrites and new cards a user makes, as fast as they go, until the process is killed.
int churn(CardDatabase& dm, const QString& dir, quint32 seed) {
    recordSteps(dir);
    QRandomGenerator random(seed);
    std::printf("ready\n");
    std::fflush(stdout);
    for (int i = 0;; ++i) {
        if (i % 7 == 6) {
            cards::newCardInsert(dm, texts(QStringLiteral("新規 %1").arg(i)));
            continue;
        }
        const int key = random.bounded(1, 51);
        const cards::CardState state = random.bounded(2) ? cards::CardState::Live : cards::CardState::Deleted;
        cards::cardRewrite(dm, QString::number(key), texts(QStringLiteral("版 %1").arg(i)), state);
    }
}

// The file after any crash: the cards 1..n each once and found by their keys, no key 0, no key
// twice, the newest key read right, the trigger on.
int check(CardDatabase& dm, int n) {
    DbStatement& q = dm.statement;
    q.sql.clear();
    q.sql.add(QStringLiteral("SELECT KEY1 FROM MST_CAR"));
    q.open();
    QSet<int> keys;
    QStringList faults, newCardsTwice;
    for (q.last(); !q.beforeFirst(); q.prior()) {
        const int key = q.fieldAt(0).toInt();
        if (key == 0)
            faults << QStringLiteral("a card has the key 0");
        if (keys.contains(key))
            (key <= n ? faults : newCardsTwice) << QStringLiteral("key %1 twice").arg(key);
        keys.insert(key);
    }
    const int rows = q.rowCount();
    q.close();
    for (int key = 1; key <= n; ++key) {
        if (!keys.contains(key))
            faults << QStringLiteral("card %1 is gone").arg(key);
        else if (!cards::fetchCard(dm, key))  // as the program opens it, through the key's index
            faults << QStringLiteral("card %1 is not found by its key").arg(key);
    }
    // The newest key as the program reads it after a new card, through the descending index.
    const int newest = cards::newestKey(q);
    if (!keys.isEmpty() && newest != *std::max_element(keys.begin(), keys.end()))
        faults << QStringLiteral("the newest key is read as %1").arg(newest);
    if (cards::triggerState(q) != cards::TriggerState::Active)
        faults << QStringLiteral("TRG_CAR is not active");
    faults += newCardsTwice;
    std::printf("%d rows%s%s\n", rows, faults.isEmpty() ? "" : ": ", qPrintable(faults.join("; ")));
    // 4: only a new card's key twice, which a sweep can cause on its own (see killsweep.sh).
    return faults.isEmpty() ? 0 : faults.size() == newCardsTwice.size() ? 4 : 3;
}

// Every row as read by a natural scan, in key order, for comparing one read with a later one.
int versions(CardDatabase& dm) {
    DbStatement& q = dm.statement;
    q.sql.add(QStringLiteral("SELECT KEY1, SYASYU, MEMO, DEL_FLG1 FROM MST_CAR"));
    q.open();
    QStringList rows;
    for (q.last(); !q.beforeFirst(); q.prior())
        rows << QStringLiteral("%1\t%2\t%3\t%4")
                    .arg(q.fieldAt(0).toInt(), 6)
                    .arg(q.fieldAt(1).text(),
                         q.fieldAt(2).text().replace(QLatin1String("\r\n"), QLatin1String("|")),
                         q.fieldAt(3).text());
    q.close();
    rows.sort();
    for (const QString& row : std::as_const(rows))
        std::printf("%s\n", qPrintable(row));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    configureEmbeddedEngine();
    if (args.value(1) == QLatin1String("lockdir")) {
        // For the engine's own tools run between the kills: this process's folder goes with it.
        std::printf("%s\n", qPrintable(engineprocess::lockBase()));
        return 0;
    }
    if (args.size() < 3)
        return 2;
    const QString mode = args[2];
    if (mode == QLatin1String("make")) {
        testdb::create(
            args[1], args.value(3) == QLatin1String("foreign") ? testdb::Kind::Foreign : testdb::Kind::Ours);
        return 0;
    }
    if (mode == QLatin1String("step")) {
        QFile file(stepFile(args[1]));
        file.open(QIODevice::ReadOnly);
        std::printf("%s\n", file.readAll().constData());
        return 0;
    }
    CardDatabase dm(args[1]);
    const QByteArray killAt = args.value(3).toUtf8();
    if (mode == QLatin1String("new") || mode == QLatin1String("rewrite")) {
        cards::setStepObserver([&](const char* step) {
            if (killAt == step)
                std::raise(SIGKILL);
        });
    }
    try {
        dm.open();
        if (mode == QLatin1String("count")) {
            dm.statement.sql.add(QStringLiteral("SELECT COUNT(*) AS N FROM MST_CAR"));
            dm.statement.open();
            std::printf("%d\n", dm.statement.field("N").toInt());
        } else if (mode == QLatin1String("new")) {
            cards::newCardInsert(dm, texts(QStringLiteral("書き換え後")));
        } else if (mode == QLatin1String("rewrite")) {
            cards::cardRewrite(dm, args.value(4), texts(QStringLiteral("書き換え後")),
                               cards::CardState::Deleted);
        } else if (mode == QLatin1String("seed")) {
            for (int i = 1; i <= args.value(3).toInt(); ++i)
                cards::newCardInsert(dm, texts(QStringLiteral("カード %1").arg(i)));
        } else if (mode == QLatin1String("churn")) {
            return churn(dm, args[1], args.value(3).toUInt());
        } else if (mode == QLatin1String("versions")) {
            return versions(dm);
        } else if (mode == QLatin1String("check")) {
            return check(dm, args.value(3).toInt());
        } else {
            return 2;
        }
    } catch (const DbError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}

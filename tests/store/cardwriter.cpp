// Child process for the durability tests: writes a card and, when told, dies by SIGKILL just
// before a named step of the write sequence.
//   cardwriter DIR new KILL_AT
//   cardwriter DIR rewrite KILL_AT KEY
//   cardwriter DIR count        (prints the number of cards)

#include "cards.h"
#include "dm1.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3)
        return 2;
    configureEmbeddedEngine();
    TDM1 dm(args[1]);
    if (args[2] == QLatin1String("count")) {
        try {
            dm.DataModuleCreate();
            dm.IBQuery1.SQL.Add(QStringLiteral("SELECT COUNT(*) AS N FROM MST_CAR"));
            dm.IBQuery1.Open();
            std::printf("%d\n", dm.IBQuery1.FieldByName("N").AsInteger());
            return 0;
        } catch (const DbError& e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 1;
        }
    }
    const QByteArray killAt = args.value(3).toUtf8();
    cards::setStepObserver([&](const char* step) {
        if (killAt == step)
            std::raise(SIGKILL);
    });
    cards::CardTexts card;
    card.name = QStringLiteral("書き換え後");
    card.year = QStringLiteral("2026");
    try {
        dm.DataModuleCreate();
        if (args[2] == QLatin1String("new"))
            cards::newCardInsert(dm, card);
        else
            cards::cardRewrite(dm, args.value(4), card, cards::kDeleted);
    } catch (const DbError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}

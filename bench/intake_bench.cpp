// Taking a stack of 20 drawn cards in: `tavrona-cards intake --dry-run` on the folder (a worker
// per core) against `tavrona-cards read-scan` of the same pictures one after another.
//   bench_intake
// Prints
//   intake_time: ratio R (goal <= 0.6)   the intake's time / the one-by-one readings' time

#include "benchcommon.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

constexpr int kCards = 20;

void run(const QStringList& arguments) {
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QStringLiteral(CARDS_TOOL_PATH), arguments);
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        qFatal("tavrona-cards %s failed", qPrintable(arguments.join(QLatin1Char(' '))));
    p.readAllStandardOutput();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir temp;
    const QString drawn = temp.filePath(QStringLiteral("drawn"));
    if (QProcess::execute(QStringLiteral("bash"),
                          {QStringLiteral(TAVRONA_SOURCE_DIR "/tools/make-cards.sh"), drawn}) != 0)
        qFatal("could not draw the cards");
    const QStringList pictures =
        QDir(drawn).entryList({QStringLiteral("*.png"), QStringLiteral("*.jpg")}, QDir::Files, QDir::Name);
    if (pictures.isEmpty())
        qFatal("no drawn cards");
    // The drawn cards again as needed, each named as a scanner names its pages.
    const QString stack = temp.filePath(QStringLiteral("stack"));
    QDir().mkpath(stack);
    QStringList paths;
    for (int i = 0; i < kCards; ++i) {
        const QString from = pictures[i % pictures.size()];
        const QString to = QDir(stack).filePath(
            QStringLiteral("scan-%1.%2").arg(i + 1, 4, 10, QLatin1Char('0')).arg(QFileInfo(from).suffix()));
        QFile::copy(QDir(drawn).filePath(from), to);
        paths << to;
    }
    const std::vector<double> ms = bench::interleavedMediansMs(
        2, {[&] {
                run({QStringLiteral("intake"), stack, QStringLiteral("--dry-run")});
            },
            [&] {
                for (const QString& p : paths)
                    run({QStringLiteral("read-scan"), p});
            }});
    bench::report("intake_time", ms[0] / ms[1], 0.6,
                  QStringLiteral("intake of %1 cards %2 ms, read-scan one by one %3 ms")
                      .arg(kCards)
                      .arg(ms[0], 0, 'f', 0)
                      .arg(ms[1], 0, 'f', 0));
    return 0;
}

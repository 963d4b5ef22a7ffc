// Start-up: from process start to the main menu shown on the X server, with a card file of
// 100,000 cards, against a bare window of the same size plus a bare attach of the same file,
// each started as a process of its own in the same run. Needs an X display (bench/run starts
// Xvfb for it).
//   bench_startup                       the benchmark
//   bench_startup --bare-window W H     a plain window of that size; "ready" once it is shown
//   bench_startup --bare-attach FILE    attach and detach; "ready"

#include "benchcommon.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QWidget>
#include <QWindow>

#include <cstdio>

namespace {

constexpr int kRuns = 5;

// Milliseconds from the start of the program to the line "ready" on either output.
double timeToReady(const QString& program, const QStringList& args, const QString& workingDir,
                   const QProcessEnvironment& env) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(workingDir);
    p.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer clock;
    clock.start();
    p.start(program, args);
    QByteArray seen;
    while (!seen.contains("ready")) {
        if (!p.waitForReadyRead(60000)) {
            std::fprintf(stderr, "%s never got ready: %s\n", qPrintable(program), seen.constData());
            std::exit(1);
        }
        seen += p.readAll();
    }
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    p.terminate();
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished();
    }
    return ms;
}

// Says "ready" when its window is exposed on the screen.
class ReadyWhenExposed final : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Expose && static_cast<QWindow*>(watched)->isExposed()) {
            std::printf("ready\n");
            std::fflush(stdout);
            watched->removeEventFilter(this);
        }
        return false;
    }
};

}  // namespace

int main(int argc, char** argv) {
    const QStringList args = [&] {
        QStringList a;
        for (int i = 0; i < argc; ++i)
            a << QString::fromLocal8Bit(argv[i]);
        return a;
    }();
    if (args.value(1) == QLatin1String("--bare-window")) {
        QApplication app(argc, argv);
        QWidget window;
        window.setFixedSize(args.value(2).toInt(), args.value(3).toInt());
        window.winId();
        ReadyWhenExposed ready;
        window.windowHandle()->installEventFilter(&ready);
        window.show();
        return app.exec();
    }
    if (args.value(1) == QLatin1String("--bare-attach")) {
        bench::bareAttach(args.value(2));
        std::printf("ready\n");
        return 0;
    }

    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::printf("startup: skipped (no X display)\n");
        return 0;
    }
    QTemporaryDir dir;
    const QString path = bench::makeCardDatabase(dir.path(), 100000);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("TAVRONA_READY_LINE", "1");
    const QString self = QCoreApplication::applicationFilePath();
    std::vector<double> program, window, attach;
    for (int i = 0; i < kRuns; ++i) {
        program.push_back(timeToReady(QStringLiteral(TAVRONA_PATH), {}, dir.path(), env));
        window.push_back(timeToReady(self, {"--bare-window", "384", "310"}, dir.path(), env));
        attach.push_back(timeToReady(self, {"--bare-attach", path}, dir.path(), env));
    }
    const double p = bench::median(program), w = bench::median(window), a = bench::median(attach);
    bench::report("startup", p / (w + a), 1.2,
                  QStringLiteral("start to main menu shown: %1 ms; bare window %2 ms + bare attach %3 ms")
                      .arg(p, 0, 'f', 0)
                      .arg(w, 0, 'f', 0)
                      .arg(a, 0, 'f', 0));
    return 0;
}

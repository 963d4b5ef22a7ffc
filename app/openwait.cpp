#include "openwait.h"

#include "engineprocess.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QEventLoop>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace openwait {

std::chrono::milliseconds patience() {
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("TAVRONA_OPEN_WAIT_MS", &ok);
    return std::chrono::milliseconds(ok && ms >= 0 ? ms : 10000);
}

namespace {

// What the worker hands back; shared, since a stopped wait leaves the worker running on its own.
struct WorkerState {
    std::mutex mutex;
    bool done = false;
    std::exception_ptr failure;
};

}  // namespace

Outcome runWhileWaiting(const QString& shownFile, const std::function<void()>& open,
                        std::chrono::milliseconds wait) {
    auto state = std::make_shared<WorkerState>();
    QEventLoop loop;
    QPointer<QEventLoop> waiting(&loop);
    std::thread worker([state, open, waiting] {
        std::exception_ptr failure;
        try {
            open();
        } catch (...) {
            failure = std::current_exception();
        }
        {
            std::lock_guard lock(state->mutex);
            state->done = true;
            state->failure = failure;
        }
        // The loop is looked at on its own thread, where it may have gone already.
        QMetaObject::invokeMethod(
            qApp,
            [waiting] {
                if (waiting)
                    waiting->quit();
            },
            Qt::QueuedConnection);
    });

    bool stopped = false;
    QDialog window;
    window.setObjectName(QStringLiteral("openWaitWindow"));
    window.setWindowTitle(QStringLiteral("名刺管理"));
    auto* layout = new QVBoxLayout(&window);
    auto* text = new QLabel(QStringLiteral("カードファイル「%1」を開いています。\n応答を待っています…")
                                .arg(QDir::toNativeSeparators(shownFile)),
                            &window);
    text->setObjectName(QStringLiteral("openWaitText"));
    layout->addWidget(text);
    auto* stop = new QPushButton(QStringLiteral("中止"), &window);
    stop->setObjectName(QStringLiteral("openWaitStop"));
    layout->addWidget(stop, 0, Qt::AlignRight);
    QObject::connect(stop, &QPushButton::clicked, &loop, [&] {
        stopped = true;
        loop.quit();
    });
    QObject::connect(&window, &QDialog::rejected, &loop, [&] {  // Esc or the window's close box
        stopped = true;
        loop.quit();
    });
    QTimer showLater;
    showLater.setSingleShot(true);
    QObject::connect(&showLater, &QTimer::timeout, &window, [&] {
        window.show();
        if (qEnvironmentVariableIsSet("TAVRONA_READY_LINE")) {
            std::fputs("tavrona: waiting\n", stderr);
            std::fflush(stderr);
        }
    });
    showLater.start(wait);

    auto finished = [&] {
        std::lock_guard lock(state->mutex);
        return state->done;
    };
    while (!finished() && !stopped && engineprocess::interruptingSignal() == 0) {
        loop.exec();
        // Ended neither by the worker nor by 中止: the program is being closed (a termination
        // signal ends every event loop).
        if (!finished())
            stopped = true;
    }
    window.hide();
    if (!finished()) {
        worker.detach();
        return Outcome::Stopped;
    }
    worker.join();
    if (state->failure)
        std::rethrow_exception(state->failure);
    return Outcome::Done;
}

}  // namespace openwait

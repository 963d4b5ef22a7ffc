// The card list's fill of 100,000 cards through a local Firebird server (wire encryption on, as
// the server has it by default) against a bare fetch of the same rows through the same server,
// in the same run; the embedded fill is printed beside it.

#include "benchcommon.h"
#include "cardfolder.h"
#include "cardlistwindow.h"
#include "controls.h"
#include "fakes.h"
#include "programundertest.h"
#include "startup.h"
#include "stringgrid.h"
#include "testserver.h"

#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

// The list's search button with an empty keyword, timed against the bare fetch, interleaved.
std::pair<double, double> fillAgainstBare(const QString& database) {
    const auto bare = [&] {
        std::vector<std::string> cells;
        bench::bareNameSearch(database, cells);
    };
    const auto fill = [&] {
        ctl<QPushButton>(program->cardList(), "SpeedButton1")->click();
        QApplication::processEvents();
    };
    bare();
    fill();
    const std::vector<double> ms = bench::interleavedMediansMs(5, {bare, fill});
    return {ms[1], ms[0]};
}

}  // namespace

int main(int argc, char** argv) {
    configureEmbeddedEngine();
    QApplication app(argc, argv);
    MessageRecorder boxes;
    QTemporaryDir dir;
    const QString path = bench::makeCardDatabase(dir.path(), 100000);

    program = composeProgram(CardFolder::local(dir.path()));
    const auto [embeddedFill, embeddedBare] = fillAgainstBare(path);
    program.reset();

    TestServer server{QStringList{}};
    const QString database = server.serve(path);
    server.start();
    qputenv("ISC_USER", "SYSDBA");  // the client library's own login, for both sides
    qputenv("ISC_PASSWORD", "masterkey");
    program = composeProgram(CardFolder::resolve(dir.path(), database));
    if (!boxes.texts("error").isEmpty()) {
        std::fprintf(stderr, "bench_server: %s\n", qPrintable(boxes.texts("error").join('\n')));
        return 1;
    }
    const auto [serverFill, serverBare] = fillAgainstBare(database);
    const int rows = ctl<StringGrid>(program->cardList(), "SGrid1")->rowCount() - 2;
    program.reset();

    bench::report("server_fill", serverFill / serverBare, 1.2,
                  QStringLiteral("fill through the server=%1ms bare fetch through it=%2ms rows=%3; embedded "
                                 "fill=%4ms bare=%5ms")
                      .arg(serverFill, 0, 'f', 0)
                      .arg(serverBare, 0, 'f', 0)
                      .arg(rows)
                      .arg(embeddedFill, 0, 'f', 0)
                      .arg(embeddedBare, 0, 'f', 0));
    return 0;
}

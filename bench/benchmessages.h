#pragma once
// Message boxes for benchmarks: none may wait for an answer; a failure ends the run, and modal
// showing returns at once.

#include "dbconnection.h"
#include "formlook.h"
#include "messages.h"
#include "stringgrid.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

class BenchMessages final : public messages::Handler {
public:
    explicit BenchMessages(const char* program) : m_program(program) {}
    void show(QWidget*, const QString&) override {}
    bool ask(QWidget*, const QString&) override { return true; }
    void error(QWidget*, const QString& text) override {
        std::fprintf(stderr, "%s: %s\n", m_program, qPrintable(text));
        std::exit(1);
    }
    void showModal(QDialog*) override {}

private:
    const char* m_program;
};

// What a benchmark of the windows starts with: the embedded engine pointed at its own lock folder,
// the application with the program's font, and message boxes that print rather than wait.
class WindowBench final {
public:
    WindowBench(int& argc, char** argv, const char* program)
        : m_engine(configureEmbeddedEngine()), m_app(argc, argv), m_boxes(program) {
        formlook::setupApplicationFont();
        messages::setHandler(&m_boxes);
    }
    ~WindowBench() { messages::setHandler(nullptr); }
    WindowBench(const WindowBench&) = delete;
    WindowBench& operator=(const WindowBench&) = delete;

private:
    QString m_engine;
    QApplication m_app;
    BenchMessages m_boxes;
};

// The UTF-8 bytes of the texts a card grid shows below its header row.
inline std::size_t gridTextBytes(const StringGrid& grid) {
    std::size_t bytes = 0;
    for (int row = 1; row < grid.rowCount(); ++row) {
        for (int col = 0; col < grid.colCount(); ++col)
            bytes += std::size_t(grid.cell(col, row).toUtf8().size());
    }
    return bytes;
}

#pragma once
// Message boxes for benchmarks: none may wait for an answer; a failure ends the run, and modal
// showing returns at once.

#include "messages.h"

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

#pragma once
// A window's control found by its design name (its objectName), as tests reach controls: the
// windows keep their controls to themselves.

#include <QObject>
#include <QString>

#include <cstdio>
#include <cstdlib>

template <class T>
T* ctl(const QObject* window, const char* name) {
    T* control = window->findChild<T*>(QString::fromLatin1(name));
    if (!control) {
        std::fprintf(stderr, "the window has no control %s of that kind\n", name);
        std::abort();
    }
    return control;
}

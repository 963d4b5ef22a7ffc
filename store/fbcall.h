#pragma once
// How the store talks to the Firebird client library: one status object per series of calls,
// failures turned into DbError with the client's own text, and owners that release an interface
// the program gave up on. Private to store/: it is the one header that shows the client's types.

#include "dbstatement.h"

#include <firebird/Interface.h>

#include <memory>

namespace fbcall {

Firebird::IMaster* master();
Firebird::IProvider* provider();

// The client's formatted text of a status.
QString formatStatus(const Firebird::IStatus* status);
// What the failure means to a user of the card file.
DbProblem classify(const Firebird::IStatus* status);

// A status object for one series of calls; disposed however the series ends.
class Status final {
public:
    Status() : m_wrapper(master()->getStatus()) {}
    ~Status() { m_wrapper.dispose(); }
    Status(const Status&) = delete;
    Status& operator=(const Status&) = delete;
    Status(Status&&) = delete;
    Status& operator=(Status&&) = delete;
    Firebird::ThrowStatusWrapper* get() { return &m_wrapper; }

private:
    Firebird::ThrowStatusWrapper m_wrapper;
};

// Runs f(status) and turns a failure of the client into DbError (not yet described: the caller
// knows which card file it concerns).
template <class F>
auto call(F&& f) {
    Status status;
    try {
        return f(status.get());
    } catch (const Firebird::FbException& e) {
        throw DbError(formatStatus(e.getStatus()), classify(e.getStatus()), false);
    }
}

// Releases an interface (or disposes a builder) that nobody closed, freed, committed or detached.
struct Release {
    template <class T>
    void operator()(T* p) const noexcept {
        if constexpr (requires { p->release(); })
            p->release();
        else
            p->dispose();
    }
};
template <class T>
using Owned = std::unique_ptr<T, Release>;

// Runs a call that releases the object itself when it succeeds (close, free, commit, detach,
// drop) and gives up ownership only then: a failing call leaves the object owned, released later.
template <class T, class F>
void finish(Owned<T>& owned, F&& releasingCall) {
    releasingCall(owned.get());
    [[maybe_unused]] T* released = owned.release();
}

// The client's text of a failure with the card file, preceded by what failed in plain words;
// attaching tells a server never reached from a connection lost on the way.
DbError describe(const DbError& e, const QString& databaseName, bool attaching = false);

}  // namespace fbcall

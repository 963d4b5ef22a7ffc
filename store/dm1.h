#pragma once
// The database module: the program's one connection, transaction and statement object.

#include "ibobjects.h"

#include <QString>

class TDM1 final {
public:
    // Composes the database path from the given working directory once; later reconnects
    // use it unchanged. Nothing is opened until DataModuleCreate.
    explicit TDM1(const QString& workingDirectory);
    // Closing the connection commits pending work (the program's normal end).
    ~TDM1();
    TDM1(const TDM1&) = delete;
    TDM1& operator=(const TDM1&) = delete;

    TIBDatabase IBDatabase1;
    TIBTransaction IBTransaction1{IBDatabase1};
    TIBQuery IBQuery1{IBDatabase1, IBTransaction1};

    // Applies the fixed settings and connects. The settings stay in place when connecting
    // fails (the DbError is passed on), so the next statement tries to connect again.
    void DataModuleCreate();

    // Runs steps as one unit of work: any earlier pending work is committed first, then the
    // steps' work is committed together, or rolled back when a step fails.
    template <class F>
    void allOrNothing(F&& steps) {
        if (!IBDatabase1.Connected())
            IBDatabase1.Open();
        IBTransaction1.Commit();
        try {
            steps();
            IBTransaction1.Commit();
        } catch (...) {
            IBQuery1.Close();
            IBTransaction1.Rollback();
            throw;
        }
    }

    const QString& databasePath() const { return m_path; }

private:
    QString m_path;
};

// The program's one database module, created at start-up.
extern TDM1* DM1;

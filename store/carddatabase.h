#pragma once
// The database module: the program's one connection, transaction and statement object.

#include "cardfolder.h"
#include "crashrecovery.h"
#include "dbstatement.h"

#include <QString>

class CardDatabase final {
public:
    // The fixed account of a card file opened on this desk (the engine's services use it too).
    static constexpr const char* kLocalUser = "SYSDBA";
    static constexpr const char* kLocalPassword = "quintlake";

    // Composes the database path from the given working directory once; later reconnects
    // use it unchanged. Nothing is opened until open.
    explicit CardDatabase(const QString& workingDirectory);
    // The card folder's database, embedded or on a server. On a server (team use) each person
    // logs in as their own database user, and every action commits when it ends, so that no
    // transaction stays open between actions to hold back other people's work.
    explicit CardDatabase(CardFolder folder);
    // Closing the connection commits pending work (the program's normal end); a local card file
    // closed so is marked as having ended cleanly.
    ~CardDatabase();
    CardDatabase(const CardDatabase&) = delete;
    CardDatabase& operator=(const CardDatabase&) = delete;

    DbConnection connection;
    DbTransaction transaction{connection};
    DbStatement statement{connection, transaction};

    // Applies the fixed settings and connects. The settings stay in place when connecting fails
    // (the DbError is passed on), so the next statement tries to connect again. A local card file
    // whose previous run did not end cleanly is swept and checked first; a damaged one is refused
    // before the settings are applied, so no statement reaches it (see crashrecovery.h).
    void open();

    // Runs steps as one unit of work: any earlier pending work is committed first, then the
    // steps' work is committed together, or rolled back when a step fails.
    template <class F>
    void allOrNothing(F&& steps) {
        if (!connection.isConnected())
            connection.open();
        transaction.commit();
        const DbTransaction::Unit unit(transaction);
        try {
            steps();
            transaction.commit();
        } catch (...) {
            statement.close();
            transaction.rollback();
            throw;
        }
    }

    const QString& databasePath() const { return m_folder.database; }
    const CardFolder& cardFolder() const { return m_folder; }
    bool teamMode() const { return m_folder.onServer; }

    // Team use: the database user to log in as. Without one the client library takes
    // ISC_USER and ISC_PASSWORD from the environment.
    void setCredentials(const QString& user, const QString& password);

private:
    CardFolder m_folder;
    QString m_user;
    QString m_password;
    std::unique_ptr<crashrecovery::OpenMarker> m_openMarker;
};

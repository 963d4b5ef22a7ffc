#pragma once
// The connection to a card file and its transactions, the embedded engine's set-up, and the
// client's failures as the program sees them. Only Qt and standard types show here; the Firebird
// client's types show only inside store/ (fbcall.h).

#include <QString>
#include <QStringList>

#include <memory>
#include <stdexcept>
#include <vector>

// What went wrong with the card file, as far as a user needs to know.
enum class DbProblem { Other, Missing, InUse, ReadOnly, Damaged, DiskFull, Login, Network, NoAnswer };

// A failure reported by the database client, carrying the client's own formatted text. Failures
// of the connection and the statements are preceded by one Japanese line that names the card
// file and says in plain words what failed.
class DbError : public std::runtime_error {
public:
    explicit DbError(const QString& text, DbProblem problem = DbProblem::Other, bool described = true)
        : std::runtime_error(text.toStdString()), m_problem(problem), m_described(described) {}
    DbProblem problem() const { return m_problem; }
    bool described() const { return m_described; }  // false: the client's text alone, so far

private:
    DbProblem m_problem;
    bool m_described;
};

class DbTransaction;
class DbStatement;
struct FbAttachmentHandle;
struct FbTransactionHandle;

// Points the embedded engine at a lock folder of this process's own before the first client call
// (see engineprocess.h): no other process shares its memory, so no other process's death or hang
// can block this one, and the card file stays exclusive to one process all the same. Returns the
// folder, or an empty text when no private folder could be made.
QString configureEmbeddedEngine();
// Asks every statement running on this process's connections to stop with an error; callable
// from any thread.
void cancelRunningStatements() noexcept;
// Stops the engine's threads and closes what it still holds, before the process exits.
void shutdownEngine() noexcept;

// Lifetimes: a transaction is made for one database and registers itself with it; its destructor
// rolls back what it left uncommitted and unregisters it. A database that goes first (it
// normally outlives its transactions) rolls back the transactions still registered and leaves
// them unusable, so no object ever points at one that has gone.
class DbConnection final {
public:
    DbConnection();
    ~DbConnection();
    DbConnection(const DbConnection&) = delete;
    DbConnection& operator=(const DbConnection&) = delete;

    QString databaseName;  // bare file path: the client opens it with the embedded engine
    QStringList params;    // "user_name=...", "password=...", "lc_ctype=..."
    int sqlDialect = 3;

    // The transaction close() commits; it must be one of this database's. Cleared when that
    // transaction is destroyed.
    void setDefaultTransaction(DbTransaction* transaction);
    DbTransaction* defaultTransaction() const { return m_default; }

    void open();
    // Commits an active default transaction, rolls back the other transactions of this database,
    // then detaches. A failing commit still detaches.
    void close();
    bool isConnected() const;
    // close() (committing pending work), then attach again with the same path and parameters.
    void reconnect();
    // Lets go of a connection that the server has lost, without talking to it; the next
    // statement attaches again.
    void forgetConnection() noexcept;

private:
    friend class DbTransaction;
    friend class DbStatement;
    std::unique_ptr<FbAttachmentHandle> m_att;
    std::vector<DbTransaction*> m_transactions;
    DbTransaction* m_default = nullptr;
};

class DbTransaction final {
public:
    explicit DbTransaction(DbConnection& db);
    // Rolls back work left uncommitted: only an explicit commit (or the database's close for its
    // default transaction) keeps it.
    ~DbTransaction();
    DbTransaction(const DbTransaction&) = delete;
    DbTransaction& operator=(const DbTransaction&) = delete;

    QStringList params;  // "read_committed", "no_rec_version", "wait", ...
    // Each statement run outside a unit of work commits when it ends (team use on a server).
    bool commitAfterEachStatement = false;

    // Marks statements that belong together: none of them commits on its own.
    class Unit final {
    public:
        explicit Unit(DbTransaction& t) : m_t(t) { ++m_t.m_unitDepth; }
        ~Unit() { --m_t.m_unitDepth; }
        Unit(const Unit&) = delete;
        Unit& operator=(const Unit&) = delete;

    private:
        DbTransaction& m_t;
    };
    bool inUnit() const { return m_unitDepth > 0; }

    void start();
    void commit();
    // Undoes the transaction's work. Never throws: used on the way out of a failed sequence,
    // where the connection itself may already be gone.
    void rollback() noexcept;
    bool isActive() const;

private:
    friend class DbConnection;
    friend class DbStatement;
    void forget() noexcept;
    DbConnection& database() const;
    DbConnection* m_db;  // null once the database has gone
    std::unique_ptr<FbTransactionHandle> m_tra;
    int m_unitDepth = 0;
};

// Creates a new database file and runs the given statements in it, each committed on its own.
// Used by the database creation tool only; the program never creates tables. A card file never
// needs the engine's automatic sweep, and a sweep after a crash inside a commit can mistreat the
// crashed transaction's records, so it is off unless asked for.
void createDatabaseFile(const QString& path, const QStringList& statements, bool automaticSweep = false);

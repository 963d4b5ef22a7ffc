#pragma once
// The connection, transaction and statement object the whole program talks to the card database
// through. Only Qt and standard types show here; the Firebird client's types show only inside
// store/ (fbcall.h).

#include "sqlparams.h"

#include <QAnyStringView>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
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

// One named parameter's value: unset (sent as null), text, or 32-bit integer.
class DbParam final {
public:
    explicit DbParam(QString name) : m_name(std::move(name)) {}
    const QString& name() const { return m_name; }
    void setText(const QString& value);
    void setInt(qint32 value);
    void clear();

    enum class Kind { Null, Text, Integer };
    Kind kind() const { return m_kind; }
    const QByteArray& text() const { return m_text; }
    qint32 integer() const { return m_int; }

private:
    QString m_name;
    Kind m_kind = Kind::Null;
    QByteArray m_text;  // UTF-8
    qint32 m_int = 0;
};

// Rows fetched by one statement, every column as UTF-8 text. Cells live in large blocks with
// a two-byte length each, so the buffer stays close to the size of the text it holds.
class ResultBuffer final {
public:
    static constexpr std::uint16_t kNull = 0xFFFF;

    explicit ResultBuffer(QStringList columnNames);
    const QStringList& columnNames() const { return m_columns; }
    int columnCount() const { return int(m_columns.size()); }
    int rowCount() const { return int(m_rows.size()); }
    int columnIndex(QAnyStringView name) const;  // -1 when absent; letter case ignored

    // Appends one row; lengths[i] == kNull marks a null cell.
    void appendRow(const char* const* cells, const std::uint16_t* lengths);
    bool isNull(int row, int column) const;
    QByteArrayView cell(int row, int column) const;
    std::size_t bytesAllocated() const;

private:
    struct Row {
        std::uint32_t block;
        std::uint32_t offset;
        std::uint32_t lengths;  // index of the row's first length in m_lengths
    };
    static constexpr std::size_t kBlockSize = 1 << 20;
    QStringList m_columns;
    std::vector<QByteArray> m_utf8Columns;
    std::vector<std::unique_ptr<char[]>> m_blocks;
    std::vector<std::size_t> m_blockSizes;
    std::size_t m_used = kBlockSize;  // bytes used in the last block
    std::vector<Row> m_rows;
    std::vector<std::uint16_t> m_lengths;
};

// A column of the current row. Null reads as "" or 0.
class DbField final {
public:
    DbField(const ResultBuffer* result, int row, int column)
        : m_result(result), m_row(row), m_column(column) {}
    QString text() const;
    qint32 toInt() const;
    bool isNull() const;

private:
    const ResultBuffer* m_result;
    int m_row;
    int m_column;
};

class DbStatement final {
public:
    // The statement text as lines. Any change closes an open result; Clear also drops the
    // parameters with their values. The text is parsed for its parameters once, when a
    // parameter is first looked up or the statement runs, not at each added line.
    class Lines final {
    public:
        explicit Lines(DbStatement& q) : m_q(q) {}
        void clear();
        void add(const QString& line);
        const QStringList& lines() const { return m_lines; }
        QString text() const { return m_lines.join(QLatin1Char('\n')); }

    private:
        DbStatement& m_q;
        QStringList m_lines;
    };

    DbStatement(DbConnection& db, DbTransaction& tr) : sql(*this), m_db(db), m_tr(tr) {}
    ~DbStatement() = default;
    DbStatement(const DbStatement&) = delete;
    DbStatement& operator=(const DbStatement&) = delete;

    Lines sql;

    DbParam& param(QAnyStringView name);  // throws DbError for an unknown name
    // Runs the statement and buffers its rows with the first row current. A statement without
    // rows (an insert) is simply run. Does nothing while a result is open.
    void open();
    // As open(), but buffers only the rows for which keep(cells) is true, where cells are the texts
    // of the named columns in the order named (UTF-8; a null cell empty). A result narrowed on
    // the client thus takes no more memory than the rows it keeps.
    using RowFilter = std::function<bool(const QByteArrayView* cells)>;
    void openFiltered(const QStringList& columns, const RowFilter& keep);
    void execute();
    void close();
    bool isOpen() const { return m_result != nullptr; }

    DbField field(QAnyStringView name) const;  // throws DbError for an unknown name
    // A column's position, looked up once for reading it from many rows with Fields; throws
    // DbError for an unknown name.
    int fieldIndex(QAnyStringView name) const;
    DbField fieldAt(int column) const;  // the column at that position in the current row
    void last();
    void prior();
    bool beforeFirst() const { return m_bof; }
    int rowCount() const { return m_result ? m_result->rowCount() : 0; }
    // Rows changed by the last statement run without a cursor (update, delete, insert).
    int rowsAffected() const { return m_rowsAffected; }
    std::size_t resultBytes() const { return m_result ? m_result->bytesAllocated() : 0; }

private:
    void run(bool keepRows);
    std::unique_ptr<ResultBuffer> runStatement(const QByteArray& sql, const QStringList& markers,
                                               const std::vector<const DbParam*>& values, bool keepRows);
    void textChanged(bool dropParams);
    // The statement with its markers, parsed once per text; adds the parameters it names.
    const ParsedSql& parsed();

    DbConnection& m_db;
    DbTransaction& m_tr;
    std::vector<DbParam> m_params;
    std::optional<ParsedSql> m_parsed;
    std::unique_ptr<ResultBuffer> m_result;
    // Set for the length of an openFiltered only.
    const QStringList* m_filterColumns = nullptr;
    const RowFilter* m_filter = nullptr;
    int m_row = 0;
    bool m_bof = true;
    int m_rowsAffected = 0;
};

// Creates a new database file and runs the given statements in it, each committed on its own.
// Used by the database creation tool only; the program never creates tables. A card file never
// needs the engine's automatic sweep, and a sweep after a crash inside a commit can mistreat the
// crashed transaction's records, so it is off unless asked for.
void createDatabaseFile(const QString& path, const QStringList& statements, bool automaticSweep = false);

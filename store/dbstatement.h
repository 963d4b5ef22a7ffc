#pragma once
// The statement object the whole program talks to the card database through: statement text as
// lines, named parameters, and the buffered rows of its result.

#include "dbconnection.h"
#include "resultbuffer.h"
#include "sqlparams.h"

#include <QAnyStringView>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

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

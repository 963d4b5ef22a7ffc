// A statement over the Firebird client library: its named parameters, the input and output
// messages, and the fetch into the result buffer.

#include "dbstatement.h"

#include "fbcall.h"
#include "fbhandles.h"

#include <QScopeGuard>

#include <firebird/Interface.h>
#include <ibase.h>

#include <cstring>

using namespace Firebird;
using fbcall::describe;
using fbcall::finish;
using fbcall::master;
using fbcall::Owned;
using fbcall::provider;

namespace {

constexpr unsigned kUtf8CharSet = 4;

}  // namespace

// ---- DbParam ------------------------------------------------------------------------------

void DbParam::setText(const QString& value) {
    m_kind = Kind::Text;
    m_text = value.toUtf8();
}

void DbParam::setInt(qint32 value) {
    m_kind = Kind::Integer;
    m_int = value;
}

void DbParam::clear() {
    m_kind = Kind::Null;
    m_text.clear();
}

// ---- DbStatement ------------------------------------------------------------------------------

void DbStatement::Lines::clear() {
    m_lines.clear();
    m_q.textChanged(true);
}

void DbStatement::Lines::add(const QString& line) {
    m_lines << line;
    m_q.textChanged(false);
}

void DbStatement::textChanged(bool dropParams) {
    close();
    m_parsed.reset();
    if (dropParams)
        m_params.clear();
}

const ParsedSql& DbStatement::parsed() {
    if (m_parsed)
        return *m_parsed;
    // Parameters are taken from the whole text; values already set are kept.
    m_parsed = parseSqlParams(sql.text());
    for (const QString& name : m_parsed->markers) {
        const bool known = std::any_of(m_params.begin(), m_params.end(), [&](const DbParam& p) {
            return p.name().compare(name, Qt::CaseInsensitive) == 0;
        });
        if (!known)
            m_params.emplace_back(name);
    }
    return *m_parsed;
}

DbParam& DbStatement::param(QAnyStringView name) {
    parsed();
    for (DbParam& p : m_params) {
        if (QAnyStringView::compare(name, p.name(), Qt::CaseInsensitive) == 0)
            return p;
    }
    throw DbError(QStringLiteral("パラメータ「%1」が見つかりません。").arg(name.toString()));
}

void DbStatement::open() {
    if (m_result)
        return;
    run(true);
}

void DbStatement::openFiltered(const QStringList& columns, const RowFilter& keep) {
    if (m_result)
        return;
    const auto reset = qScopeGuard([this] {
        m_filterColumns = nullptr;
        m_filter = nullptr;
    });
    m_filterColumns = &columns;
    m_filter = &keep;
    run(true);
}

void DbStatement::execute() {
    close();
    run(false);
}

void DbStatement::close() {
    m_result.reset();
    m_row = 0;
    m_bof = true;
}

DbField DbStatement::field(QAnyStringView name) const {
    return fieldAt(fieldIndex(name));
}

int DbStatement::fieldIndex(QAnyStringView name) const {
    const int column = m_result ? m_result->columnIndex(name) : -1;
    if (column < 0)
        throw DbError(QStringLiteral("項目「%1」が見つかりません。").arg(name.toString()));
    return column;
}

DbField DbStatement::fieldAt(int column) const {
    if (!m_result || column < 0 || column >= m_result->columnCount())
        throw DbError(QStringLiteral("項目番号 %1 はありません。").arg(column));
    const int row = m_result->rowCount() == 0 ? -1 : m_row;
    return DbField(m_result.get(), row, column);
}

void DbStatement::last() {
    if (!m_result)
        return;
    m_row = std::max(0, m_result->rowCount() - 1);
    m_bof = m_result->rowCount() == 0;
}

void DbStatement::prior() {
    if (!m_result)
        return;
    if (m_row == 0)
        m_bof = true;
    else
        --m_row;
}

namespace {

// The input message: every '?' of the text with the value of its named parameter.
struct InputMessage {
    Owned<IMessageMetadata> meta;
    std::vector<unsigned char> buffer;
};

void buildInput(ThrowStatusWrapper* st, const QStringList& markers, const std::vector<const DbParam*>& values,
                InputMessage& in) {
    if (markers.isEmpty())
        return;
    Owned<IMetadataBuilder> builder{master()->getMetadataBuilder(st, unsigned(markers.size()))};
    for (unsigned i = 0; i < unsigned(markers.size()); ++i) {
        const DbParam* p = values[i];
        if (p->kind() == DbParam::Kind::Integer) {
            builder->setType(st, i, SQL_LONG + 1);
            builder->setLength(st, i, sizeof(ISC_LONG));
            builder->setScale(st, i, 0);
        } else {
            if (p->text().size() > 32765)
                throw DbError(QStringLiteral("パラメータ「%1」の値が長すぎます。").arg(p->name()));
            builder->setType(st, i, SQL_VARYING + 1);
            builder->setCharSet(st, i, kUtf8CharSet);
            builder->setLength(st, i, unsigned(std::max<qsizetype>(1, p->text().size())));
        }
    }
    in.meta.reset(builder->getMetadata(st));
    in.buffer.assign(in.meta->getMessageLength(st), 0);
    for (unsigned i = 0; i < unsigned(markers.size()); ++i) {
        const DbParam* p = values[i];
        unsigned char* data = in.buffer.data() + in.meta->getOffset(st, i);
        auto* null = reinterpret_cast<short*>(in.buffer.data() + in.meta->getNullOffset(st, i));
        *null = p->kind() == DbParam::Kind::Null ? -1 : 0;
        if (p->kind() == DbParam::Kind::Integer) {
            const ISC_LONG v = p->integer();
            std::memcpy(data, &v, sizeof v);
        } else if (p->kind() == DbParam::Kind::Text) {
            const std::uint16_t len = std::uint16_t(p->text().size());
            std::memcpy(data, &len, sizeof len);
            std::memcpy(data + sizeof len, p->text().constData(), len);
        }
    }
}

// Output metadata with every column turned into UTF-8 text, so that the engine does the
// conversion of numbers and dates and every cell reads back as text.
IMessageMetadata* textOutput(ThrowStatusWrapper* st, IStatement* stmt, QStringList& names) {
    Owned<IMessageMetadata> original{stmt->getOutputMetadata(st)};
    const unsigned count = original->getCount(st);
    Owned<IMetadataBuilder> builder{original->getBuilder(st)};
    for (unsigned i = 0; i < count; ++i) {
        const unsigned type = original->getType(st, i) & ~1u;
        unsigned length = original->getLength(st, i);
        if (type != SQL_VARYING && type != SQL_TEXT)
            length = 64;  // the text of any number, date or time fits
        builder->setType(st, i, SQL_VARYING + 1);
        builder->setCharSet(st, i, kUtf8CharSet);
        builder->setLength(st, i, length);
        builder->setScale(st, i, 0);
        const char* alias = original->getAlias(st, i);
        names << QString::fromUtf8(alias && *alias ? alias : original->getField(st, i));
    }
    return builder->getMetadata(st);
}

}  // namespace

void DbStatement::run(bool keepRows) {
    if (!m_db.isConnected())
        m_db.open();
    if (!m_tr.isActive())
        m_tr.start();

    const ParsedSql& statement = parsed();
    std::vector<const DbParam*> values;
    values.reserve(statement.markers.size());
    for (const QString& marker : statement.markers)
        values.push_back(&param(marker));
    const QByteArray sql = statement.text.toUtf8();
    m_rowsAffected = 0;

    try {
        m_result = runStatement(sql, statement.markers, values, keepRows);
    } catch (const DbError& e) {
        if (e.problem() == DbProblem::Network)
            m_db.forgetConnection();
        else if (m_tr.commitAfterEachStatement && !m_tr.inUnit())
            m_tr.rollback();
        throw describe(e, m_db.databaseName);
    }
    m_row = 0;
    m_bof = true;
    if (m_tr.commitAfterEachStatement && !m_tr.inUnit())
        m_tr.commit();  // the rows are buffered: the result stays readable
}

namespace {

// One output row as the engine writes it, split into UTF-8 cells.
class OutputRow final {
public:
    OutputRow(ThrowStatusWrapper* st, IMessageMetadata* out, unsigned count)
        : m_offsets(count), m_nullOffsets(count), m_cells(count), m_lengths(count) {
        for (unsigned i = 0; i < count; ++i) {
            m_offsets[i] = out->getOffset(st, i);
            m_nullOffsets[i] = out->getNullOffset(st, i);
        }
        m_buffer.resize(out->getMessageLength(st));
    }

    unsigned char* data() { return m_buffer.data(); }

    // Reads the cells of the row last written into data(); a null cell gets ResultBuffer::kNull.
    void decode() {
        for (std::size_t i = 0; i < m_offsets.size(); ++i) {
            const bool null = *reinterpret_cast<const short*>(m_buffer.data() + m_nullOffsets[i]) != 0;
            const unsigned char* data = m_buffer.data() + m_offsets[i];
            std::uint16_t len = 0;
            std::memcpy(&len, data, sizeof len);
            m_cells[i] = reinterpret_cast<const char*>(data + sizeof len);
            m_lengths[i] = null ? ResultBuffer::kNull : len;
        }
    }
    QByteArrayView cell(std::size_t i) const {
        return m_lengths[i] == ResultBuffer::kNull ? QByteArrayView()
                                                   : QByteArrayView(m_cells[i], m_lengths[i]);
    }
    const char* const* cells() const { return m_cells.data(); }
    const std::uint16_t* lengths() const { return m_lengths.data(); }

private:
    std::vector<unsigned> m_offsets, m_nullOffsets;
    std::vector<unsigned char> m_buffer;
    std::vector<const char*> m_cells;
    std::vector<std::uint16_t> m_lengths;
};

// Appends to the result the rows that the filter keeps, every row when there is no filter. The
// filter's columns are looked up once.
class RowKeeper final {
public:
    RowKeeper(ResultBuffer* result, const QStringList* columns, const DbStatement::RowFilter* filter)
        : m_result(result), m_filter(result && columns ? filter : nullptr) {
        if (!m_filter)
            return;
        for (const QString& column : *columns) {
            const int index = result->columnIndex(column);
            if (index < 0)
                throw DbError(QStringLiteral("項目「%1」が見つかりません。").arg(column));
            m_indexes.push_back(std::size_t(index));
        }
        m_cells.resize(m_indexes.size());
    }

    void keep(OutputRow& row) {
        if (!m_result)
            return;
        row.decode();
        if (m_filter) {
            for (std::size_t f = 0; f < m_indexes.size(); ++f)
                m_cells[f] = row.cell(m_indexes[f]);
            if (!(*m_filter)(m_cells.data()))
                return;
        }
        m_result->appendRow(row.cells(), row.lengths());
    }

private:
    ResultBuffer* m_result;
    const DbStatement::RowFilter* m_filter;
    std::vector<std::size_t> m_indexes;
    std::vector<QByteArrayView> m_cells;
};

}  // namespace

std::unique_ptr<ResultBuffer> DbStatement::runStatement(const QByteArray& sql, const QStringList& markers,
                                                        const std::vector<const DbParam*>& values,
                                                        bool keepRows) {
    IAttachment* att = m_db.m_att->att.get();
    ITransaction* tra = m_tr.m_tra->tra.get();
    return fbcall::call([&](ThrowStatusWrapper* st) -> std::unique_ptr<ResultBuffer> {
        Owned<IStatement> stmt{att->prepare(st, tra, 0, sql.constData(), unsigned(m_db.sqlDialect),
                                            IStatement::PREPARE_PREFETCH_METADATA)};
        InputMessage in;
        buildInput(st, markers, values, in);
        QStringList names;
        Owned<IMessageMetadata> out{textOutput(st, stmt.get(), names)};
        OutputRow row(st, out.get(), unsigned(names.size()));
        std::unique_ptr<ResultBuffer> result =
            names.isEmpty() ? nullptr : std::make_unique<ResultBuffer>(names);
        RowKeeper keeper(result.get(), m_filterColumns, m_filter);
        if (stmt->getFlags(st) & IStatement::FLAG_HAS_CURSOR) {
            Owned<IResultSet> cursor{
                stmt->openCursor(st, tra, in.meta.get(), in.buffer.data(), out.get(), 0)};
            while (cursor->fetchNext(st, row.data()) == IStatus::RESULT_OK) {
                if (keepRows)
                    keeper.keep(row);
            }
            finish(cursor, [&](IResultSet* c) { c->close(st); });
        } else {
            // A statement with a RETURNING clause has one row of output and no cursor.
            const bool returning = !names.isEmpty();
            stmt->execute(st, tra, in.meta.get(), in.buffer.data(), returning ? out.get() : nullptr,
                          returning ? row.data() : nullptr);
            m_rowsAffected = int(stmt->getAffectedRecords(st));
            if (returning)
                keeper.keep(row);
        }
        finish(stmt, [&](IStatement* s) { s->free(st); });
        return keepRows ? std::move(result) : nullptr;
    });
}

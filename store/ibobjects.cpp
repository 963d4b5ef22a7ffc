// The connection, transaction and statement object over the Firebird client library.

#include "ibobjects.h"

#include "engineprocess.h"
#include "fbcall.h"
#include "sqlparams.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>

#include <firebird/Interface.h>
#include <ibase.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>
#include <set>

using namespace Firebird;
using fbcall::describe;
using fbcall::finish;
using fbcall::master;
using fbcall::Owned;
using fbcall::provider;

struct FbAttachmentHandle {
    Owned<IAttachment> att;
};
struct FbTransactionHandle {
    Owned<ITransaction> tra;
};

namespace {

constexpr unsigned kUtf8CharSet = 4;
constexpr int kConnectTimeoutSeconds = 10;

// "host:/path", "host/port:/path" or a URL-like "inet://host/path": a card file on a server. A
// local path starts with a slash, whatever colons it holds.
bool isRemoteName(const QString& name) {
    return !name.startsWith(QLatin1Char('/')) && name.contains(QLatin1Char(':'));
}

// Maps the parameter lines of the connection and transaction settings onto the client's tags.
struct Tag {
    const char* name;
    unsigned char tag;
};
constexpr Tag kDpbTags[] = {
    {"user_name", isc_dpb_user_name},
    {"password", isc_dpb_password},
    {"lc_ctype", isc_dpb_lc_ctype},
    {"sql_role_name", isc_dpb_sql_role_name},
};
constexpr Tag kTpbTags[] = {
    {"read_committed", isc_tpb_read_committed},
    {"no_rec_version", isc_tpb_no_rec_version},
    {"rec_version", isc_tpb_rec_version},
    {"wait", isc_tpb_wait},
    {"nowait", isc_tpb_nowait},
    {"concurrency", isc_tpb_concurrency},
    {"consistency", isc_tpb_consistency},
    {"read", isc_tpb_read},
    {"write", isc_tpb_write},
};

template <std::size_t N>
unsigned char tagFor(const Tag (&table)[N], const QString& name) {
    for (const Tag& t : table) {
        if (name.compare(QLatin1String(t.name), Qt::CaseInsensitive) == 0)
            return t.tag;
    }
    throw DbError(QStringLiteral("接続パラメータ「%1」は使えません。").arg(name));
}

void buildDpb(ThrowStatusWrapper* st, IXpbBuilder* dpb, const QStringList& params, int dialect) {
    for (const QString& line : params) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        const QString name = line.left(eq).trimmed();
        const QByteArray value = eq < 0 ? QByteArray() : line.mid(eq + 1).toUtf8();
        dpb->insertString(st, tagFor(kDpbTags, name), value.constData());
    }
    dpb->insertInt(st, isc_dpb_sql_dialect, dialect);
    dpb->insertTag(st, isc_dpb_utf8_filename);
}

}  // namespace

QString configureEmbeddedEngine() {
    return engineprocess::lockFolder();
}

namespace {

// The connections open in this process, for cancelling their running statements from the
// signal thread.
std::mutex g_attachmentsMutex;
std::set<IAttachment*> g_attachments;

void registerAttachment(IAttachment* att) {
    std::lock_guard lock(g_attachmentsMutex);
    g_attachments.insert(att);
}

void unregisterAttachment(IAttachment* att) {
    std::lock_guard lock(g_attachmentsMutex);
    g_attachments.erase(att);
}

}  // namespace

void cancelRunningStatements() noexcept {
    std::lock_guard lock(g_attachmentsMutex);
    for (IAttachment* att : g_attachments) {
        IStatus* status = master()->getStatus();
        CheckStatusWrapper st(status);
        att->cancelOperation(&st, fb_cancel_raise);
        status->dispose();
    }
}

void shutdownEngine() noexcept {
    fb_shutdown(5000, fb_shutrsn_app_stopped);
}

// ---- DbConnection ---------------------------------------------------------------------------

DbConnection::DbConnection() = default;

DbConnection::~DbConnection() {
    try {
        close();
    } catch (...) {
        // Nothing can be reported on the way out.
    }
    for (DbTransaction* t : m_transactions) {
        t->forget();
        t->m_db = nullptr;
    }
}

void DbConnection::setDefaultTransaction(DbTransaction* transaction) {
    if (transaction && transaction->m_db != this)
        throw DbError(QStringLiteral("別のデータベースのトランザクションは既定にできません。"));
    m_default = transaction;
}

bool DbConnection::isConnected() const {
    return m_att != nullptr;
}

void DbConnection::open() {
    if (m_att)
        return;
    auto handle = std::make_unique<FbAttachmentHandle>();
    const bool remote = isRemoteName(databaseName);
    const auto started = std::chrono::steady_clock::now();
    try {
        handle->att = fbcall::call([&](ThrowStatusWrapper* st) {
            Owned<IXpbBuilder> dpb{
                master()->getUtilInterface()->getXpbBuilder(st, IXpbBuilder::DPB, nullptr, 0)};
            buildDpb(st, dpb.get(), params, sqlDialect);
            // A server that accepts the connection and never answers would otherwise hold the
            // attach for minutes.
            if (remote)
                dpb->insertInt(st, isc_dpb_connect_timeout, kConnectTimeoutSeconds);
            const QByteArray path = databaseName.toUtf8();
            return Owned<IAttachment>{provider()->attachDatabase(st, path.constData(),
                                                                 dpb->getBufferLength(st), dpb->getBuffer(st))};
        });
    } catch (const DbError& e) {
        // However the client words it, a server that let the whole connect timeout pass has not
        // answered; a refusal or a wrong password comes back at once.
        const auto waited = std::chrono::steady_clock::now() - started;
        if (remote && !e.described() &&
            (e.problem() == DbProblem::Network || e.problem() == DbProblem::Other) &&
            waited >= std::chrono::seconds(kConnectTimeoutSeconds) - std::chrono::milliseconds(500))
            throw describe(DbError(QString::fromUtf8(e.what()), DbProblem::NoAnswer, false), databaseName,
                           true);
        throw describe(e, databaseName, true);
    }
    registerAttachment(handle->att.get());
    m_att = std::move(handle);
}

void DbConnection::close() {
    if (!m_att)
        return;
    std::optional<DbError> failure;
    if (m_default && m_default->isActive()) {
        try {
            m_default->commit();
        } catch (const DbError& e) {
            failure = e;
            m_default->rollback();
        }
    }
    // The engine refuses to detach while a transaction is open: whatever the other transactions
    // left uncommitted is undone, as their own destructors would.
    for (DbTransaction* t : m_transactions)
        t->rollback();
    const std::unique_ptr<FbAttachmentHandle> handle = std::move(m_att);
    unregisterAttachment(handle->att.get());
    try {
        fbcall::call([&](ThrowStatusWrapper* st) { finish(handle->att, [&](IAttachment* a) { a->detach(st); }); });
    } catch (const DbError&) {
        // A refused detach leaves the attachment to its owner, which releases it.
    }
    if (failure)
        throw *failure;
}

void DbConnection::forgetConnection() noexcept {
    // Every transaction of a lost connection is lost with it.
    for (DbTransaction* t : m_transactions)
        t->forget();
    if (m_att) {
        unregisterAttachment(m_att->att.get());
        m_att.reset();
    }
}

void DbConnection::reconnect() {
    close();
    open();
}

// ---- DbTransaction ------------------------------------------------------------------------

DbTransaction::DbTransaction(DbConnection& db) : m_db(&db) {
    db.m_transactions.push_back(this);
}

DbTransaction::~DbTransaction() {
    rollback();
    if (!m_db)
        return;
    std::erase(m_db->m_transactions, this);
    if (m_db->m_default == this)
        m_db->m_default = nullptr;
}

DbConnection& DbTransaction::database() const {
    if (!m_db)
        throw DbError(QStringLiteral("データベースに接続されていません。"));
    return *m_db;
}

bool DbTransaction::isActive() const {
    return m_tra != nullptr;
}

void DbTransaction::start() {
    if (m_tra)
        return;
    DbConnection& db = database();
    if (!db.m_att)
        throw DbError(QStringLiteral("データベースに接続されていません。"));
    auto handle = std::make_unique<FbTransactionHandle>();
    try {
        handle->tra = fbcall::call([&](ThrowStatusWrapper* st) {
            Owned<IXpbBuilder> tpb{
                master()->getUtilInterface()->getXpbBuilder(st, IXpbBuilder::TPB, nullptr, 0)};
            for (const QString& p : params)
                tpb->insertTag(st, tagFor(kTpbTags, p.trimmed()));
            return Owned<ITransaction>{
                db.m_att->att->startTransaction(st, tpb->getBufferLength(st), tpb->getBuffer(st))};
        });
    } catch (const DbError& e) {
        if (e.problem() == DbProblem::Network)
            db.forgetConnection();
        throw describe(e, db.databaseName);
    }
    m_tra = std::move(handle);
}

void DbTransaction::commit() {
    if (!m_tra)
        return;
    try {
        fbcall::call([&](ThrowStatusWrapper* st) { finish(m_tra->tra, [&](ITransaction* t) { t->commit(st); }); });
    } catch (const DbError& e) {
        DbConnection& db = database();
        if (e.problem() == DbProblem::Network)
            db.forgetConnection();
        throw describe(e, db.databaseName);
    }
    m_tra.reset();
}

void DbTransaction::rollback() noexcept {
    if (!m_tra)
        return;
    try {
        fbcall::call([&](ThrowStatusWrapper* st) { finish(m_tra->tra, [&](ITransaction* t) { t->rollback(st); }); });
        m_tra.reset();
    } catch (const DbError&) {
        forget();
    }
}

void DbTransaction::forget() noexcept {
    m_tra.reset();
}

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

// ---- ResultBuffer --------------------------------------------------------------------------

ResultBuffer::ResultBuffer(QStringList columnNames) : m_columns(std::move(columnNames)) {
    for (const QString& name : m_columns)
        m_utf8Columns.push_back(name.toUtf8());
}

int ResultBuffer::columnIndex(QAnyStringView name) const {
    // Names written in the code arrive as 8-bit text: compare their bytes directly, folding
    // ASCII letter case, which is every column name's alphabet. This runs once per cell read.
    const int found = name.visit([this](auto view) {
        if constexpr (!std::is_same_v<decltype(view), QStringView>) {
            for (int i = 0; i < int(m_utf8Columns.size()); ++i) {
                const QByteArray& column = m_utf8Columns[std::size_t(i)];
                if (column.size() == view.size() &&
                    qstrnicmp(column.constData(), view.data(), std::size_t(view.size())) == 0)
                    return i;
            }
        }
        return -1;
    });
    if (found >= 0)
        return found;
    for (int i = 0; i < m_columns.size(); ++i) {
        if (QAnyStringView::compare(name, m_columns[i], Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

void ResultBuffer::appendRow(const char* const* cells, const std::uint16_t* lengths) {
    std::size_t bytes = 0;
    const int n = columnCount();
    for (int i = 0; i < n; ++i) {
        if (lengths[i] != kNull)
            bytes += lengths[i];
    }
    if (m_blocks.empty() || m_used + bytes > m_blockSizes.back()) {
        const std::size_t size = std::max(kBlockSize, bytes);
        m_blocks.push_back(std::make_unique<char[]>(size));
        m_blockSizes.push_back(size);
        m_used = 0;
    }
    m_rows.push_back(
        Row{std::uint32_t(m_blocks.size() - 1), std::uint32_t(m_used), std::uint32_t(m_lengths.size())});
    char* out = m_blocks.back().get() + m_used;
    for (int i = 0; i < n; ++i) {
        m_lengths.push_back(lengths[i]);
        if (lengths[i] != kNull) {
            std::memcpy(out, cells[i], lengths[i]);
            out += lengths[i];
        }
    }
    m_used += bytes;
}

bool ResultBuffer::isNull(int row, int column) const {
    return m_lengths[m_rows[row].lengths + column] == kNull;
}

QByteArrayView ResultBuffer::cell(int row, int column) const {
    const Row& r = m_rows[row];
    std::size_t offset = r.offset;
    for (int i = 0; i < column; ++i) {
        const std::uint16_t len = m_lengths[r.lengths + i];
        if (len != kNull)
            offset += len;
    }
    const std::uint16_t len = m_lengths[r.lengths + column];
    if (len == kNull)
        return {};
    return QByteArrayView(m_blocks[r.block].get() + offset, len);
}

std::size_t ResultBuffer::bytesAllocated() const {
    std::size_t total = sizeof(*this);
    for (std::size_t s : m_blockSizes)
        total += s;
    total += m_rows.capacity() * sizeof(Row) + m_lengths.capacity() * sizeof(std::uint16_t);
    total += m_blocks.capacity() * sizeof(void*) + m_blockSizes.capacity() * sizeof(std::size_t);
    return total;
}

// ---- DbField ------------------------------------------------------------------------------

bool DbField::isNull() const {
    return m_row < 0 || m_result->isNull(m_row, m_column);
}

QString DbField::text() const {
    if (isNull())
        return QString();
    const QByteArrayView bytes(m_result->cell(m_row, m_column));
    // fromUtf8 takes a leading U+FEFF for a byte-order mark and drops it; in a column it is text.
    if (!bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes);
    return QString(QChar(0xFEFF)) + QString::fromUtf8(bytes.sliced(3));
}

qint32 DbField::toInt() const {
    if (isNull())
        return 0;
    const QByteArrayView text = m_result->cell(m_row, m_column);
    bool ok = false;
    const qint32 value = text.trimmed().toInt(&ok);
    if (!ok)
        throw DbError(QStringLiteral("「%1」は整数として読めません。").arg(QString::fromUtf8(text)));
    return value;
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

void buildInput(ThrowStatusWrapper* st, const QStringList& markers,
                const std::vector<const DbParam*>& values, InputMessage& in) {
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
        return m_lengths[i] == ResultBuffer::kNull ? QByteArrayView() : QByteArrayView(m_cells[i], m_lengths[i]);
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
        std::unique_ptr<ResultBuffer> result = names.isEmpty() ? nullptr : std::make_unique<ResultBuffer>(names);
        RowKeeper keeper(result.get(), m_filterColumns, m_filter);
        if (stmt->getFlags(st) & IStatement::FLAG_HAS_CURSOR) {
            Owned<IResultSet> cursor{stmt->openCursor(st, tra, in.meta.get(), in.buffer.data(), out.get(), 0)};
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

// ---- database creation ---------------------------------------------------------------------

void createDatabaseFile(const QString& path, const QStringList& statements, bool automaticSweep) {
    fbcall::call([&](ThrowStatusWrapper* st) {
        Owned<IXpbBuilder> dpb{master()->getUtilInterface()->getXpbBuilder(st, IXpbBuilder::DPB, nullptr, 0)};
        buildDpb(st, dpb.get(), {QStringLiteral("user_name=SYSDBA")}, 3);
        dpb->insertString(st, isc_dpb_set_db_charset, "UTF8");
        dpb->insertInt(st, isc_dpb_page_size, 8192);
        if (!automaticSweep)
            dpb->insertInt(st, isc_dpb_sweep_interval, 0);
        const QByteArray file = path.toUtf8();
        Owned<IAttachment> att{provider()->createDatabase(st, file.constData(), dpb->getBufferLength(st),
                                                          dpb->getBuffer(st))};
        dpb.reset();
        try {
            for (const QString& statement : statements) {
                const QByteArray sql = statement.toUtf8();
                Owned<ITransaction> tra{att->startTransaction(st, 0, nullptr)};
                att->execute(st, tra.get(), 0, sql.constData(), 3, nullptr, nullptr, nullptr, nullptr);
                finish(tra, [&](ITransaction* t) { t->commit(st); });
            }
        } catch (const FbException&) {
            // Leave no half-made database behind.
            fbcall::Status dropStatus;
            try {
                finish(att, [&](IAttachment* a) { a->dropDatabase(dropStatus.get()); });
            } catch (const FbException&) {
                // The attachment stays owned and is released; the first failure is the one told.
            }
            throw;
        }
        finish(att, [&](IAttachment* a) { a->detach(st); });
    });
}

// Every call into the Firebird client library lives in this file.

#include "ibobjects.h"

#include "engineprocess.h"
#include "sqlparams.h"

#include <QDir>
#include <QFileInfo>

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

struct FbAttachmentHandle {
    IAttachment* att = nullptr;
};
struct FbTransactionHandle {
    ITransaction* tra = nullptr;
};

namespace {

constexpr unsigned kUtf8CharSet = 4;
constexpr int kConnectTimeoutSeconds = 10;

// "host:/path", "host/port:/path" or a URL-like "inet://host/path": a card file on a server. A
// local path starts with a slash, whatever colons it holds.
bool isRemoteName(const QString& name) {
    return !name.startsWith(QLatin1Char('/')) && name.contains(QLatin1Char(':'));
}

IMaster* master() {
    static IMaster* m = fb_get_master_interface();
    return m;
}

IProvider* provider() {
    static IProvider* p = master()->getDispatcher();
    return p;
}

QString formatStatus(const IStatus* status) {
    char buf[2048];
    master()->getUtilInterface()->formatStatus(buf, sizeof buf, const_cast<IStatus*>(status));
    return QString::fromUtf8(buf).trimmed();
}

// A status object for one series of calls; failures come out as DbError with the client's text.
class Status final {
public:
    Status() : m_wrapper(master()->getStatus()) {}
    ~Status() { m_wrapper.dispose(); }
    Status(const Status&) = delete;
    Status& operator=(const Status&) = delete;
    ThrowStatusWrapper* operator&() { return &m_wrapper; }

private:
    ThrowStatusWrapper m_wrapper;
};

DbProblem classify(const IStatus* status) {
    DbProblem problem = DbProblem::Other;
    for (const intptr_t* v = const_cast<IStatus*>(status)->getErrors(); v && *v != isc_arg_end; v += 2) {
        if (*v == isc_arg_gds) {
            switch (v[1]) {
                case isc_bad_db_format:
                case isc_db_corrupt:
                case isc_wrong_ods:
                case isc_badodsver:
                    return DbProblem::Damaged;
                case isc_already_opened:
                case isc_lock_conflict:
                    return DbProblem::InUse;
                case isc_no_priv:
                case isc_read_only_database:
                    return DbProblem::ReadOnly;
                case isc_login:
                    return DbProblem::Login;
                case isc_network_error:
                case isc_net_read_err:
                case isc_net_write_err:
                case isc_conn_lost:
                case isc_lost_db_connection:
                case isc_shutdown:
                case isc_att_shutdown:
                    problem = DbProblem::Network;
                    break;
                default:
                    break;
            }
        } else if (*v == isc_arg_unix) {
            switch (v[1]) {
                case ENOENT:
                case ENOTDIR:
                    return DbProblem::Missing;
                case EACCES:
                case EPERM:
                case EROFS:
                    return DbProblem::ReadOnly;
                case ENOSPC:
                case EDQUOT:
                    return DbProblem::DiskFull;
                default:
                    break;
            }
        }
    }
    return problem;
}

template <class F>
auto fbCall(F&& f) {
    Status status;
    try {
        return f(&status);
    } catch (const FbException& e) {
        throw DbError(formatStatus(e.getStatus()), classify(e.getStatus()), false);
    }
}

// The client's text of a failure with the card file, preceded by what failed in plain words;
// attaching tells a server never reached from a connection lost on the way.
DbError describe(const DbError& e, const QString& databaseName, bool attaching = false) {
    if (e.described())
        return e;
    const QString file = QDir::toNativeSeparators(databaseName);
    QString line;
    switch (e.problem()) {
        case DbProblem::Missing:
            line = QStringLiteral("カードファイル「%1」が見つかりません。");
            break;
        case DbProblem::InUse: {
            line = QStringLiteral("カードファイル「%1」は別のプログラムが使っています。");
            const QString users = engineprocess::processesUsing(databaseName);
            if (!users.isEmpty())
                line += QStringLiteral("\n使っているプログラム: %1").arg(users);
            break;
        }
        case DbProblem::ReadOnly:
            line =
                QStringLiteral("カードファイル「%1」に書き込めません（読み取り専用か、権限がありません）。");
            break;
        case DbProblem::Damaged:
            line = QStringLiteral("カードファイル「%1」は壊れているか、カードファイルではありません。");
            break;
        case DbProblem::DiskFull:
            line = QStringLiteral("ディスクがいっぱいで、カードファイル「%1」に書き込めません。");
            break;
        case DbProblem::Login:
            line = QStringLiteral("カードファイル「%1」に接続できません。ユーザー名かパスワードが違います。");
            break;
        case DbProblem::Network:
            line = attaching
                       ? QStringLiteral("カードファイル「%1」のデータベースサーバーに接続できません。")
                       : QStringLiteral("カードファイル「%1」のデータベースサーバーとの接続が切れました。");
            break;
        case DbProblem::NoAnswer:
            line = QStringLiteral(
                "カードファイル「%"
                "1」のデータベースサーバーが応答しません。サーバーとネットワークを確かめてください。");
            break;
        case DbProblem::Other:
            line = QStringLiteral("カードファイル「%1」の処理に失敗しました。");
            break;
    }
    return DbError(line.arg(file) + QStringLiteral("\n") + QString::fromUtf8(e.what()), e.problem());
}

// Releases an interface that was not closed, freed or committed (which release it themselves).
template <class T>
struct Owned {
    T* p = nullptr;
    ~Owned() {
        if (!p)
            return;
        if constexpr (requires { p->release(); })
            p->release();
        else
            p->dispose();
    }
    T* take() { return std::exchange(p, nullptr); }
};

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

// ---- TIBDatabase ---------------------------------------------------------------------------

TIBDatabase::TIBDatabase() = default;

TIBDatabase::~TIBDatabase() {
    try {
        Close();
    } catch (...) {
        // Nothing can be reported on the way out.
    }
    for (TIBTransaction* t : m_transactions) {
        t->forget();
        t->m_db = nullptr;
    }
}

void TIBDatabase::setDefaultTransaction(TIBTransaction* transaction) {
    if (transaction && transaction->m_db != this)
        throw DbError(QStringLiteral("別のデータベースのトランザクションは既定にできません。"));
    m_default = transaction;
}

bool TIBDatabase::Connected() const {
    return m_att != nullptr;
}

void TIBDatabase::Open() {
    if (m_att)
        return;
    IAttachment* att = nullptr;
    const bool remote = isRemoteName(DatabaseName);
    const auto started = std::chrono::steady_clock::now();
    try {
        att = fbCall([&](ThrowStatusWrapper* st) {
            Owned<IXpbBuilder> dpb{
                master()->getUtilInterface()->getXpbBuilder(st, IXpbBuilder::DPB, nullptr, 0)};
            buildDpb(st, dpb.p, Params, SQLDialect);
            // A server that accepts the connection and never answers would otherwise hold the
            // attach for minutes.
            if (remote)
                dpb.p->insertInt(st, isc_dpb_connect_timeout, kConnectTimeoutSeconds);
            const QByteArray path = DatabaseName.toUtf8();
            IAttachment* a = provider()->attachDatabase(st, path.constData(), dpb.p->getBufferLength(st),
                                                        dpb.p->getBuffer(st));
            dpb.take()->dispose();
            return a;
        });
    } catch (const DbError& e) {
        // However the client words it, a server that let the whole connect timeout pass has not
        // answered; a refusal or a wrong password comes back at once.
        const auto waited = std::chrono::steady_clock::now() - started;
        if (remote && !e.described() &&
            (e.problem() == DbProblem::Network || e.problem() == DbProblem::Other) &&
            waited >= std::chrono::seconds(kConnectTimeoutSeconds) - std::chrono::milliseconds(500))
            throw describe(DbError(QString::fromUtf8(e.what()), DbProblem::NoAnswer, false), DatabaseName,
                           true);
        throw describe(e, DatabaseName, true);
    }
    m_att = std::make_unique<FbAttachmentHandle>();
    m_att->att = att;
    registerAttachment(att);
}

void TIBDatabase::Close() {
    if (!m_att)
        return;
    std::optional<DbError> failure;
    if (m_default && m_default->InTransaction()) {
        try {
            m_default->Commit();
        } catch (const DbError& e) {
            failure = e;
            m_default->Rollback();
        }
    }
    // The engine refuses to detach while a transaction is open: whatever the other transactions
    // left uncommitted is undone, as their own destructors would.
    for (TIBTransaction* t : m_transactions)
        t->Rollback();
    IAttachment* att = m_att->att;
    unregisterAttachment(att);
    m_att.reset();
    try {
        fbCall([&](ThrowStatusWrapper* st) { att->detach(st); });
    } catch (const DbError&) {
        att->release();
    }
    if (failure)
        throw *failure;
}

void TIBDatabase::forgetConnection() noexcept {
    // Every transaction of a lost connection is lost with it.
    for (TIBTransaction* t : m_transactions)
        t->forget();
    if (m_att) {
        unregisterAttachment(m_att->att);
        m_att->att->release();
        m_att.reset();
    }
}

void TIBDatabase::reconnect() {
    Close();
    Open();
}

// ---- TIBTransaction ------------------------------------------------------------------------

TIBTransaction::TIBTransaction(TIBDatabase& db) : m_db(&db) {
    db.m_transactions.push_back(this);
}

TIBTransaction::~TIBTransaction() {
    Rollback();
    if (!m_db)
        return;
    std::erase(m_db->m_transactions, this);
    if (m_db->m_default == this)
        m_db->m_default = nullptr;
}

TIBDatabase& TIBTransaction::database() const {
    if (!m_db)
        throw DbError(QStringLiteral("データベースに接続されていません。"));
    return *m_db;
}

bool TIBTransaction::InTransaction() const {
    return m_tra != nullptr;
}

void TIBTransaction::StartTransaction() {
    if (m_tra)
        return;
    TIBDatabase& db = database();
    if (!db.m_att)
        throw DbError(QStringLiteral("データベースに接続されていません。"));
    ITransaction* tra = nullptr;
    try {
        tra = fbCall([&](ThrowStatusWrapper* st) {
            Owned<IXpbBuilder> tpb{
                master()->getUtilInterface()->getXpbBuilder(st, IXpbBuilder::TPB, nullptr, 0)};
            for (const QString& p : Params)
                tpb.p->insertTag(st, tagFor(kTpbTags, p.trimmed()));
            ITransaction* t =
                db.m_att->att->startTransaction(st, tpb.p->getBufferLength(st), tpb.p->getBuffer(st));
            tpb.take()->dispose();
            return t;
        });
    } catch (const DbError& e) {
        if (e.problem() == DbProblem::Network)
            db.forgetConnection();
        throw describe(e, db.DatabaseName);
    }
    m_tra = std::make_unique<FbTransactionHandle>();
    m_tra->tra = tra;
}

void TIBTransaction::Commit() {
    if (!m_tra)
        return;
    try {
        fbCall([&](ThrowStatusWrapper* st) { m_tra->tra->commit(st); });
    } catch (const DbError& e) {
        TIBDatabase& db = database();
        if (e.problem() == DbProblem::Network)
            db.forgetConnection();
        throw describe(e, db.DatabaseName);
    }
    m_tra.reset();
}

void TIBTransaction::Rollback() noexcept {
    if (!m_tra)
        return;
    try {
        fbCall([&](ThrowStatusWrapper* st) { m_tra->tra->rollback(st); });
        m_tra.reset();
    } catch (const DbError&) {
        forget();
    }
}

void TIBTransaction::forget() noexcept {
    if (m_tra) {
        m_tra->tra->release();
        m_tra.reset();
    }
}

// ---- TIBParam ------------------------------------------------------------------------------

void TIBParam::setAsString(const QString& value) {
    m_kind = Kind::Text;
    m_text = value.toUtf8();
}

void TIBParam::setAsInteger(qint32 value) {
    m_kind = Kind::Integer;
    m_int = value;
}

void TIBParam::clear() {
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

// ---- TIBField ------------------------------------------------------------------------------

bool TIBField::IsNull() const {
    return m_row < 0 || m_result->isNull(m_row, m_column);
}

QString TIBField::AsString() const {
    if (IsNull())
        return QString();
    const QByteArrayView bytes(m_result->cell(m_row, m_column));
    // fromUtf8 takes a leading U+FEFF for a byte-order mark and drops it; in a column it is text.
    if (!bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes);
    return QString(QChar(0xFEFF)) + QString::fromUtf8(bytes.sliced(3));
}

qint32 TIBField::AsInteger() const {
    if (IsNull())
        return 0;
    const QByteArrayView text = m_result->cell(m_row, m_column);
    bool ok = false;
    const qint32 value = text.trimmed().toInt(&ok);
    if (!ok)
        throw DbError(QStringLiteral("「%1」は整数として読めません。").arg(QString::fromUtf8(text)));
    return value;
}

// ---- TIBQuery ------------------------------------------------------------------------------

void TIBQuery::Lines::Clear() {
    m_lines.clear();
    m_q.textChanged(true);
}

void TIBQuery::Lines::Add(const QString& line) {
    m_lines << line;
    m_q.textChanged(false);
}

void TIBQuery::textChanged(bool dropParams) {
    Close();
    m_parsed.reset();
    if (dropParams)
        m_params.clear();
}

const ParsedSql& TIBQuery::parsed() {
    if (m_parsed)
        return *m_parsed;
    // Parameters are taken from the whole text; values already set are kept.
    m_parsed = parseSqlParams(SQL.Text());
    for (const QString& name : m_parsed->markers) {
        const bool known = std::any_of(m_params.begin(), m_params.end(), [&](const TIBParam& p) {
            return p.name().compare(name, Qt::CaseInsensitive) == 0;
        });
        if (!known)
            m_params.emplace_back(name);
    }
    return *m_parsed;
}

TIBParam& TIBQuery::ParamByName(QAnyStringView name) {
    parsed();
    for (TIBParam& p : m_params) {
        if (QAnyStringView::compare(name, p.name(), Qt::CaseInsensitive) == 0)
            return p;
    }
    throw DbError(QStringLiteral("パラメータ「%1」が見つかりません。").arg(name.toString()));
}

void TIBQuery::Open() {
    if (m_result)
        return;
    run(true);
}

void TIBQuery::OpenFiltered(const QStringList& columns, const RowFilter& keep) {
    if (m_result)
        return;
    struct Reset {
        TIBQuery& q;
        ~Reset() {
            q.m_filterColumns = nullptr;
            q.m_filter = nullptr;
        }
    } reset{*this};
    m_filterColumns = &columns;
    m_filter = &keep;
    run(true);
}

void TIBQuery::ExecSQL() {
    Close();
    run(false);
}

void TIBQuery::Close() {
    m_result.reset();
    m_row = 0;
    m_bof = true;
}

TIBField TIBQuery::FieldByName(QAnyStringView name) const {
    return Fields(FieldIndex(name));
}

int TIBQuery::FieldIndex(QAnyStringView name) const {
    const int column = m_result ? m_result->columnIndex(name) : -1;
    if (column < 0)
        throw DbError(QStringLiteral("項目「%1」が見つかりません。").arg(name.toString()));
    return column;
}

TIBField TIBQuery::Fields(int column) const {
    if (!m_result || column < 0 || column >= m_result->columnCount())
        throw DbError(QStringLiteral("項目番号 %1 はありません。").arg(column));
    const int row = m_result->rowCount() == 0 ? -1 : m_row;
    return TIBField(m_result.get(), row, column);
}

void TIBQuery::Last() {
    if (!m_result)
        return;
    m_row = std::max(0, m_result->rowCount() - 1);
    m_bof = m_result->rowCount() == 0;
}

void TIBQuery::Prior() {
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
                const std::vector<const TIBParam*>& values, InputMessage& in) {
    if (markers.isEmpty())
        return;
    Owned<IMetadataBuilder> builder{master()->getMetadataBuilder(st, unsigned(markers.size()))};
    for (unsigned i = 0; i < unsigned(markers.size()); ++i) {
        const TIBParam* p = values[i];
        if (p->kind() == TIBParam::Kind::Integer) {
            builder.p->setType(st, i, SQL_LONG + 1);
            builder.p->setLength(st, i, sizeof(ISC_LONG));
            builder.p->setScale(st, i, 0);
        } else {
            if (p->text().size() > 32765)
                throw DbError(QStringLiteral("パラメータ「%1」の値が長すぎます。").arg(p->name()));
            builder.p->setType(st, i, SQL_VARYING + 1);
            builder.p->setCharSet(st, i, kUtf8CharSet);
            builder.p->setLength(st, i, unsigned(std::max<qsizetype>(1, p->text().size())));
        }
    }
    in.meta.p = builder.p->getMetadata(st);
    in.buffer.assign(in.meta.p->getMessageLength(st), 0);
    for (unsigned i = 0; i < unsigned(markers.size()); ++i) {
        const TIBParam* p = values[i];
        unsigned char* data = in.buffer.data() + in.meta.p->getOffset(st, i);
        auto* null = reinterpret_cast<short*>(in.buffer.data() + in.meta.p->getNullOffset(st, i));
        *null = p->kind() == TIBParam::Kind::Null ? -1 : 0;
        if (p->kind() == TIBParam::Kind::Integer) {
            const ISC_LONG v = p->integer();
            std::memcpy(data, &v, sizeof v);
        } else if (p->kind() == TIBParam::Kind::Text) {
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
    const unsigned count = original.p->getCount(st);
    Owned<IMetadataBuilder> builder{original.p->getBuilder(st)};
    for (unsigned i = 0; i < count; ++i) {
        const unsigned type = original.p->getType(st, i) & ~1u;
        unsigned length = original.p->getLength(st, i);
        if (type != SQL_VARYING && type != SQL_TEXT)
            length = 64;  // the text of any number, date or time fits
        builder.p->setType(st, i, SQL_VARYING + 1);
        builder.p->setCharSet(st, i, kUtf8CharSet);
        builder.p->setLength(st, i, length);
        builder.p->setScale(st, i, 0);
        const char* alias = original.p->getAlias(st, i);
        names << QString::fromUtf8(alias && *alias ? alias : original.p->getField(st, i));
    }
    return builder.p->getMetadata(st);
}

}  // namespace

void TIBQuery::run(bool keepRows) {
    if (!m_db.Connected())
        m_db.Open();
    if (!m_tr.InTransaction())
        m_tr.StartTransaction();

    const ParsedSql& statement = parsed();
    std::vector<const TIBParam*> values;
    values.reserve(statement.markers.size());
    for (const QString& marker : statement.markers)
        values.push_back(&ParamByName(marker));
    const QByteArray sql = statement.text.toUtf8();
    m_rowsAffected = 0;

    try {
        m_result = runStatement(sql, statement.markers, values, keepRows);
    } catch (const DbError& e) {
        if (e.problem() == DbProblem::Network)
            m_db.forgetConnection();
        else if (m_tr.CommitAfterEachStatement && !m_tr.inUnit())
            m_tr.Rollback();
        throw describe(e, m_db.DatabaseName);
    }
    m_row = 0;
    m_bof = true;
    if (m_tr.CommitAfterEachStatement && !m_tr.inUnit())
        m_tr.Commit();  // the rows are buffered: the result stays readable
}

std::unique_ptr<ResultBuffer> TIBQuery::runStatement(const QByteArray& sql, const QStringList& markers,
                                                     const std::vector<const TIBParam*>& values,
                                                     bool keepRows) {
    IAttachment* att = m_db.m_att->att;
    ITransaction* tra = m_tr.m_tra->tra;
    return fbCall([&](ThrowStatusWrapper* st) -> std::unique_ptr<ResultBuffer> {
        Owned<IStatement> stmt{att->prepare(st, tra, 0, sql.constData(), unsigned(m_db.SQLDialect),
                                            IStatement::PREPARE_PREFETCH_METADATA)};
        InputMessage in;
        buildInput(st, markers, values, in);
        std::unique_ptr<ResultBuffer> result;
        QStringList names;
        Owned<IMessageMetadata> out{textOutput(st, stmt.p, names)};
        const unsigned count = unsigned(names.size());
        std::vector<unsigned> offsets(count), nullOffsets(count);
        for (unsigned i = 0; i < count; ++i) {
            offsets[i] = out.p->getOffset(st, i);
            nullOffsets[i] = out.p->getNullOffset(st, i);
        }
        std::vector<unsigned char> row(out.p->getMessageLength(st));
        std::vector<const char*> cells(count);
        std::vector<std::uint16_t> lengths(count);
        if (count > 0)
            result = std::make_unique<ResultBuffer>(names);
        std::vector<int> filterIndexes;
        std::vector<QByteArrayView> filterCells;
        if (m_filter && result) {
            for (const QString& column : *m_filterColumns) {
                const int index = result->columnIndex(column);
                if (index < 0)
                    throw DbError(QStringLiteral("項目「%1」が見つかりません。").arg(column));
                filterIndexes.push_back(index);
            }
            filterCells.resize(filterIndexes.size());
        }
        auto keepRow = [&] {
            for (unsigned i = 0; i < count; ++i) {
                const bool null = *reinterpret_cast<const short*>(row.data() + nullOffsets[i]) != 0;
                const unsigned char* data = row.data() + offsets[i];
                std::uint16_t len;
                std::memcpy(&len, data, sizeof len);
                cells[i] = reinterpret_cast<const char*>(data + sizeof len);
                lengths[i] = null ? ResultBuffer::kNull : len;
            }
            if (m_filter) {
                for (std::size_t f = 0; f < filterIndexes.size(); ++f) {
                    const int i = filterIndexes[f];
                    filterCells[f] = lengths[i] == ResultBuffer::kNull ? QByteArrayView()
                                                                       : QByteArrayView(cells[i], lengths[i]);
                }
                if (!(*m_filter)(filterCells.data()))
                    return;
            }
            result->appendRow(cells.data(), lengths.data());
        };
        if (stmt.p->getFlags(st) & IStatement::FLAG_HAS_CURSOR) {
            Owned<IResultSet> cursor{stmt.p->openCursor(st, tra, in.meta.p, in.buffer.data(), out.p, 0)};
            while (cursor.p->fetchNext(st, row.data()) == IStatus::RESULT_OK) {
                if (keepRows)
                    keepRow();
            }
            cursor.take()->close(st);
        } else if (count > 0) {
            // A statement with a RETURNING clause: one row of output, no cursor.
            stmt.p->execute(st, tra, in.meta.p, in.buffer.data(), out.p, row.data());
            m_rowsAffected = int(stmt.p->getAffectedRecords(st));
            keepRow();
        } else {
            stmt.p->execute(st, tra, in.meta.p, in.buffer.data(), nullptr, nullptr);
            m_rowsAffected = int(stmt.p->getAffectedRecords(st));
        }
        stmt.take()->free(st);
        return keepRows ? std::move(result) : nullptr;
    });
}

// ---- database creation ---------------------------------------------------------------------

void createDatabaseFile(const QString& path, const QStringList& statements, bool automaticSweep) {
    fbCall([&](ThrowStatusWrapper* st) {
        Owned<IXpbBuilder> dpb{master()->getUtilInterface()->getXpbBuilder(st, IXpbBuilder::DPB, nullptr, 0)};
        buildDpb(st, dpb.p, {QStringLiteral("user_name=SYSDBA")}, 3);
        dpb.p->insertString(st, isc_dpb_set_db_charset, "UTF8");
        dpb.p->insertInt(st, isc_dpb_page_size, 8192);
        if (!automaticSweep)
            dpb.p->insertInt(st, isc_dpb_sweep_interval, 0);
        const QByteArray file = path.toUtf8();
        Owned<IAttachment> att{provider()->createDatabase(st, file.constData(), dpb.p->getBufferLength(st),
                                                          dpb.p->getBuffer(st))};
        dpb.take()->dispose();
        try {
            for (const QString& statement : statements) {
                const QByteArray sql = statement.toUtf8();
                Owned<ITransaction> tra{att.p->startTransaction(st, 0, nullptr)};
                att.p->execute(st, tra.p, 0, sql.constData(), 3, nullptr, nullptr, nullptr, nullptr);
                tra.take()->commit(st);
            }
        } catch (const FbException&) {
            // Leave no half-made database behind.
            Status dropStatus;
            try {
                att.p->dropDatabase(&dropStatus);
                att.take();
            } catch (const FbException&) {
            }
            throw;
        }
        att.take()->detach(st);
    });
}

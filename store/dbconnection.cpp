// The connection to a card file and its transactions over the Firebird client library, the
// embedded engine's set-up and shut-down, and the creation of new database files.

#include "dbconnection.h"

#include "engineprocess.h"
#include "fbcall.h"
#include "fbhandles.h"

#include <firebird/Interface.h>
#include <ibase.h>

#include <chrono>
#include <mutex>
#include <optional>
#include <set>

using namespace Firebird;
using fbcall::describe;
using fbcall::finish;
using fbcall::master;
using fbcall::Owned;
using fbcall::provider;

namespace {

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
            return Owned<IAttachment>{provider()->attachDatabase(
                st, path.constData(), dpb->getBufferLength(st), dpb->getBuffer(st))};
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
        fbcall::call(
            [&](ThrowStatusWrapper* st) { finish(handle->att, [&](IAttachment* a) { a->detach(st); }); });
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
        fbcall::call(
            [&](ThrowStatusWrapper* st) { finish(m_tra->tra, [&](ITransaction* t) { t->commit(st); }); });
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
        fbcall::call(
            [&](ThrowStatusWrapper* st) { finish(m_tra->tra, [&](ITransaction* t) { t->rollback(st); }); });
        m_tra.reset();
    } catch (const DbError&) {
        forget();
    }
}

void DbTransaction::forget() noexcept {
    m_tra.reset();
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
        Owned<IAttachment> att{
            provider()->createDatabase(st, file.constData(), dpb->getBufferLength(st), dpb->getBuffer(st))};
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

// The engine's backup and restore services through the client's service manager. In embedded
// mode the service runs inside this process's engine, so it shares the engine (and its open
// files) with the program's own connection.

#include "fbservices.h"

#include "carddatabase.h"
#include "dbstatement.h"
#include "engineprocess.h"
#include "fbcall.h"

#include <QRegularExpression>

#include <firebird/Interface.h>
#include <ibase.h>

#include <fcntl.h>
#include <unistd.h>

using namespace Firebird;
using fbcall::finish;
using fbcall::master;
using fbcall::Owned;

namespace fbservices {

namespace {

// The account the database module connects with; the services need the same one.
const char* const kUser = CardDatabase::kLocalUser;
const char* const kPassword = CardDatabase::kLocalPassword;

// Hands on every report line of the running service until it ends. A termination signal stops
// the polling (engineprocess::Interrupted).
void pollReport(ThrowStatusWrapper* st, IService* svc, const LineHandler& onLine) {
    const unsigned char items[] = {isc_info_svc_line};
    unsigned char out[8192];
    for (bool more = true; more;) {
        engineprocess::throwIfInterrupted();
        svc->query(st, 0, nullptr, sizeof items, items, sizeof out, out);
        more = false;
        for (const unsigned char* p = out; p < out + sizeof out && *p != isc_info_end;) {
            const unsigned char tag = *p++;
            if (tag == isc_info_svc_line) {
                const unsigned length = unsigned(p[0]) | (unsigned(p[1]) << 8);
                p += 2;
                if (length > 0) {
                    more = true;
                    if (onLine)
                        onLine(QString::fromUtf8(reinterpret_cast<const char*>(p), int(length)));
                }
                p += length;
            } else if (tag == isc_info_truncated || tag == isc_info_data_not_ready) {
                more = true;
                break;
            } else {
                break;
            }
        }
    }
}

// Attaches to the service manager, starts the action the builder describes and hands on every
// report line until the service ends. A failure of the service comes back from the query that
// reads past its last line.
void runService(const std::function<void(ThrowStatusWrapper*, IXpbBuilder*)>& describe,
                const LineHandler& onLine) {
    fbcall::call([&](ThrowStatusWrapper* st) {
        IUtil* util = master()->getUtilInterface();
        Owned<IXpbBuilder> spb{util->getXpbBuilder(st, IXpbBuilder::SPB_ATTACH, nullptr, 0)};
        spb->insertString(st, isc_spb_user_name, kUser);
        spb->insertString(st, isc_spb_password, kPassword);
        Owned<IService> svc{master()->getDispatcher()->attachServiceManager(
            st, "service_mgr", spb->getBufferLength(st), spb->getBuffer(st))};
        spb.reset(util->getXpbBuilder(st, IXpbBuilder::SPB_START, nullptr, 0));
        describe(st, spb.get());
        svc->start(st, spb->getBufferLength(st), spb->getBuffer(st));
        spb.reset();

        try {
            pollReport(st, svc.get(), onLine);
        } catch (const FbException&) {
            throw;  // the service's own failure: its owner releases it
        } catch (...) {
            // A termination signal, or a line handler that failed: the running service is detached
            // and goes on in the engine's threads, so the process may not shut the engine down
            // around it. The caller removes what it made; files the service still writes are
            // removed as the process leaves.
            engineprocess::leaveWithoutShutdown();
            try {
                finish(svc, [&](IService* s) { s->detach(st); });
            } catch (const FbException&) {
                // Released by its owner instead.
            }
            throw;
        }
        finish(svc, [&](IService* s) { s->detach(st); });
    });
}

// Points standard input at the null device for its lifetime.
class StdinFromNull final {
public:
    StdinFromNull() : m_saved(::dup(STDIN_FILENO)) {
        const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (null >= 0) {
            ::dup2(null, STDIN_FILENO);
            ::close(null);
        }
    }
    ~StdinFromNull() {
        if (m_saved >= 0) {
            ::dup2(m_saved, STDIN_FILENO);
            ::close(m_saved);
        }
    }
    StdinFromNull(const StdinFromNull&) = delete;
    StdinFromNull& operator=(const StdinFromNull&) = delete;

private:
    int m_saved;
};

}  // namespace

void backup(const QString& databasePath, const QString& backupPath, const LineHandler& onLine) {
    const QByteArray db = databasePath.toUtf8();
    const QByteArray file = backupPath.toUtf8();
    runService(
        [&](ThrowStatusWrapper* st, IXpbBuilder* spb) {
            spb->insertTag(st, isc_action_svc_backup);
            spb->insertString(st, isc_spb_dbname, db.constData());
            spb->insertString(st, isc_spb_bkp_file, file.constData());
            spb->insertInt(st, isc_spb_verbint, kRecordsPerLine);
        },
        onLine);
}

void restore(const QString& backupPath, const QString& databasePath, const LineHandler& onLine) {
    const QByteArray db = databasePath.toUtf8();
    const QByteArray file = backupPath.toUtf8();
    // A backup file that ends early is taken for the first of several volumes: the embedded
    // service then asks for the next one on the process's own console and, given no answer,
    // stops without reporting a failure. Its standard input is the null device meanwhile, so it
    // never waits for a person, and only a restore that reports its last step counts as done.
    StdinFromNull quiet;
    bool finished = false;
    runService(
        [&](ThrowStatusWrapper* st, IXpbBuilder* spb) {
            spb->insertTag(st, isc_action_svc_restore);
            spb->insertString(st, isc_spb_bkp_file, file.constData());
            spb->insertString(st, isc_spb_dbname, db.constData());
            spb->insertInt(st, isc_spb_options, isc_spb_res_create);
            spb->insertInt(st, isc_spb_verbint, kRecordsPerLine);
        },
        [&](const QString& line) {
            if (line.contains(QLatin1String("finishing, closing, and going home")))
                finished = true;
            if (onLine)
                onLine(line);
        });
    if (!finished)
        throw DbError(QStringLiteral(
            "復元が最後まで進みませんでした。バックアップファイルが途中で切れているようです。"));
}

void sweep(const QString& databasePath) {
    const QByteArray db = databasePath.toUtf8();
    runService(
        [&](ThrowStatusWrapper* st, IXpbBuilder* spb) {
            spb->insertTag(st, isc_action_svc_repair);
            spb->insertString(st, isc_spb_dbname, db.constData());
            spb->insertInt(st, isc_spb_options, isc_spb_rpr_sweep_db);
        },
        {});
}

Validation validate(const QString& databasePath, CheckMode mode) {
    const QByteArray db = databasePath.toUtf8();
    Validation result;
    try {
        runService(
            [&](ThrowStatusWrapper* st, IXpbBuilder* spb) {
                spb->insertTag(st, isc_action_svc_repair);
                spb->insertString(st, isc_spb_dbname, db.constData());
                spb->insertInt(st, isc_spb_options,
                               isc_spb_rpr_validate_db | isc_spb_rpr_full |
                                   (mode == CheckMode::ReadOnly ? isc_spb_rpr_check_db : 0));
            },
            [&](const QString& line) { result.lines << line; });
    } catch (const DbError& e) {
        // Anything found, warnings alone included, ends the service with a failure whose text is
        // the summary; only a failure without one means the check did not run.
        const QString text = QString::fromUtf8(e.what());
        if (!text.contains(QLatin1String("Summary of validation errors")))
            throw;
        result.lines += text.split(QLatin1Char('\n'));
    }
    // The summary counts per kind: "Number of record level errors : 2", "... warnings : 1".
    static const QRegularExpression count(QStringLiteral("Number of .*errors\\s*:\\s*(\\d+)"));
    for (const QString& line : std::as_const(result.lines))
        if (const QRegularExpressionMatch m = count.match(line); m.hasMatch())
            result.errors += m.captured(1).toInt();
    return result;
}

namespace {

// A read-only connection of the database module's account to another card file.
struct Connection {
    DbConnection db;
    DbTransaction tr{db};
    DbStatement q{db, tr};
    explicit Connection(const QString& path) {
        db.databaseName = path;
        db.setDefaultTransaction(&tr);
        db.params = {QStringLiteral("user_name=%1").arg(QLatin1String(kUser)),
                     QStringLiteral("password=%1").arg(QLatin1String(kPassword)),
                     QStringLiteral("lc_ctype=UTF8")};
        tr.params = {QStringLiteral("read"), QStringLiteral("concurrency"), QStringLiteral("wait")};
        db.open();
    }
    int number(const char* sql) {
        q.sql.clear();
        q.sql.add(QString::fromUtf8(sql));
        q.open();
        const int n = q.fieldAt(0).toInt();
        q.close();
        return n;
    }
    void close() {
        tr.commit();
        db.close();
    }
};

}  // namespace

int largestCardKey(const QString& databasePath) {
    Connection c(databasePath);
    const int key = c.number("SELECT COALESCE(MAX(KEY1), 0) FROM MST_CAR");
    c.close();
    return key;
}

CardFileFacts inspectCardFile(const QString& databasePath) {
    Connection c(databasePath);
    CardFileFacts facts;
    facts.hasCardTable =
        c.number("SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'MST_CAR'") == 1;
    facts.hasKeyTrigger = c.number(
                              "SELECT COUNT(*) FROM RDB$TRIGGERS WHERE RDB$TRIGGER_NAME = 'TRG_CAR' "
                              "AND RDB$RELATION_NAME = 'MST_CAR'") == 1;
    if (facts.hasCardTable)
        facts.cards = c.number("SELECT COUNT(*) FROM MST_CAR");
    c.close();
    return facts;
}

}  // namespace fbservices

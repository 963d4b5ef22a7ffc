// The engine's backup and restore services through the client's service manager. In embedded
// mode the service runs inside this process's engine, so it shares the engine (and its open
// files) with the program's own connection.

#include "fbservices.h"

#include "ibobjects.h"

#include <firebird/Interface.h>
#include <ibase.h>

using namespace Firebird;

namespace fbservices {

namespace {

// The account the database module connects with; the services need the same one.
const char* const kUser = "SYSDBA";
const char* const kPassword = "quintlake";

IMaster* master() {
    static IMaster* m = fb_get_master_interface();
    return m;
}

QString formatStatus(const IStatus* status) {
    char buf[2048];
    master()->getUtilInterface()->formatStatus(buf, sizeof buf, const_cast<IStatus*>(status));
    return QString::fromUtf8(buf).trimmed();
}

// Attaches to the service manager, starts the action the builder describes and hands on every
// report line until the service ends. A failure of the service comes back from the query that
// reads past its last line.
void runService(const std::function<void(ThrowStatusWrapper*, IXpbBuilder*)>& describe,
                const LineHandler& onLine) {
    ThrowStatusWrapper st(master()->getStatus());
    IService* svc = nullptr;
    IXpbBuilder* spb = nullptr;
    try {
        IUtil* util = master()->getUtilInterface();
        spb = util->getXpbBuilder(&st, IXpbBuilder::SPB_ATTACH, nullptr, 0);
        spb->insertString(&st, isc_spb_user_name, kUser);
        spb->insertString(&st, isc_spb_password, kPassword);
        svc = master()->getDispatcher()->attachServiceManager(&st, "service_mgr", spb->getBufferLength(&st),
                                                              spb->getBuffer(&st));
        spb->dispose();
        spb = util->getXpbBuilder(&st, IXpbBuilder::SPB_START, nullptr, 0);
        describe(&st, spb);
        svc->start(&st, spb->getBufferLength(&st), spb->getBuffer(&st));
        spb->dispose();
        spb = nullptr;

        const unsigned char items[] = {isc_info_svc_line};
        unsigned char out[8192];
        for (;;) {
            svc->query(&st, 0, nullptr, sizeof items, items, sizeof out, out);
            if (out[0] != isc_info_svc_line)
                break;
            const unsigned length = unsigned(out[1]) | (unsigned(out[2]) << 8);
            if (length == 0)
                break;
            if (onLine)
                onLine(QString::fromUtf8(reinterpret_cast<const char*>(out + 3), int(length)));
        }
        svc->detach(&st);
        svc = nullptr;
    } catch (const FbException& e) {
        const QString text = formatStatus(e.getStatus());
        if (spb)
            spb->dispose();
        if (svc)
            svc->release();
        st.dispose();
        throw DbError(text);
    }
    st.dispose();
}

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
    runService(
        [&](ThrowStatusWrapper* st, IXpbBuilder* spb) {
            spb->insertTag(st, isc_action_svc_restore);
            spb->insertString(st, isc_spb_bkp_file, file.constData());
            spb->insertString(st, isc_spb_dbname, db.constData());
            spb->insertInt(st, isc_spb_options, isc_spb_res_create);
            spb->insertInt(st, isc_spb_verbint, kRecordsPerLine);
        },
        onLine);
}

CardFileFacts inspectCardFile(const QString& databasePath) {
    TIBDatabase db;
    TIBTransaction tr(db);
    TIBQuery q(db, tr);
    db.DatabaseName = databasePath;
    db.DefaultTransaction = &tr;
    db.Params = {QStringLiteral("user_name=%1").arg(QLatin1String(kUser)),
                 QStringLiteral("password=%1").arg(QLatin1String(kPassword)),
                 QStringLiteral("lc_ctype=UTF8")};
    tr.Params = {QStringLiteral("read"), QStringLiteral("concurrency"), QStringLiteral("wait")};
    db.Open();
    auto count = [&](const char* sql) {
        q.SQL.Clear();
        q.SQL.Add(QString::fromUtf8(sql));
        q.Open();
        const int n = q.Fields(0).AsInteger();
        q.Close();
        return n;
    };
    CardFileFacts facts;
    facts.hasCardTable = count("SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'MST_CAR'") == 1;
    facts.hasKeyTrigger = count(
                              "SELECT COUNT(*) FROM RDB$TRIGGERS WHERE RDB$TRIGGER_NAME = 'TRG_CAR' "
                              "AND RDB$RELATION_NAME = 'MST_CAR'") == 1;
    if (facts.hasCardTable)
        facts.cards = count("SELECT COUNT(*) FROM MST_CAR");
    tr.Commit();
    db.Close();
    return facts;
}

}  // namespace fbservices

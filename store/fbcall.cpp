// The client library's call wrapper: status objects, the failure's meaning and its text.

#include "fbcall.h"

#include "engineprocess.h"

#include <QDir>

#include <ibase.h>

#include <cerrno>

using namespace Firebird;

namespace fbcall {

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

DbError describe(const DbError& e, const QString& databaseName, bool attaching) {
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
}  // namespace fbcall

#include "dm1.h"

#include <QDir>

TDM1* DM1 = nullptr;

TDM1::TDM1(const QString& workingDirectory)
    : m_path(QDir::toNativeSeparators(workingDirectory + QStringLiteral("/data/DATA.FDB"))) {}

TDM1::~TDM1() {
    try {
        IBDatabase1.Close();
    } catch (const DbError&) {
        // Nothing can be reported on the way out.
    }
}

void TDM1::DataModuleCreate() {
    IBDatabase1.DefaultTransaction = &IBTransaction1;
    IBDatabase1.DatabaseName = m_path;
    IBDatabase1.Params = {QStringLiteral("user_name=SYSDBA"), QStringLiteral("password=quintlake"),
                          QStringLiteral("lc_ctype=UTF8")};
    IBDatabase1.SQLDialect = 3;
    IBTransaction1.Params = {QStringLiteral("read_committed"), QStringLiteral("no_rec_version"),
                             QStringLiteral("wait")};
    IBDatabase1.Open();
}

#include "testdb.h"

#include "carddatabase.h"
#include "dbstatement.h"
#include "schemascript.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <stdexcept>

namespace testdb {

namespace {

// A card file as another program makes it: plain UTF-8 columns without the case-insensitive
// collation, no key constraint, and a key trigger that numbers every inserted row itself.
const char* const kForeignSchema = R"sql(
CREATE TABLE MST_CAR (
    KEY1     INTEGER,
    SYASYU   VARCHAR(150)  CHARACTER SET UTF8,
    HURIGANA VARCHAR(150)  CHARACTER SET UTF8,
    KATABAN  VARCHAR(150)  CHARACTER SET UTF8,
    KYORI    VARCHAR(150)  CHARACTER SET UTF8,
    KINGAKU  VARCHAR(100)  CHARACTER SET UTF8,
    MEMO     VARCHAR(5000) CHARACTER SET UTF8,
    LYEAR    VARCHAR(4)    CHARACTER SET UTF8,
    LMONTH   VARCHAR(2)    CHARACTER SET UTF8,
    LDAY     VARCHAR(2)    CHARACTER SET UTF8,
    DEL_FLG1 VARCHAR(2)    CHARACTER SET UTF8
);
SET TERM ^ ;
CREATE TRIGGER TRG_CAR FOR MST_CAR ACTIVE BEFORE INSERT POSITION 0
AS
BEGIN
    SELECT COALESCE(MAX(KEY1), 0) + 1 FROM MST_CAR INTO NEW.KEY1;
END^
SET TERM ; ^
)sql";

QString makeTemplate(Kind kind) {
    static QTemporaryDir templateDir;
    configureEmbeddedEngine();
    const QString path = templateDir.filePath(kind == Kind::Ours ? "ours.fdb" : "foreign.fdb");
    if (kind == Kind::Foreign) {
        try {
            createDatabaseFile(path, splitSqlScript(QString::fromUtf8(kForeignSchema)), true);
        } catch (const DbError& e) {
            throw std::runtime_error(std::string("foreign card file: ") + e.what());
        }
        return path;
    }
    QProcess tool;
    tool.start(toolPath(), {path});
    if (!tool.waitForFinished(60000) || tool.exitCode() != 0)
        throw std::runtime_error("mkcarddb failed: " + tool.readAllStandardError().toStdString());
    return path;
}

}  // namespace

const char* foreignSchema() {
    return kForeignSchema;
}

QString toolPath() {
    return QStringLiteral(MKCARDDB_PATH);
}

Kind defaultKind() {
    return qgetenv("TAVRONA_TEST_CARDFILE") == "foreign" ? Kind::Foreign : Kind::Ours;
}

QString create(const QString& dir) {
    return create(dir, defaultKind());
}

QString create(const QString& dir, Kind kind) {
    static QString templates[2];
    QString& templatePath = templates[kind == Kind::Ours ? 0 : 1];
    if (templatePath.isEmpty())
        templatePath = makeTemplate(kind);
    QDir().mkpath(dir + QStringLiteral("/data"));
    const QString target = dir + QStringLiteral("/data/DATA.FDB");
    QFile::remove(target);
    if (!QFile::copy(templatePath, target))
        throw std::runtime_error("cannot copy the template database");
    QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
    return target;
}

QMap<int, CardRow> committedCards(const QString& cardFolder) {
    static const QStringList columns{"KEY1", "SYASYU", "HURIGANA", "KATABAN", "KYORI",   "KINGAKU",
                                     "MEMO", "LYEAR",  "LMONTH",   "LDAY",    "DEL_FLG1"};
    CardDatabase reader(cardFolder);
    reader.open();
    DbStatement& q = reader.statement;
    q.sql.clear();
    q.sql.add(QStringLiteral("SELECT ") + columns.join(QLatin1String(", ")) +
              QStringLiteral(" FROM MST_CAR ORDER BY KEY1"));
    q.open();
    QMap<int, CardRow> cards;
    q.last();
    while (!q.beforeFirst()) {
        CardRow row;
        for (const QString& c : columns)
            row[c] = q.field(c).text();
        cards[row["KEY1"].toInt()] = row;
        q.prior();
    }
    q.close();
    return cards;
}

}  // namespace testdb

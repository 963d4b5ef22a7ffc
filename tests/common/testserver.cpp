#include "testserver.h"

#include "testdb.h"

#include <QDir>
#include <QFile>
#include <QThread>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace {

const QString kInstall = QStringLiteral("/usr/lib/x86_64-linux-gnu/firebird/3.0");
const QString kServer = QStringLiteral("/usr/sbin/firebird");

int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

bool accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(quint16(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

void fail(const QString& what) {
    throw std::runtime_error(what.toStdString());
}

}  // namespace

QString TestServer::password(const QString& user) {
    return user.toLower() + QStringLiteral("-pw");
}

TestServer::TestServer(const QStringList& users) {
    if (!m_root.isValid())
        fail("no temporary folder for the server");
    const QDir root(m_root.path());
    root.mkdir("lock");
    root.mkdir("tmp");
    for (const char* file : {"plugins.conf", "firebird.msg", "databases.conf"}) {
        if (!QFile::copy(kInstall + "/" + file, root.filePath(file)))
            fail(QStringLiteral("cannot copy %1 of the server").arg(file));
    }
    QFile::link(kInstall + "/intl", root.filePath("intl"));
    QFile::link(kInstall + "/plugins", root.filePath("plugins"));
    m_port = freePort();
    QFile conf(root.filePath("firebird.conf"));
    if (!conf.open(QIODevice::WriteOnly))
        fail("cannot write firebird.conf");
    conf.write(QStringLiteral("RemoteServicePort = %1\nRemoteBindAddress = 127.0.0.1\n"
                              "SecurityDatabase = %2\nServerMode = Super\n")
                   .arg(m_port)
                   .arg(root.filePath("security3.fdb"))
                   .toUtf8());
    conf.close();
    QString script = QStringLiteral(
                         "CREATE DATABASE '%1';\n"
                         "CREATE OR ALTER USER SYSDBA PASSWORD 'masterkey' USING PLUGIN Srp;\n")
                         .arg(root.filePath("security3.fdb"));
    for (const QString& user : users)
        script += QStringLiteral("CREATE OR ALTER USER %1 PASSWORD '%2' USING PLUGIN Srp;\n")
                      .arg(user, password(user));
    runIsql(QString(), script + "COMMIT;\n");
}

TestServer::~TestServer() {
    stop();
}

void TestServer::runIsql(const QString& database, const QString& script) {
    QProcess isql;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("FIREBIRD", m_root.path());
    env.insert("FIREBIRD_LOCK", m_root.filePath("lock"));
    env.insert("FIREBIRD_TMP", m_root.filePath("tmp"));
    isql.setProcessEnvironment(env);
    QStringList args{"-q", "-bail", "-user", "SYSDBA"};
    if (!database.isEmpty())
        args << database;
    isql.start("isql-fb", args);
    isql.write(script.toUtf8());
    isql.closeWriteChannel();
    if (!isql.waitForFinished(60000) || isql.exitCode() != 0)
        fail("isql-fb: " + QString::fromUtf8(isql.readAllStandardError() + isql.readAllStandardOutput()));
}

QString TestServer::makeCardFile(const QString& name) {
    const QString folder = m_root.filePath("cards-" + name);
    return serve(testdb::create(folder));
}

QString TestServer::serve(const QString& path) {
    runIsql(path, "GRANT SELECT, INSERT, UPDATE, DELETE ON MST_CAR TO PUBLIC;\nCOMMIT;\n");
    return QStringLiteral("127.0.0.1/%1:%2").arg(m_port).arg(path);
}

void TestServer::start() {
    if (running())
        return;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("FIREBIRD", m_root.path());
    env.insert("FIREBIRD_LOCK", m_root.filePath("lock"));
    env.insert("FIREBIRD_TMP", m_root.filePath("tmp"));
    m_process.setProcessEnvironment(env);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setStandardErrorFile(QProcess::nullDevice());
    m_process.start(kServer, {});
    if (!m_process.waitForStarted(10000))
        fail("the Firebird server did not start");
    for (int i = 0; i < 800 && !accepts(m_port); ++i) {  // up to 20 s on a busy machine
        if (!running())
            fail("the Firebird server ended at once");
        QThread::msleep(25);
    }
    if (!accepts(m_port))
        fail("the Firebird server does not listen");
}

void TestServer::stop() {
    if (!running())
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();  // it sometimes never ends on TERM
        m_process.waitForFinished(3000);
    }
}

void TestServer::kill() {
    if (!running())
        return;
    m_process.kill();
    m_process.waitForFinished(3000);
}

#pragma once
// A real Firebird server for tests of team use: started in the foreground on a free local port
// with its own configuration, lock folder and security database, and stopped when destroyed.

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

class TestServer final {
public:
    // Users the server knows besides SYSDBA, each with the password "<name>-pw" in lower case.
    explicit TestServer(const QStringList& users = {QStringLiteral("ALICE"), QStringLiteral("BOB")});
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    // Makes an empty card file with the creation tool, with the rights the users need, and
    // returns it as a server connection string "127.0.0.1/PORT:/path". Call while stopped.
    QString makeCardFile(const QString& name = QStringLiteral("DATA.FDB"));
    // An existing card file given the users' rights, as a server connection string. Call while
    // stopped.
    QString serve(const QString& path);
    void start();
    void stop();  // TERM, then KILL if it does not end
    void kill();  // as a crash or a pulled cable would
    bool running() const { return m_process.state() != QProcess::NotRunning; }
    int port() const { return m_port; }
    QString root() const { return m_root.path(); }
    static QString password(const QString& user);

private:
    void runIsql(const QString& database, const QString& script);
    QTemporaryDir m_root;
    QProcess m_process;
    int m_port = 0;
};

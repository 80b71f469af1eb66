#pragma once

// A real PostgreSQL server for tests and benchmarks: a fresh cluster in a temporary folder,
// listening on 127.0.0.1 only, on a port nobody else holds. The server refuses to run as root,
// so a root process runs its programs as the postgres system user.

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>

#include <pwd.h>
#include <unistd.h>

class PostgresTestServer
{
public:
    ~PostgresTestServer() { stop(); }

    // The newest Debian server package's programs (a newer client-only package has no initdb).
    static QString binDir()
    {
        const QDir root(QStringLiteral("/usr/lib/postgresql"));
        const QStringList versions =
            root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::Reversed);
        for (const QString &version : versions) {
            if (QFileInfo(root.filePath(version + "/bin/initdb")).isExecutable())
                return root.filePath(version + "/bin");
        }
        return root.filePath(QStringLiteral("15/bin"));
    }

    static bool available() { return QFileInfo(binDir() + "/initdb").isExecutable(); }

    // Makes the cluster and starts it; `error` holds the tools' words when not.
    bool create(QString *error)
    {
        const passwd *user = getuid() == 0 ? getpwnam("postgres") : nullptr;
        if (!m_dir.isValid() ||
            (getuid() == 0 && (!user || chown(QFile::encodeName(m_dir.path()).constData(),
                                              user->pw_uid, user->pw_gid) != 0))) {
            *error = QStringLiteral("no temporary folder the postgres user may use");
            return false;
        }
        if (!run("initdb",
                 {"-D", dataDir(), "-A", "trust", "-U", "postgres", "-E", "UTF8", "--locale=C",
                  "--no-sync"},
                 error))
            return false;
        // A port bound and let go just now is free unless someone takes it in between.
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        m_port = probe.serverPort();
        probe.close();
        return start(error);
    }

    bool start(QString *output = nullptr)
    {
        const QString options =
            QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off")
                .arg(m_port)
                .arg(m_dir.path());
        m_running =
            run("pg_ctl",
                {"-D", dataDir(), "-o", options, "-l", m_dir.filePath("server.log"), "-w", "start"},
                output);
        return m_running;
    }

    bool stop()
    {
        if (m_running)
            m_running = !run("pg_ctl", {"-D", dataDir(), "-m", "fast", "-w", "stop"});
        return !m_running;
    }

    // A new, empty database; its journal URL.
    QString createDatabase(const QString &name)
    {
        const QStringList args{"-h", "127.0.0.1", "-p", QString::number(m_port), "-U", "postgres"};
        return run("createdb", args + QStringList{name}) ? url(name) : QString();
    }

    [[nodiscard]] QString url(const QString &database) const
    {
        return QStringLiteral("postgresql://postgres@127.0.0.1:%1/%2").arg(m_port).arg(database);
    }

private:
    [[nodiscard]] QString dataDir() const { return m_dir.filePath(QStringLiteral("data")); }

    static bool run(const QString &tool, QStringList arguments, QString *output = nullptr)
    {
        QString program = binDir() + QLatin1Char('/') + tool;
        if (getuid() == 0) {
            arguments = QStringList{"-u", "postgres", "--", program} + arguments;
            program = QStringLiteral("runuser");
        }
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, arguments);
        const bool finished = process.waitForFinished(60000);
        if (output)
            *output = QString::fromLocal8Bit(process.readAll());
        return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }

    QTemporaryDir m_dir;
    quint16 m_port = 0;
    bool m_running = false;
};

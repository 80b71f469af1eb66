#pragma once

// A real PostgreSQL server for tests and benchmarks: a fresh cluster in a temporary folder,
// listening on 127.0.0.1 only, on a port nobody else holds. The server refuses to run as root,
// so a root process runs its programs as the postgres system user.

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>

#include <algorithm>
#include <memory>

#include <pwd.h>
#include <unistd.h>

class PostgresTestServer
{
public:
    ~PostgresTestServer() { stop(); }

    // Where initdb and pg_ctl are: $VELQA_PG_BIN, else the newest Debian package that has them
    // (a newer client-only package has no initdb).
    static QString binDir()
    {
        QString bin = qEnvironmentVariable("VELQA_PG_BIN");
        if (!bin.isEmpty())
            return bin;
        QStringList versions = QDir(QStringLiteral("/usr/lib/postgresql"))
                                   .entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        std::sort(versions.begin(), versions.end(),
                  [](const QString &a, const QString &b) { return a.toInt() > b.toInt(); });
        for (const QString &version : versions) {
            bin = QStringLiteral("/usr/lib/postgresql/%1/bin").arg(version);
            if (QFileInfo(bin + QStringLiteral("/initdb")).isExecutable())
                return bin;
        }
        return QStringLiteral("/usr/lib/postgresql/15/bin");
    }

    static bool available()
    {
        return QFileInfo(binDir() + QStringLiteral("/initdb")).isExecutable() &&
               QFileInfo(binDir() + QStringLiteral("/pg_ctl")).isExecutable();
    }

    // Makes the cluster and starts it; `error` says why not.
    bool create(QString *error)
    {
        const auto fail = [error](const QString &why) {
            *error = why;
            return false;
        };
        m_dir = std::make_unique<QTemporaryDir>();
        if (!m_dir->isValid())
            return fail(QStringLiteral("no temporary folder"));
        const passwd *user = getuid() == 0 ? getpwnam("postgres") : nullptr;
        if (getuid() == 0 && (!user || chown(QFile::encodeName(m_dir->path()).constData(),
                                             user->pw_uid, user->pw_gid) != 0))
            return fail(QStringLiteral("cannot hand the folder to the postgres user"));
        QString output;
        if (!run("initdb",
                 {"-D", dataDir(), "-A", "trust", "-U", "postgres", "-E", "UTF8", "--locale=C",
                  "--no-sync"},
                 &output))
            return fail(QStringLiteral("initdb failed: ") + output);
        // A port bound and let go just now is free unless someone takes it in between: then
        // the next one is tried.
        for (int attempt = 0; attempt < 3; ++attempt) {
            QTcpServer probe;
            if (!probe.listen(QHostAddress::LocalHost, 0))
                continue;
            m_port = probe.serverPort();
            probe.close();
            if (start(&output))
                return true;
        }
        return fail(QStringLiteral("the server did not start: ") + output);
    }

    bool start(QString *output = nullptr)
    {
        const QString options =
            QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off")
                .arg(m_port)
                .arg(m_dir->path());
        m_running = run("pg_ctl",
                        {"-D", dataDir(), "-o", options, "-l",
                         m_dir->filePath(QStringLiteral("server.log")), "-w", "start"},
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
        return run("createdb",
                   {"-h", "127.0.0.1", "-p", QString::number(m_port), "-U", "postgres", name})
                   ? url(name)
                   : QString();
    }

    [[nodiscard]] QString url(const QString &database) const
    {
        return QStringLiteral("postgresql://postgres@127.0.0.1:%1/%2").arg(m_port).arg(database);
    }

private:
    [[nodiscard]] QString dataDir() const { return m_dir->filePath(QStringLiteral("data")); }

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

    std::unique_ptr<QTemporaryDir> m_dir;
    quint16 m_port = 0;
    bool m_running = false;
};

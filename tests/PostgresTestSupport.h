#pragma once

// A real PostgreSQL server for tests and benchmarks: a fresh cluster in a temporary folder,
// listening on 127.0.0.1 only, on a port nobody else holds. The server refuses to run as root,
// so a root process runs it as the postgres system user.

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>

#include <memory>

#include <pwd.h>
#include <unistd.h>

class PostgresTestServer
{
public:
    ~PostgresTestServer() { stop(); }

    // Where initdb and pg_ctl are: $VELQA_PG_BIN, else Debian's newest server package.
    static QString binDir()
    {
        const QString fromEnvironment = qEnvironmentVariable("VELQA_PG_BIN");
        if (!fromEnvironment.isEmpty())
            return fromEnvironment;
        const QDir versions(QStringLiteral("/usr/lib/postgresql"));
        QStringList found = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        std::sort(found.begin(), found.end(),
                  [](const QString &a, const QString &b) { return a.toInt() > b.toInt(); });
        for (const QString &version : found) {
            const QString bin = versions.filePath(version + QStringLiteral("/bin"));
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
        m_dir = std::make_unique<QTemporaryDir>();
        if (!m_dir->isValid())
            return fail(error, QStringLiteral("no temporary folder"));
        if (getuid() == 0) {
            const passwd *user = getpwnam("postgres");
            if (!user || chown(QFile::encodeName(m_dir->path()).constData(), user->pw_uid,
                               user->pw_gid) != 0)
                return fail(error, QStringLiteral("cannot hand the folder to the postgres user"));
        }
        QString output;
        if (!run(QStringLiteral("initdb"),
                 {QStringLiteral("-D"), dataDir(), QStringLiteral("-A"), QStringLiteral("trust"),
                  QStringLiteral("-U"), QStringLiteral("postgres"), QStringLiteral("-E"),
                  QStringLiteral("UTF8"), QStringLiteral("--locale=C"),
                  QStringLiteral("--no-sync")},
                 &output))
            return fail(error, QStringLiteral("initdb failed: ") + output);
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
        return fail(error, QStringLiteral("the server did not start: ") + output);
    }

    bool start(QString *output = nullptr)
    {
        const QString options =
            QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off")
                .arg(m_port)
                .arg(m_dir->path());
        m_running = run(QStringLiteral("pg_ctl"),
                        {QStringLiteral("-D"), dataDir(), QStringLiteral("-o"), options,
                         QStringLiteral("-l"), m_dir->filePath(QStringLiteral("server.log")),
                         QStringLiteral("-w"), QStringLiteral("start")},
                        output);
        return m_running;
    }

    bool stop()
    {
        if (!m_running)
            return true;
        m_running = !run(QStringLiteral("pg_ctl"),
                         {QStringLiteral("-D"), dataDir(), QStringLiteral("-m"),
                          QStringLiteral("fast"), QStringLiteral("-w"), QStringLiteral("stop")});
        return !m_running;
    }

    // A new, empty database; its journal URL.
    QString createDatabase(const QString &name)
    {
        QProcess process;
        process.start(binDir() + QStringLiteral("/createdb"),
                      {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                       QString::number(m_port), QStringLiteral("-U"), QStringLiteral("postgres"),
                       name});
        if (!process.waitForFinished(30000) || process.exitCode() != 0)
            return QString();
        return url(name);
    }

    [[nodiscard]] QString url(const QString &database) const
    {
        return QStringLiteral("postgresql://postgres@127.0.0.1:%1/%2").arg(m_port).arg(database);
    }
    [[nodiscard]] quint16 port() const { return m_port; }
    [[nodiscard]] QString log() const
    {
        QFile file(m_dir->filePath(QStringLiteral("server.log")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private:
    [[nodiscard]] QString dataDir() const { return m_dir->filePath(QStringLiteral("data")); }

    static bool fail(QString *error, const QString &why)
    {
        if (error)
            *error = why;
        return false;
    }

    bool run(const QString &tool, const QStringList &arguments, QString *output = nullptr)
    {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        const QString program = binDir() + QLatin1Char('/') + tool;
        if (getuid() == 0)
            process.start(QStringLiteral("runuser"),
                          QStringList{QStringLiteral("-u"), QStringLiteral("postgres"),
                                      QStringLiteral("--"), program} +
                              arguments);
        else
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

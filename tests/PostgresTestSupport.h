#pragma once

// A real PostgreSQL server for tests and benchmarks: a fresh cluster in a temporary folder,
// listening on 127.0.0.1 only, on a port nobody else holds. The server refuses to run as root,
// so a root process runs its programs as the postgres system user. Every role logs in without a
// password but PasswordRole, which needs its password (PasswordRoleSecret).

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <pwd.h>
#include <unistd.h>

class PostgresTestServer
{
public:
    static constexpr char PasswordRole[] = "velqa_pw";
    static constexpr char PasswordRoleSecret[] = "right-one";

    ~PostgresTestServer()
    {
        resume();
        stop();
    }

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
        // The first matching line decides: one role must give its password.
        QFile hba(dataDir() + QStringLiteral("/pg_hba.conf"));
        if (!hba.open(QIODevice::ReadOnly)) {
            *error = hba.errorString();
            return false;
        }
        const QByteArray rules = hba.readAll();
        hba.close();
        if (!hba.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            hba.write(QByteArray("host all ") + PasswordRole + " 127.0.0.1/32 scram-sha-256\n" +
                      rules) < 0) {
            *error = hba.errorString();
            return false;
        }
        hba.close();
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

    [[nodiscard]] QString url(const QString &database, const QString &role = "postgres") const
    {
        return QStringLiteral("postgresql://%1@127.0.0.1:%2/%3")
            .arg(role)
            .arg(m_port)
            .arg(database);
    }

    // Runs SQL as the superuser in `database`; psql's words in `output`.
    bool sql(const QString &database, const QString &statements, QString *output = nullptr)
    {
        return run("psql",
                   {"-h", "127.0.0.1", "-p", QString::number(m_port), "-U", "postgres", "-d",
                    database, "-v", "ON_ERROR_STOP=1", "-q", "-c", statements},
                   output);
    }

    // The server and every backend stop where they are, as on a host that hangs, until resume().
    bool pause() { return signalAll(SIGSTOP); }
    bool resume() { return signalAll(SIGCONT); }

private:
    [[nodiscard]] QString dataDir() const { return m_dir.filePath(QStringLiteral("data")); }

    // The server's main process (first line of postmaster.pid) and its children.
    bool signalAll(int signal)
    {
        QFile pidFile(dataDir() + QStringLiteral("/postmaster.pid"));
        if (!m_running || !pidFile.open(QIODevice::ReadOnly))
            return false;
        const int main = pidFile.readLine().trimmed().toInt();
        QList<int> pids{main};
        for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
            if (!stat.open(QIODevice::ReadOnly))
                continue;
            // "pid (name) state ppid ...": the name may hold spaces, the last ')' ends it.
            const QByteArray text = stat.readAll();
            const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
            if (fields.size() > 1 && fields[1].toInt() == main)
                pids << entry.toInt();
        }
        bool ok = main > 0;
        // A child that ended since the listing (a parallel or autovacuum worker) is no failure.
        for (const int pid : pids)
            ok = (::kill(pid, signal) == 0 || (pid != main && errno == ESRCH)) && ok;
        return ok;
    }

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

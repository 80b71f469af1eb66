#pragma once

// Runs the command line in the test's process with its output and error streams in memory.

#include "Cli.h"
#include "Console.h"
#include "HostResolver.h"

#include <QBuffer>
#include <QHash>
#include <QMutex>
#include <QStringList>

// Answers from a table of names, later from the event loop as a real lookup does; no query
// leaves the machine.
class FakeResolver : public HostResolver
{
public:
    QHash<QString, QList<QHostAddress>> names;
    QStringList asked;

    // Module jobs ask from their own threads.
    bool Lookup(const QString &host, QObject *context, Done done) override
    {
        QMutexLocker lock(&m_mutex);
        asked << host;
        const QList<QHostAddress> answer = names.value(host.toLower());
        lock.unlock();
        QMetaObject::invokeMethod(
            context, [done, answer] { done(answer); }, Qt::QueuedConnection);
        return true;
    }

private:
    QMutex m_mutex;
};

struct CliRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

// Output and error go to `outDevice` and `errDevice` when given (left out of the run's texts),
// otherwise to memory. The modules' waits run on `clock` when given.
inline CliRun runCli(const QStringList &arguments, bool errIsTerminal = false,
                     HostResolver *resolver = nullptr, QIODevice *outDevice = nullptr,
                     QIODevice *errDevice = nullptr, const Clock *clock = nullptr)
{
    QBuffer out;
    QBuffer err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    Console console(outDevice ? outDevice : &out, errDevice ? errDevice : &err, errIsTerminal);
    CliRun run;
    run.exitCode =
        RunCli(QStringList{QStringLiteral("velqa-cli")} + arguments, console, resolver, clock);
    run.out = QString::fromUtf8(out.data());
    run.err = QString::fromUtf8(err.data());
    return run;
}

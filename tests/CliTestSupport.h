#pragma once

// Runs the command line in the test's process with its output and error streams in memory.

#include "Cli.h"
#include "Console.h"

#include <QBuffer>
#include <QStringList>

struct CliRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

inline CliRun runCli(const QStringList &arguments, bool errIsTerminal = false)
{
    QBuffer out;
    QBuffer err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    Console console(&out, &err, errIsTerminal);
    CliRun run;
    run.exitCode = RunCli(QStringList{QStringLiteral("velqa-cli")} + arguments, console);
    run.out = QString::fromUtf8(out.data());
    run.err = QString::fromUtf8(err.data());
    return run;
}

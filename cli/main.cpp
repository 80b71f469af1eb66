#include "Cli.h"
#include "Console.h"
#include "MessageCatalogue.h"

#include <QCoreApplication>
#include <QFile>

#include <sys/resource.h>
#include <unistd.h>

// Every module in flight holds a socket and its thread's event notifier: hundreds at once need
// more descriptors than the usual soft limit of 1024.
static void raiseDescriptorLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

int main(int argc, char *argv[])
{
    // The status texts come from the catalogue, in English: no stored language is read.
    (void)MessageCatalogue::instance();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velqa-cli"));
    raiseDescriptorLimit();

    QFile out;
    QFile err;
    out.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered);
    err.open(STDERR_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered);
    Console console(&out, &err, isatty(STDERR_FILENO) == 1);
    return RunCli(QCoreApplication::arguments(), console);
}

#include "Cli.h"
#include "Console.h"
#include "MessageCatalogue.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <cstring>

#include <unistd.h>

// --version before the command and its targets; everything else is the command line's own.
static bool asksForVersion(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            return false;
        if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-version") == 0)
            return true;
    }
    return false;
}

int main(int argc, char *argv[])
{
    if (asksForVersion(argc, argv)) {
        std::printf("velqa-cli %s\n", VELQA_VERSION);
        return 0;
    }
    // The status texts come from the catalogue, in English: no stored language is read.
    (void)MessageCatalogue::instance();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velqa-cli"));

    QFile out;
    QFile err;
    out.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered);
    err.open(STDERR_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered);
    Console console(&out, &err, isatty(STDERR_FILENO) == 1);
    return RunCli(QCoreApplication::arguments(), console);
}

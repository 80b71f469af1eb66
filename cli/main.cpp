#include "Cli.h"
#include "Console.h"
#include "MessageCatalogue.h"

#include <QCoreApplication>
#include <QFile>

#include <unistd.h>

int main(int argc, char *argv[])
{
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

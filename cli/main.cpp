#include "Cli.h"
#include "Console.h"
#include "MessageCatalogue.h"
#include "ModuleRunner.h"

#include <QCoreApplication>
#include <QFile>

#include <csignal>

#include <sys/ioctl.h>
#include <unistd.h>

// The first SIGINT or SIGTERM lets the run finish and report the modules in flight; a second
// one ends the program at once.
static void interrupted(int signal)
{
    RunInterruption &interruption = Interruption();
    interruption.signal.store(signal);
    interruption.requested.store(true);
}

static void handleInterruptions()
{
    (void)Interruption();
    struct sigaction action
    {
    };
    action.sa_handler = interrupted;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

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
    // Read at each drawing of the progress bar, so a resized terminal gets a bar that fits.
    console.setColumns([] {
        winsize size{};
        return ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? int(size.ws_col) : 0;
    });
    handleInterruptions();
    return RunCli(QCoreApplication::arguments(), console);
}

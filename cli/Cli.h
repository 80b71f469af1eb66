#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>
#include <memory>
#include <optional>

class Clock;
class Console;
class HostResolver;
class Journal;
class QCommandLineParser;
struct TargetModule;

// A report that could not be written ends the command as a usage error does.
enum class CliExit { AllSucceeded = 0, SomeFailed = 1, UsageError = 2 };

// The whole command: `arguments` as a program gets them (the program name first). Results go to
// the console's output, the trace and messages to its error stream. Host names are looked up
// through `resolver`, the system's when none is given; the modules' waits take their time from
// `clock`, the system's when none is given.
[[nodiscard]] int RunCli(const QStringList &arguments, Console &console,
                         HostResolver *resolver = nullptr, const Clock *clock = nullptr);

// What a command's handler gets: the command line parsed with the global options and the
// command's own, the arguments after the command's name, and where to write.
struct CliCall
{
    const QCommandLineParser &parser;
    QStringList arguments;
    Console &console;
    // Null: the system's.
    HostResolver *resolver = nullptr;
    const Clock *clock = nullptr;
};

// One command of velqa-cli. Adding a command is adding a row to CliCommands() and its handler;
// the parser, the help and the suggestions for a mistyped word follow from the rows.
struct CliCommandRow
{
    QString name;
    // Its line in velqa-cli --help.
    QString summary;
    // What velqa-cli NAME --help shows above the options.
    QString description;
    QList<QCommandLineOption> options;
    // How the arguments after the name are shown in the help ("[targets...]") and what they
    // are; empty when the command takes none.
    QString argumentsSyntax;
    QString argumentsHelp;
    std::function<int(const CliCall &)> run;
};

// Every command, in the order velqa-cli --help lists them. An option's name means the same in
// every command: it takes a value in all of them or in none.
[[nodiscard]] const QList<CliCommandRow> &CliCommands();
// The options every command takes: -h/--help and -v/--version.
[[nodiscard]] QList<QCommandLineOption> CliGlobalOptions();

// Writes "velqa-cli: MESSAGE" and where to find help (the command's, when given) to the error
// stream; returns the usage error's exit code. The message is written as it is: text from the
// command line or a file goes into it through CliQuoted().
int CliUsageError(Console &console, const QString &message, const QString &command = QString());
// "TEXT" escaped for the terminal and cut at 64 characters.
[[nodiscard]] QString CliQuoted(QStringView text);

// Default for --jobs, and the most it runs at once; fewer when the open files allow fewer. The
// default is what a 2-core station sustains with the simulator on the same cores: 10,000
// modules scanned fastest at 1024 of 128, 256, 512 and 1024, and 1,000 scanned at 1024 with
// every core kept busy by another program failed none (bench/bench_fleet.sh).
inline constexpr int DefaultJobs = 1024;
inline constexpr int MaxJobs = 1024;
// Merged targets are named on the error stream for this many modules at most.
inline constexpr int MaxMergeNotes = 10;
// A journal's trouble is said in one line of at most this many characters.
inline constexpr int MaxJournalNote = 1000;

// What the module commands share, for the commands built on them.
// The options of every module command.
[[nodiscard]] QList<QCommandLineOption> CliModuleOptions();
// Names on the error stream the targets that reach one module.
void CliNoteMergedTargets(Console &console, const QList<TargetModule> &modules);
// The modules that may run at once, as far as --jobs, the modules given and the open files
// allow: fewer than asked with a word on the error stream.
[[nodiscard]] int CliJobsAllowed(Console &console, int jobs, int modules);
// The run's journal, or none when it is turned off; its troubles go to the error stream.
[[nodiscard]] std::unique_ptr<Journal> CliOpenJournal(Console &console, const QString &givenUrl);
// --jobs and --port as given; none after a usage error written to the error stream.
struct CliRunLimits
{
    int jobs = 0;
    quint16 port = 0;
};
[[nodiscard]] std::optional<CliRunLimits> CliReadLimits(const CliCall &call);

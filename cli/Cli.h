#pragma once

#include <QStringList>

class Console;
class HostResolver;

// A report that could not be written ends the command as a usage error does.
enum class CliExit { AllSucceeded = 0, SomeFailed = 1, UsageError = 2 };

// The whole command: `arguments` as a program gets them (the program name first). Results go to
// the console's output, the trace and messages to its error stream. Host names are looked up
// through `resolver`, the system's when none is given.
[[nodiscard]] int RunCli(const QStringList &arguments, Console &console,
                         HostResolver *resolver = nullptr);

// Default for --jobs, and the most it runs at once; fewer when the open files allow fewer.
inline constexpr int DefaultJobs = 128;
inline constexpr int MaxJobs = 1024;
// Merged targets are named on the error stream for this many modules at most.
inline constexpr int MaxMergeNotes = 10;
// A journal's trouble is said in one line of at most this many characters.
inline constexpr int MaxJournalNote = 1000;

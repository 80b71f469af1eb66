#pragma once

#include <QStringList>

class Console;

enum class CliExit { AllSucceeded = 0, SomeFailed = 1, UsageError = 2 };

// The whole command: `arguments` as a program gets them (the program name first). Results go to
// the console's output, the trace and messages to its error stream.
[[nodiscard]] int RunCli(const QStringList &arguments, Console &console);

// Default for --jobs.
inline constexpr int DefaultJobs = 128;
inline constexpr int MaxJobs = 1024;

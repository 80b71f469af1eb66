#pragma once

#include "ModuleJob.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// A readable table, one row per module (for discover: only the modules found), errors below it
// and a summary line. With `withSlots`, each module's slot lines follow its row.
[[nodiscard]] QString FormatTable(const QList<ModuleResult> &results, CliCommand command,
                                  bool withSlots, qint64 wallMs);

// A JSON array with one object per module (for discover: per module found).
[[nodiscard]] QByteArray FormatJson(const QList<ModuleResult> &results, CliCommand command);

// A JUnit XML report: one test case per module, failed when its outcome was not a success.
[[nodiscard]] QByteArray FormatJunit(const QList<ModuleResult> &results, CliCommand command,
                                     qint64 wallMs, const QDateTime &started);

// One test case of a JUnit report: failed (or, for an error of the link, errored) when `failure`
// names an outcome. The name and errors are escaped here; the message and the lines of `output`
// come escaped (module bytes by the byte rule, texts by the text rule).
struct JunitCase
{
    QString name;
    qint64 durationMs = 0;
    QString failure;
    bool error = false;
    QString message;
    QStringList errors;
    QStringList output;
};
[[nodiscard]] QByteArray FormatJunitCases(const QString &command, const QList<JunitCase> &cases,
                                          qint64 wallMs, const QDateTime &started);

// One exchange as trace lines: the millisecond, the address, ">" sent or "<" received, up to 16
// bytes in hex and the same bytes as text (".", where a byte is not printable) side by side,
// continued on further lines for longer exchanges and cut after `maxBytes`.
[[nodiscard]] QStringList FormatTrace(qint64 ms, const QString &address,
                                      ModuleLink::WireDirection direction, const QByteArray &bytes,
                                      int maxBytes = 256);

// "1 module", "2 modules": the count and the word that goes with it.
[[nodiscard]] QString Counted(qsizetype count, const QString &one, const QString &many);

// The results to report: for discover only the modules found, otherwise all.
[[nodiscard]] QList<ModuleResult> ReportedResults(const QList<ModuleResult> &results,
                                                  CliCommand command);

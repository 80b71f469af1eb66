// The report's figures as JSON: the names here are the ones velqa-cli report --help and the
// README list.
#include "ReportRender.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

static QJsonValue bytesOrNull(const QByteArray &bytes)
{
    return bytes.isNull() ? QJsonValue(QJsonValue::Null) : QJsonValue(QString::fromLatin1(bytes));
}

static QJsonValue instant(const QDateTime &time)
{
    return time.isValid() ? QJsonValue(time.toUTC().toString(Qt::ISODateWithMs))
                          : QJsonValue(QJsonValue::Null);
}

static double shareOf(qint64 part, qint64 whole)
{
    return whole > 0 ? double(part) / double(whole) : 0.0;
}

static QJsonArray tallies(const QList<ReportTally> &list, const QString &keyName)
{
    QJsonArray array;
    for (const ReportTally &t : list)
        array.append(
            QJsonObject{{keyName, t.key},
                        {QStringLiteral("records"), t.records},
                        {QStringLiteral("successes"), t.successes},
                        {QStringLiteral("failures"), t.failures()},
                        {QStringLiteral("success_share"), shareOf(t.successes, t.records)},
                        {QStringLiteral("failure_share"), shareOf(t.failures(), t.records)}});
    return array;
}

QByteArray RenderReportJson(const ReportData &r)
{
    QJsonArray days;
    for (const ReportDay &day : r.days) {
        QJsonObject outcomes;
        for (auto it = day.outcomes.cbegin(); it != day.outcomes.cend(); ++it)
            outcomes.insert(it.key(), it.value());
        days.append(QJsonObject{{QStringLiteral("day"), day.day.toString(Qt::ISODate)},
                                {QStringLiteral("records"), day.records()},
                                {QStringLiteral("outcomes"), outcomes}});
    }
    QJsonArray versions;
    for (const ReportVersion &v : r.versions)
        versions.append(QJsonObject{{QStringLiteral("version"), bytesOrNull(v.version)},
                                    {QStringLiteral("modules"), v.modules}});
    QJsonArray failing;
    for (const ReportFailingModule &m : r.mostFailures)
        failing.append(QJsonObject{{QStringLiteral("serial"), bytesOrNull(m.serial)},
                                   {QStringLiteral("last_address"), m.lastAddress},
                                   {QStringLiteral("failures"), m.failures},
                                   {QStringLiteral("last_failure_status"), m.lastFailureStatus},
                                   {QStringLiteral("last_failure_time"), instant(m.lastFailure)}});
    QJsonArray durations;
    for (const ReportDuration &d : r.durations)
        durations.append(QJsonObject{{QStringLiteral("operation"), d.operation},
                                     {QStringLiteral("records"), d.records},
                                     {QStringLiteral("median_ms"), d.medianMs},
                                     {QStringLiteral("p95_ms"), d.p95Ms}});
    QJsonObject json{
        {QStringLiteral("since"), instant(r.query.since)},
        {QStringLiteral("until"), instant(r.query.until)},
        {QStringLiteral("time_zone"), QString::fromUtf8(r.query.zone.id())},
        {QStringLiteral("station"),
         r.query.station.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(r.query.station)},
        {QStringLiteral("serial"), bytesOrNull(r.query.serial)},
        {QStringLiteral("made"), instant(r.made)},
        {QStringLiteral("records"), r.records},
        {QStringLiteral("successes"), r.successes},
        {QStringLiteral("success_share"), shareOf(r.successes, r.records)},
        {QStringLiteral("modules_seen"), r.modulesSeen},
        {QStringLiteral("records_without_serial"), r.recordsWithoutSerial},
        {QStringLiteral("outcomes"), QJsonArray::fromStringList(r.outcomes)},
        {QStringLiteral("by_source"), tallies(r.bySource, QStringLiteral("source"))},
        {QStringLiteral("by_station"), tallies(r.byStation, QStringLiteral("station"))},
        {QStringLiteral("by_operation"), tallies(r.byOperation, QStringLiteral("operation"))},
        {QStringLiteral("per_day"), days},
        {QStringLiteral("firmware_versions"), versions},
        {QStringLiteral("most_failures"), failing},
        {QStringLiteral("durations"), durations}};
    if (r.query.staleDays >= 0) {
        QJsonArray stale;
        for (const ReportStaleModule &m : r.stale)
            stale.append(QJsonObject{{QStringLiteral("serial"), bytesOrNull(m.serial)},
                                     {QStringLiteral("last_seen"), instant(m.lastSeen)},
                                     {QStringLiteral("last_address"), m.lastAddress},
                                     {QStringLiteral("version"), bytesOrNull(m.version)}});
        json.insert(QStringLiteral("stale"),
                    QJsonObject{{QStringLiteral("days"), r.query.staleDays},
                                {QStringLiteral("before"), instant(r.staleBefore())},
                                {QStringLiteral("modules"), r.staleModules},
                                {QStringLiteral("list"), stale}});
    }
    return QJsonDocument(json).toJson(QJsonDocument::Indented);
}

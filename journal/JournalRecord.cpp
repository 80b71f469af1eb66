#include "JournalRecord.h"

#include <QSysInfo>

#include <pwd.h>
#include <unistd.h>

QStringList JournalWords::Operations()
{
    QStringList names;
    for (const Operation operation :
         {Operation::Scan, Operation::SetTestData, Operation::ClearAllData, Operation::ReaderTest,
          Operation::LoopTest, Operation::WebPage})
        names << OperationName(operation);
    return names;
}

QStringList JournalWords::Outcomes()
{
    QStringList names;
    for (const Outcome outcome :
         {Outcome::Success, Outcome::NoReply, Outcome::NotConnected, Outcome::Error})
        names << OutcomeName(outcome);
    return names;
}

bool operator==(const JournalRecord &a, const JournalRecord &b)
{
    return a.id == b.id && a.time == b.time && a.source == b.source && a.station == b.station &&
           a.user == b.user && a.toolVersion == b.toolVersion && a.address == b.address &&
           a.operation == b.operation && a.outcome == b.outcome && a.status == b.status &&
           a.serial == b.serial && a.serial.isNull() == b.serial.isNull() &&
           a.version == b.version && a.version.isNull() == b.version.isNull() &&
           a.slotsRead == b.slotsRead && a.card == b.card && a.card.isNull() == b.card.isNull() &&
           a.loop == b.loop && a.loop.isNull() == b.loop.isNull() && a.errors == b.errors &&
           a.durationMs == b.durationMs && a.slotsAfter == b.slotsAfter &&
           a.slotsWritten == b.slotsWritten;
}

QString CurrentUserName()
{
    for (const char *name : {"USER", "LOGNAME"}) {
        const QString value = qEnvironmentVariable(name);
        if (!value.isEmpty())
            return value;
    }
    const passwd *entry = getpwuid(getuid());
    if (entry && entry->pw_name)
        return QString::fromLocal8Bit(entry->pw_name);
    return QString::number(getuid());
}

JournalRecord NewJournalRecord(const QString &source)
{
    JournalRecord record;
    record.id = QUuid::createUuid();
    // Stored to the millisecond, so the time read back equals the time written.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    record.time = QDateTime::fromMSecsSinceEpoch(now.toMSecsSinceEpoch(), Qt::UTC);
    record.source = source;
    // Looked up once: an operation's thread should not read the password file every time.
    static const QString station = QSysInfo::machineHostName();
    static const QString user = CurrentUserName();
    record.station = station;
    record.user = user;
    record.toolVersion = QStringLiteral(VELQA_TOOL_VERSION);
    return record;
}

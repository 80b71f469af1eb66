#include "OperationRecord.h"

JournalRecord RecordFromResult(const OperationResult &result, const QString &source)
{
    JournalRecord record = NewJournalRecord(source);
    if (result.started.isValid())
        record.time = QDateTime::fromMSecsSinceEpoch(result.started.toMSecsSinceEpoch(), Qt::UTC);
    record.address = result.address;
    record.operation = OperationName(result.operation);
    record.outcome = OutcomeName(result.outcome);
    record.status = result.status;
    record.serial = result.serial;
    record.version = result.version;
    record.slotsRead = result.slotsRead;
    record.card = result.card;
    record.loop = result.loop;
    record.errors = result.errors;
    record.durationMs = result.durationMs;
    return record;
}

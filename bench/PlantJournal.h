#pragma once

// A plant's journal made up for benchmarks and pictures: stations on an assembly floor, a fleet
// of modules that get newer firmware over the period, operations as technicians and test
// stations run them, a few modules and one station worse than the rest, and records without a
// serial where a module never answered. The same seed gives the same records.

#include "JournalStore.h"
#include "OperationResult.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <cmath>

struct PlantJournalOptions
{
    qint64 records = 1'000'000;
    int days = 365;
    int stations = 12;
    int modules = 4000;
    quint32 seed = 5003;
    // The version the journal is made or migrated to.
    int schemaVersion = JournalSchemaVersion;
    // The last record's time; the first is `days` days earlier.
    QDateTime end = QDateTime::currentDateTimeUtc();
};

class PlantJournal
{
public:
    explicit PlantJournal(const PlantJournalOptions &options)
        : m_options(options), m_random(options.seed),
          m_startMs(options.end.toMSecsSinceEpoch() - qint64(options.days) * 86'400'000)
    {
    }

    // Record `n` of `options.records`, in time order.
    JournalRecord record(qint64 n)
    {
        JournalRecord r;
        r.id = QUuid::createUuid();
        const qint64 spanMs = qint64(m_options.days) * 86'400'000;
        const qint64 ms =
            m_startMs + spanMs * n / qMax<qint64>(1, m_options.records) + m_random.bounded(60'000);
        r.time = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
        const double progress = double(n) / double(qMax<qint64>(1, m_options.records));
        const int station = int(m_random.bounded(m_options.stations));
        r.station = QStringLiteral("line-%1").arg(station + 1, 2, 10, QLatin1Char('0'));
        r.source = m_random.bounded(10) < 7 ? QStringLiteral("window") : QStringLiteral("cli");
        r.user = QStringLiteral("tech%1").arg(station % 5 + 1);
        r.toolVersion = QStringLiteral("3.21");
        const int module = int(m_random.bounded(m_options.modules));
        r.address = QStringLiteral("10.20.%1.%2").arg(module / 250).arg(module % 250 + 1);
        static const Operation operations[] = {
            Operation::Scan,         Operation::Scan,        Operation::Scan,
            Operation::Scan,         Operation::SetTestData, Operation::SetTestData,
            Operation::ClearAllData, Operation::ReaderTest,  Operation::ReaderTest,
            Operation::LoopTest,     Operation::LoopTest,    Operation::WebPage};
        const Operation operation = operations[m_random.bounded(int(std::size(operations)))];
        r.operation = OperationName(operation);

        // Station 7 and every 97th module fail more often; failures grow slowly over the period.
        double failure = 0.04 + 0.03 * progress;
        if (station == 6)
            failure += 0.10;
        if (module % 97 == 0)
            failure += 0.25;
        const double draw = m_random.generateDouble();
        Outcome outcome = Outcome::Success;
        if (draw < failure * 0.55)
            outcome = Outcome::NoReply;
        else if (draw < failure * 0.8)
            outcome = Outcome::NotConnected;
        else if (draw < failure)
            outcome = Outcome::Error;
        r.outcome = OutcomeName(outcome);
        r.status = statusText(operation, outcome);

        if (outcome != Outcome::NotConnected && outcome != Outcome::Error) {
            r.serial = QByteArray("VQ24") + QByteArray::number(module).rightJustified(5, '0');
            // Modules move to newer firmware at their own point in the period; some never do.
            const double upgrade = double((module * 7919) % 1000) / 1000.0;
            r.version = progress > upgrade * 1.4   ? QByteArray("03.21-01")
                        : progress > upgrade * 0.6 ? QByteArray("03.20-02")
                                                   : QByteArray("03.19-05");
        }
        if (operation == Operation::Scan && !r.serial.isNull()) {
            for (int slot = 1; slot <= 8; ++slot)
                r.slotsRead << JournalSlot{slot, QByteArray(32, '*')};
        } else if (operation == Operation::SetTestData && outcome == Outcome::Success) {
            r.slotsRead << JournalSlot{1, QByteArray("KAVRO*Technology*Corp.********99")};
        }
        if (operation == Operation::ReaderTest && outcome == Outcome::Success)
            r.card = QByteArray::number(10'000'000 + m_random.bounded(89'999'999));
        if (operation == Operation::LoopTest && outcome == Outcome::Success)
            r.loop = QByteArray("Loop Test Ok.");
        if (outcome == Outcome::Error)
            r.errors << QStringLiteral("Asynchronous socket error 10053.");
        r.durationMs = duration(operation, outcome, station);
        return r;
    }

private:
    static QString statusText(Operation operation, Outcome outcome)
    {
        const bool ok = outcome == Outcome::Success;
        switch (operation) {
        case Operation::Scan:
            return ok ? QStringLiteral("Ok.") : QStringLiteral("Error!");
        case Operation::SetTestData:
        case Operation::ClearAllData:
            return outcome == Outcome::NotConnected ? QStringLiteral("Start Scan Module!")
                   : ok                             ? QStringLiteral("Set Data Ok")
                                                    : QStringLiteral("Set Data Error");
        case Operation::ReaderTest:
            return ok ? QStringLiteral("Reader Card Ok") : QStringLiteral("Reader Card Error");
        case Operation::LoopTest:
            return ok ? QStringLiteral("Loop Test Ok") : QStringLiteral("Loop Test Error");
        case Operation::WebPage:
            // The status line as it was: the page's button reports nothing of its own.
            return ok ? QStringLiteral("Ok.") : QStringLiteral("Error!");
        }
        return QStringLiteral("Ok.");
    }

    // The fixed waits of each operation, a little jitter, a long tail, and a slow station.
    qint64 duration(Operation operation, Outcome outcome, int station)
    {
        static const int base[] = {2680, 700, 3600, 1200, 900, 50};
        qint64 ms = base[int(operation)] + qint64(m_random.bounded(120));
        if (m_random.bounded(20) == 0)
            ms += qint64(-std::log(1.0 - m_random.generateDouble()) * 800.0);
        if (outcome == Outcome::NoReply)
            ms += 1000;
        if (station == 3)
            ms = ms * 13 / 10;
        return ms;
    }

    PlantJournalOptions m_options;
    QRandomGenerator m_random;
    qint64 m_startMs = 0;
};

// Writes the plant's records into the journal at `url`, made or migrated by the tool's own
// store, which also writes the records into SQLite. For PostgreSQL the rows go in as the store
// writes them (the same columns and forms) but a few hundred to a statement, which takes a
// server minutes less than a statement per record. `progress` hears how far it got. False on an
// error, which is then in `error`.
template <typename Progress>
bool WritePlantJournal(const QString &url, const PlantJournalOptions &options, Progress progress,
                       QString *error = nullptr)
{
    const JournalLocation location = ParseJournalUrl(url);
    {
        JournalStore store(location);
        bool ok = store.open(JournalAccess::Write, options.schemaVersion);
        PlantJournal plant(options);
        for (qint64 n = 0;
             ok && location.kind == JournalLocation::Kind::Sqlite && n < options.records;) {
            QList<JournalRecord> batch;
            for (; n < options.records && batch.size() < 5000; ++n)
                batch << plant.record(n);
            ok = store.write(batch);
            progress(n, options.records);
        }
        if (!ok && error)
            *error = store.error();
        if (!ok || location.kind == JournalLocation::Kind::Sqlite)
            return ok;
    }
    const QString name = QStringLiteral("plant-journal");
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setDatabaseName(location.database);
        db.setHostName(location.host);
        db.setPort(location.port);
        db.setUserName(location.user);
        db.setPassword(location.password);
        ok = db.open();
        const auto rows = [](int count, int columns) {
            QStringList marks(columns, QStringLiteral("?"));
            const QString row = QLatin1Char('(') + marks.join(QLatin1Char(',')) + QLatin1Char(')');
            return QStringList(count, row).join(QLatin1Char(','));
        };
        constexpr int kRows = 400;
        PlantJournal plant(options);
        for (qint64 n = 0; ok && n < options.records;) {
            ok = db.transaction();
            for (int statement = 0; ok && statement < 25 && n < options.records; ++statement) {
                QVariantList records;
                QVariantList slotValues;
                int count = 0;
                for (; count < kRows && n < options.records; ++count, ++n) {
                    const JournalRecord r = plant.record(n);
                    const QString id = r.id.toString(QUuid::WithoutBraces);
                    records << id << r.time.toUTC().toString("yyyy-MM-ddTHH:mm:ss.zzzZ") << r.source
                            << r.station << r.user << r.toolVersion << r.address << r.operation
                            << r.outcome << r.status << r.serial << r.version << r.card << r.loop
                            << QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(r.errors))
                                                     .toJson(QJsonDocument::Compact))
                            << r.durationMs;
                    for (const JournalSlot &slot : r.slotsRead)
                        slotValues << id << slot.slot << slot.data;
                }
                QSqlQuery insert(db);
                ok = insert.prepare(QStringLiteral("INSERT INTO journal_record (id, time_utc, "
                                                   "source, station, user_name, tool_version, "
                                                   "address, operation, outcome, status, serial, "
                                                   "version, card, loop_reply, errors, "
                                                   "duration_ms) VALUES ") +
                                    rows(count, 16));
                for (int i = 0; ok && i < records.size(); ++i)
                    insert.bindValue(i, records[i]);
                ok = ok && insert.exec();
                if (ok && !slotValues.isEmpty()) {
                    QSqlQuery slotInsert(db);
                    ok = slotInsert.prepare(
                        QStringLiteral("INSERT INTO journal_slot (record_id, slot, data) VALUES ") +
                        rows(int(slotValues.size() / 3), 3));
                    for (int i = 0; ok && i < slotValues.size(); ++i)
                        slotInsert.bindValue(i, slotValues[i]);
                    ok = ok && slotInsert.exec();
                    if (!ok && error)
                        *error = slotInsert.lastError().text();
                } else if (!ok && error) {
                    *error = insert.lastError().text();
                }
            }
            ok = ok && db.commit();
            progress(n, options.records);
        }
        if (!ok && error && error->isEmpty())
            *error = db.lastError().text();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

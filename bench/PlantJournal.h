#pragma once

// A plant's journal made up for benchmarks and pictures: stations on an assembly floor, a fleet
// of modules that get newer firmware over the period, operations as technicians and test
// stations run them, a few modules and one station worse than the rest, and records without a
// serial where a module never answered. The same seed gives the same records.

#include "JournalStore.h"
#include "OperationResult.h"

#include <QRandomGenerator>

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

// Writes the plant's records into the journal at `url` (made or migrated as the tool does), in
// batches of one transaction each; `progress` hears how far it got. False on the store's error,
// which is then in `error`.
template <typename Progress>
bool WritePlantJournal(const QString &url, const PlantJournalOptions &options, Progress progress,
                       QString *error = nullptr)
{
    JournalStore store(ParseJournalUrl(url));
    PlantJournal plant(options);
    bool ok = store.open(options.schemaVersion);
    for (qint64 n = 0; ok && n < options.records;) {
        QList<JournalRecord> batch;
        for (; n < options.records && batch.size() < 5000; ++n)
            batch << plant.record(n);
        ok = store.write(batch);
        progress(n, options.records);
    }
    if (!ok && error)
        *error = store.error();
    return ok;
}

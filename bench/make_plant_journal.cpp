// Writes a made-up plant's journal (PlantJournal.h) into the journal at URL, for the report's
// benchmark and for trying the report on a large journal.
// Usage: make_plant_journal URL [--records N] [--days D] [--seed S] [--schema V]
#include "PlantJournal.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2 || args[1].startsWith(QLatin1Char('-'))) {
        std::fprintf(
            stderr,
            "usage: make_plant_journal URL [--records N] [--days D] [--seed S] [--schema V]\n");
        return 2;
    }
    PlantJournalOptions options;
    for (int i = 2; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--records"))
            options.records = args[i + 1].toLongLong();
        else if (args[i] == QLatin1String("--days"))
            options.days = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--schema"))
            options.schemaVersion = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--seed"))
            options.seed = args[i + 1].toUInt();
    }
    QElapsedTimer clock;
    clock.start();
    QString error;
    if (!WritePlantJournal(
            args[1], options,
            [](qint64 done, qint64 total) {
                std::fprintf(stderr, "\r%lld of %lld records", done, total);
            },
            &error)) {
        std::fprintf(stderr, "\nmake_plant_journal: %s\n", qPrintable(error));
        return 1;
    }
    std::fprintf(stderr, "\n%lld records written in %.1f s\n", options.records,
                 double(clock.elapsed()) / 1000.0);
    return 0;
}

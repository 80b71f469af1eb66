// The long fault soak: presses the window's buttons --operations times (1,000 by default) against
// a simulated module whose faults change at random before every press, checks the window after
// each press and prints counts per fault and outcome and the resident memory at press 100 and
// at the end. Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.

#include "BenchJournal.h"
#include "MessageCatalogue.h"
#include "SoakHarness.h"
#include "WebPane.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char *argv[])
{
    (void)MessageCatalogue::instance();
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    PrepareWebEngine();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    const QTemporaryDir scratch;
    KeepJournalIn(scratch.path());

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Fault soak of the tool's window."));
    parser.addHelpOption();
    const QCommandLineOption operations(QStringLiteral("operations"),
                                        QStringLiteral("Presses to make (default 1000)."),
                                        QStringLiteral("n"), QStringLiteral("1000"));
    const QCommandLineOption seed(QStringLiteral("seed"),
                                  QStringLiteral("Seed of the draws (default: a random one)."),
                                  QStringLiteral("n"));
    const QCommandLineOption mix(QStringLiteral("mix"),
                                 QStringLiteral("quick (default) or ci: the share of each "
                                                "operation."),
                                 QStringLiteral("name"), QStringLiteral("quick"));
    const QCommandLineOption verbose(QStringLiteral("verbose"),
                                     QStringLiteral("One line per press."));
    const QCommandLineOption virtualTime(
        QStringLiteral("virtual-time"),
        QStringLiteral("The presses on the tests' virtual clock instead of the real one, to "
                       "compare the two with one seed."));
    parser.addOptions({operations, seed, mix, verbose, virtualTime});
    parser.process(app);

    SoakOptions options;
    bool ok = false;
    options.operations = parser.value(operations).toInt(&ok);
    if (!ok || options.operations < 1) {
        std::fprintf(stderr, "bench_soak: --operations wants a positive number\n");
        return 2;
    }
    options.seed = parser.isSet(seed) ? parser.value(seed).toUInt(&ok)
                                      : QRandomGenerator::global()->generate();
    if (!ok) {
        std::fprintf(stderr, "bench_soak: --seed wants a number\n");
        return 2;
    }
    const QString mixName = parser.value(mix);
    if (mixName != QLatin1String("quick") && mixName != QLatin1String("ci")) {
        std::fprintf(stderr, "bench_soak: --mix is quick or ci\n");
        return 2;
    }
    options.mix = mixName == QLatin1String("ci") ? SoakMix::ci() : SoakMix::quick();
    options.verbose = parser.isSet(verbose);
    options.virtualTime = parser.isSet(virtualTime);

    std::printf("seed %u (repeat with --seed %u --operations %d --mix %s), platform %s%s\n",
                options.seed, options.seed, options.operations, qPrintable(mixName),
                qPrintable(QGuiApplication::platformName()),
                options.virtualTime ? ", virtual time" : "");
    std::fflush(stdout);

    SoakHarness harness(options);
    QString why;
    if (!harness.setUp(&why)) {
        std::fprintf(stderr, "bench_soak: %s\n", qPrintable(why));
        return 2;
    }
    const SoakReport report = harness.run();
    std::printf("\n%s", qPrintable(report.text()));
    std::printf("verdict: %s\n", report.passed() ? "passed" : "FAILED");
    return report.passed() ? 0 : 1;
}

#include "Escape.h"
#include "simfleet.h"
#include "simmodule.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#include <sys/resource.h>

static const char kDescription[] =
    "A simulated VELQA module for tests and demonstrations, on loopback addresses only.\n"
    "\n"
    "Commands arrive as \"QMK\" 0x0F, the command text, two uppercase hex digits of the\n"
    "checksum (0x0F xor every command byte) and 0x0D. S01 (serial), V01 (version) and\n"
    "G01..G08 (slot read) are answered with \"QMK\" 0x06, the data (characters 5..12, or\n"
    "5..36 for a slot), two hex digits of 0x06 xor every data byte, and 0x0D. F01..F08\n"
    "followed by exactly 32 characters store the slot and are answered with \"QMK\" 0x06,\n"
    "the command name, checksum and 0x0D.\n"
    "A bad checksum, an unknown command or a frame of the wrong length is answered with\n"
    "the 5 bytes \"QMK\" 0x15 0x0D.\n"
    "The reader request 09 41 30 31 46 30 46 0D is answered with 0x09 \"A0100\", the card\n"
    "number (characters 7..14), checksum and 0x0D (17 bytes), or with 0x09 \"A01NC\",\n"
    "checksum and 0x0D (9 bytes) when no card is present. The loop message\n"
    "\"Loop Test Ok.\" 0x00 0x0D is echoed unchanged.\n"
    "The web page shows the serial number, version and slots, on any path.";

// Messages quote command-line text: it reaches the terminal escaped and cut.
static void fail(const QString &message)
{
    std::fprintf(stderr, "velqa-sim: %s\n", qPrintable(TerminalText(message, 1024)));
    std::exit(2);
}

static int number(const QCommandLineParser &parser, const QString &name, int minimum, int maximum)
{
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok || value < minimum || value > maximum) {
        fail(QStringLiteral("--%1 wants a number from %2 to %3, not \"%4\"")
                 .arg(name)
                 .arg(minimum)
                 .arg(maximum)
                 .arg(parser.value(name)));
    }
    return value;
}

// Descriptors the program holds besides its modules' sockets: standard streams, the event
// loop's and the reactor's own.
static constexpr rlim_t kOwnDescriptors = 32;
// Connections a fleet should have room for at once: the most velqa-cli runs at once.
static constexpr rlim_t kFleetConnections = 1024;

// Each module holds a listening socket, and a connection while a client is there: a large fleet
// needs more descriptors than the usual soft limit of 1024. Raises the soft limit to the hard
// one, and refuses a fleet that the limit leaves no room for, saying what to do.
static void makeRoomForFleet(int count)
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
            getrlimit(RLIMIT_NOFILE, &limit);
    }
    if (limit.rlim_cur == RLIM_INFINITY)
        return;
    const rlim_t listeners = rlim_t(count) + kOwnDescriptors;
    if (limit.rlim_cur <= listeners) {
        fail(QStringLiteral("%1 modules need %2 open files and more for their connections, but "
                            "the limit on open files is %3 (hard limit %4): raise it (ulimit -n) "
                            "or serve fewer modules")
                 .arg(count)
                 .arg(qulonglong(listeners))
                 .arg(qulonglong(limit.rlim_cur))
                 .arg(qulonglong(limit.rlim_max)));
    }
    if (limit.rlim_cur - listeners < kFleetConnections) {
        std::fprintf(stderr,
                     "velqa-sim: the limit on open files (%llu) leaves room for %llu connections "
                     "at once; more clients than that wait (ulimit -n raises it)\n",
                     static_cast<unsigned long long>(limit.rlim_cur),
                     static_cast<unsigned long long>(limit.rlim_cur - listeners));
    }
}

// Refuses connections on every module's port for refuseMs (0: until the program is stopped).
static void refuseFor(const QList<SimModule *> &modules, int refuseMs)
{
    for (SimModule *module : modules) {
        SimFaults faults = module->faults();
        faults.refuseConnections = true;
        module->setFaults(faults);
    }
    std::printf("velqa-sim: refusing connections %s\n",
                refuseMs > 0 ? qPrintable(QStringLiteral("for %1 ms").arg(refuseMs))
                             : "until stopped");
    if (refuseMs <= 0)
        return;
    QTimer::singleShot(refuseMs, QCoreApplication::instance(), [modules] {
        for (SimModule *module : modules) {
            SimFaults cleared = module->faults();
            cleared.refuseConnections = false;
            module->setFaults(cleared);
        }
        std::printf("velqa-sim: accepting connections again\n");
        std::fflush(stdout);
    });
}

// With several modules each line names the module's address.
static void reportActivity(const QList<SimModule *> &modules, const QList<QHostAddress> &addresses)
{
    for (int i = 0; i < modules.size(); ++i) {
        SimModule *module = modules.at(i);
        const QByteArray prefix = modules.size() > 1
                                      ? "velqa-sim: " + addresses.at(i).toString().toLatin1() + ": "
                                      : QByteArray("velqa-sim: ");
        QObject::connect(module, &SimModule::clientConnected, module, [prefix] {
            std::printf("%sclient connected\n", prefix.constData());
            std::fflush(stdout);
        });
        QObject::connect(module, &SimModule::clientDisconnected, module, [prefix] {
            std::printf("%sclient disconnected\n", prefix.constData());
            std::fflush(stdout);
        });
        QObject::connect(module, &SimModule::commandHandled, module,
                         [prefix](const QByteArray &name) {
                             std::printf("%s%s\n", prefix.constData(), name.constData());
                             std::fflush(stdout);
                         });
    }
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velqa-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELQA_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    parser.addHelpOption();
    parser.addVersionOption();
    const auto option = [&parser](const QString &name, const QString &help,
                                  const QString &valueName = QString(),
                                  const QString &defaultValue = QString()) {
        parser.addOption(QCommandLineOption(name, help, valueName, defaultValue));
    };
    option("address",
           "Loopback address to listen on (default 127.0.0.1); any other address is refused.",
           "address", "127.0.0.1");
    option("port", "Module port (default 5003; 0: any free port, printed at start).", "port",
           "5003");
    option("http-port",
           "Web page port (default 8080; 0: any free port; 80 for the tool's bare address).",
           "port", "8080");
    option("no-http", "Serve no web page.");
    option("serial", "Serial number, 8 characters.", "text", "VQ240817");
    option("version-text", "Firmware version, 8 characters.", "text", "03.21-01");
    option("slot", "Slot content, as N=TEXT (N from 1 to 8); may be repeated.", "n=text");
    option("card", "Card number the reader reports, 8 digits.", "digits", "04172635");
    option("no-card", "The reader reports that no card is present.");
    option("silent", "Fault: accept connections and commands, never answer.");
    option("answer-only",
           "Fault: answer only these requests, comma separated "
           "(S01,V01,G01..G08,F01..F08,READER,LOOP); others get no answer.",
           "names");
    option("short-replies", "Fault: every reply is cut to 5 characters.");
    option("split-gap", "Fault: every reply goes out in two writes, this many ms apart.", "ms");
    option("delay", "Fault: every reply waits this many ms.", "ms");
    option("unsolicited", "Fault: send \"QMK\" 0x07 \"NOISE\" 0x0D unasked every this many ms.",
           "ms");
    option("close-after", "Fault: close the connection after this many commands.", "n");
    option("reset-after", "Fault: reset (RST) the connection after this many commands.", "n");
    option("flood",
           "Fault: send a flood of random bytes (--flood-bytes) on connect or "
           "instead of every reply.",
           "connect|reply");
    option("flood-bytes", "Size of the flood in bytes (1 MiB by default).", "bytes", "1048576");
    option("garbage", "Fault: every reply is replaced by random bytes of its length.");
    option("refuse-for", "Fault: refuse connections for this many ms after start (0: for ever).",
           "ms");
    option("forget-writes",
           "Fault: answer slot writes (F01..F08) but keep the old content, so a read back "
           "differs.");
    option("verbose", "Print connections and every command handled.");
    option("count",
           "Serve this many modules, one per loopback address from --address on "
           "(127.0.0.1, 127.0.0.2, ...), all on --port, each with the serial number \"VQ\" and "
           "six digits of its address and slots of its own; the fault options apply to all, "
           "--serial, --slot and the web page do not. Each module takes an open file, and each "
           "connection another: the limit on open files (ulimit -n) must leave room for them.",
           "n", "1");
    // Unknown options end the program with the status of any other usage error.
    if (!parser.parse(QCoreApplication::arguments()))
        fail(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        fail(
            QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));

    QString addressText = parser.value("address");
    if (addressText == QLatin1String("localhost")) {
        addressText = QStringLiteral("127.0.0.1");
    }
    const QHostAddress address(addressText);
    if (address.isNull() || !address.isLoopback()) {
        fail(QStringLiteral("refusing to listen on \"%1\": only loopback addresses "
                            "(127.0.0.0/8, ::1) are allowed")
                 .arg(parser.value("address")));
    }

    SimModule module;
    module.setSerialNumber(parser.value("serial").toLatin1());
    module.setFirmwareVersion(parser.value("version-text").toLatin1());
    if (!module.setCardNumber(parser.value("card").toLatin1())) {
        fail(QStringLiteral("--card wants 8 digits, not \"%1\"").arg(parser.value("card")));
    }
    module.setNoCard(parser.isSet("no-card"));
    const QStringList slotValues = parser.values("slot");
    for (const QString &slotValue : slotValues) {
        const qsizetype equals = slotValue.indexOf(QLatin1Char('='));
        const int slot = equals == 1 ? slotValue.left(1).toInt() : 0;
        if (slot < 1 || slot > 8) {
            fail(QStringLiteral("--slot wants N=TEXT with N from 1 to 8, not \"%1\"")
                     .arg(slotValue));
        }
        module.setSlotData(slot, slotValue.mid(equals + 1).toLatin1());
    }

    SimFaults faults;
    faults.silent = parser.isSet("silent");
    const QStringList names = parser.value("answer-only").split(',', Qt::SkipEmptyParts);
    for (const QString &name : names) {
        faults.answerOnly.insert(name.trimmed().toUpper().toLatin1());
    }
    faults.shortReplies = parser.isSet("short-replies");
    if (parser.isSet("split-gap")) {
        faults.splitGapMs = number(parser, "split-gap", 0, 600000);
    }
    if (parser.isSet("delay")) {
        faults.delayMs = number(parser, "delay", 0, 600000);
    }
    if (parser.isSet("unsolicited")) {
        faults.unsolicitedMs = number(parser, "unsolicited", 1, 600000);
    }
    if (parser.isSet("close-after")) {
        faults.closeAfter = number(parser, "close-after", 1, 1000000);
    }
    if (parser.isSet("reset-after")) {
        faults.resetAfter = number(parser, "reset-after", 1, 1000000);
    }
    if (parser.isSet("flood")) {
        const QString when = parser.value("flood");
        if (when == QLatin1String("connect")) {
            faults.flood = SimFlood::OnConnect;
        } else if (when == QLatin1String("reply")) {
            faults.flood = SimFlood::AsReply;
        } else {
            fail(QStringLiteral("--flood wants \"connect\" or \"reply\", not \"%1\"").arg(when));
        }
    }
    faults.floodBytes = number(parser, "flood-bytes", 1, 256 * 1024 * 1024);
    faults.garbageReplies = parser.isSet("garbage");
    faults.forgetWrites = parser.isSet("forget-writes");

    const int port = number(parser, "port", 0, 65535);
    const int count = number(parser, "count", 1, 65536);
    SimFleet fleet;
    QList<SimModule *> modules;
    QList<QHostAddress> addresses;
    if (count > 1) {
        makeRoomForFleet(count);
        if (!fleet.listen(address, count, static_cast<quint16>(port)))
            fail(QStringLiteral("cannot start %1 modules: %2").arg(count).arg(fleet.errorString()));
        for (int i = 0; i < fleet.count(); ++i) {
            modules.append(fleet.module(i));
            addresses.append(fleet.address(i));
        }
        std::printf("velqa-sim: %d modules on %s to %s, port %u\n", count,
                    qPrintable(fleet.address(0).toString()),
                    qPrintable(fleet.address(count - 1).toString()), unsigned(fleet.port()));
    } else {
        if (!module.listen(address, static_cast<quint16>(port))) {
            fail(QStringLiteral("cannot listen on %1:%2: %3")
                     .arg(address.toString())
                     .arg(port)
                     .arg(module.errorString()));
        }
        modules.append(&module);
        addresses.append(address);
        const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                                 ? QStringLiteral("[%1]").arg(address.toString())
                                 : address.toString();
        std::printf("velqa-sim: module on %s:%u\n", qPrintable(host), unsigned(module.port()));
        if (!parser.isSet("no-http")) {
            const int httpPort = number(parser, "http-port", 0, 65535);
            if (!module.listenHttp(address, static_cast<quint16>(httpPort))) {
                fail(QStringLiteral("cannot listen on %1:%2: %3")
                         .arg(address.toString())
                         .arg(httpPort)
                         .arg(module.errorString()));
            }
            std::printf("velqa-sim: web page on http://%s:%u/\n", qPrintable(host),
                        unsigned(module.httpPort()));
        }
    }

    for (SimModule *each : modules)
        each->setFaults(faults);
    if (parser.isSet("refuse-for"))
        refuseFor(modules, number(parser, "refuse-for", 0, 86400000));
    if (parser.isSet("verbose"))
        reportActivity(modules, addresses);
    std::fflush(stdout);
    return QCoreApplication::exec();
}

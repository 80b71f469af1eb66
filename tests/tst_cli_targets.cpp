#include "CliTestSupport.h"
#include "Targets.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

class TestCliTargets : public QObject
{
    Q_OBJECT

private slots:
    void expandsTargets_data();
    void expandsTargets();
    void refusesBadTargets_data();
    void refusesBadTargets();
    void groupsTargetsByModule_data();
    void groupsTargetsByModule();
    void readsTargetFiles();
    void missingFileIsAUsageError();
    void usageErrorsExitWithTwo_data();
    void usageErrorsExitWithTwo();
    void answersWithoutRunning_data();
    void answersWithoutRunning();
    void manPageAndHelpCoverEveryOption_data();
    void manPageAndHelpCoverEveryOption();
};

void TestCliTargets::expandsTargets_data()
{
    QTest::addColumn<QStringList>("targets");
    QTest::addColumn<QStringList>("hosts");

    QTest::newRow("one address") << QStringList{"127.0.0.1"} << QStringList{"127.0.0.1"};
    QTest::newRow("list") << QStringList{"127.0.0.3", "127.0.0.1", "localhost"}
                          << QStringList{"127.0.0.3", "127.0.0.1", "localhost"};
    QTest::newRow("full range") << QStringList{"127.0.0.1-127.0.0.4"}
                                << QStringList{"127.0.0.1", "127.0.0.2", "127.0.0.3", "127.0.0.4"};
    QTest::newRow("last number only")
        << QStringList{"127.0.0.8-10"} << QStringList{"127.0.0.8", "127.0.0.9", "127.0.0.10"};
    QTest::newRow("range of one") << QStringList{"127.0.0.5-5"} << QStringList{"127.0.0.5"};
    QTest::newRow("across the third number")
        << QStringList{"127.0.0.254-127.0.1.1"}
        << QStringList{"127.0.0.254", "127.0.0.255", "127.0.1.0", "127.0.1.1"};
    QTest::newRow("host name with a dash is no range")
        << QStringList{"module-7.example"} << QStringList{"module-7.example"};
    QTest::newRow("numbers that are no plain address stay as given")
        << QStringList{"127.000.0.01", "0x7f.1"} << QStringList{"127.000.0.01", "0x7f.1"};
}

void TestCliTargets::expandsTargets()
{
    QFETCH(QStringList, targets);
    QFETCH(QStringList, hosts);
    const TargetList list = ParseTargets(targets);
    QVERIFY2(list.ok(), qPrintable(list.error));
    QCOMPARE(list.hosts, hosts);
}

void TestCliTargets::refusesBadTargets_data()
{
    QTest::addColumn<QStringList>("targets");
    QTest::addColumn<QString>("errorPart");

    QTest::newRow("reversed") << QStringList{"127.0.0.40-127.0.0.1"} << "end comes before";
    QTest::newRow("reversed short") << QStringList{"127.0.0.9-1"} << "end comes before";
    QTest::newRow("open end") << QStringList{"127.0.0.1-"} << "bad range";
    QTest::newRow("octet too large") << QStringList{"127.0.0.1-300"} << "bad range";
    QTest::newRow("end not an address") << QStringList{"127.0.0.1-127.0.0"} << "bad range";
    QTest::newRow("end a name") << QStringList{"127.0.0.1-abc"} << "bad range";
    QTest::newRow("bad port") << QStringList{"127.0.0.1:http"} << "bad target";
    QTest::newRow("too many") << QStringList{"127.0.0.0-127.1.0.0"} << "more than";
    // Counted before it is expanded: four thousand million addresses would not fit in memory.
    QTest::newRow("every address") << QStringList{"0.0.0.0-255.255.255.255"} << "more than";
    QTest::newRow("plus sign in a range's end") << QStringList{"127.0.0.1-+5"} << "bad range";
    QTest::newRow("escape sequence") << QStringList{"\x1b]0;owned\x07"} << "control character";
    QTest::newRow("name over 255 octets") << QStringList{QString(256, 'a')} << "255 octets";
    QTest::newRow("empty") << QStringList{""} << "empty target";
    QTest::newRow("nothing") << QStringList{} << "no targets";
}

void TestCliTargets::refusesBadTargets()
{
    QFETCH(QStringList, targets);
    QFETCH(QString, errorPart);
    const TargetList list = ParseTargets(targets);
    QVERIFY(!list.ok());
    QVERIFY2(list.error.contains(errorPart), qPrintable(list.error));
}

void TestCliTargets::groupsTargetsByModule_data()
{
    QTest::addColumn<QStringList>("targets");
    // "host|text,text|given" for each module, in order.
    QTest::addColumn<QStringList>("modules");
    // Addresses are their own answer: only names are looked up, each once.
    QTest::addColumn<int>("lookups");

    QTest::newRow("repeated text, any case")
        << QStringList{"station-b", "127.0.16.2", "STATION-B"}
        << QStringList{"127.0.16.9|station-b|2", "127.0.16.2|127.0.16.2|1"} << 1;
    QTest::newRow("a name with two addresses joins both")
        << QStringList{"127.0.16.4", "127.0.16.5", "dual"}
        << QStringList{"127.0.16.4|127.0.16.4,127.0.16.5,dual|3"} << 1;
    // As in the window: no lookup, and no address to share, so the link ends as unknown host.
    QTest::newRow("numbers the window takes for no address")
        << QStringList{"0x7f.1", "0x7f000001", "127.000.0.1", "127.0.0.1"}
        << QStringList{"0x7f.1|0x7f.1|1", "0x7f000001|0x7f000001|1", "127.000.0.1|127.000.0.1|1",
                       "127.0.0.1|127.0.0.1|1"}
        << 0;
}

void TestCliTargets::groupsTargetsByModule()
{
    QFETCH(QStringList, targets);
    QFETCH(QStringList, modules);
    QFETCH(int, lookups);
    FakeResolver resolver;
    resolver.names["station-b"] = {QHostAddress("127.0.16.9")};
    resolver.names["dual"] = {QHostAddress("127.0.16.5"), QHostAddress("::ffff:127.0.16.4")};
    const TargetList list = ParseTargets(targets);
    QVERIFY2(list.ok(), qPrintable(list.error));
    QStringList grouped;
    for (const TargetModule &module : GroupByModule(list.hosts, resolver))
        grouped << QStringLiteral("%1|%2|%3")
                       .arg(module.host, module.texts.join(','), QString::number(module.given));
    QCOMPARE(grouped, modules);
    QCOMPARE(resolver.asked.size(), lookups);
}

void TestCliTargets::readsTargetFiles()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile file(dir.filePath("station.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("# line 3\n127.0.0.1\n\n127.0.0.5-6, 127.0.0.9   # bench\n  127.0.0.1\n");
    file.close();

    const TargetList list = ParseTargets({"127.0.0.20"}, {file.fileName()});
    QVERIFY2(list.ok(), qPrintable(list.error));
    QCOMPARE(list.hosts, QStringList({"127.0.0.20", "127.0.0.1", "127.0.0.5", "127.0.0.6",
                                      "127.0.0.9", "127.0.0.1"}));

    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("127.0.0.1\n127.0.0.9-2\n");
    file.close();
    const TargetList bad = ParseTargets({}, {file.fileName()});
    QVERIFY(!bad.ok());
    // The line is named, so a technician finds the mistake in a long file.
    QVERIFY2(bad.error.contains("station.txt:2:"), qPrintable(bad.error));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QByteArray("127.0.0.1\n127.0.0\0.2\n", 22));
    file.close();
    QVERIFY(ParseTargets({}, {file.fileName()}).error.contains("station.txt:2: a NUL byte"));

    // A line of countless words is read no further than the limit: the memory it takes stays
    // near the file's own size, never that of millions of words.
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QByteArray("x,").repeated(int(MaxTargetFileBytes / 2)));
    file.close();
    const auto peakKiB = [] {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return usage.ru_maxrss;
    };
    const long before = peakKiB();
    QVERIFY(ParseTargets({}, {file.fileName()}).error.contains("station.txt:1: more than"));
    QVERIFY2(peakKiB() - before < 200 * 1024, qPrintable(QString::number(peakKiB() - before)));
}

void TestCliTargets::missingFileIsAUsageError()
{
    const CliRun run = runCli({"scan", "--file", "/nonexistent/velqa-targets.txt"});
    QCOMPARE(run.exitCode, int(CliExit::UsageError));
    QVERIFY(run.err.contains("cannot read target file"));
    QVERIFY(run.out.isEmpty());
}

void TestCliTargets::usageErrorsExitWithTwo_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("errorPart");

    QTest::newRow("no command") << QStringList{} << "no command";
    QTest::newRow("unknown command") << QStringList{"probe", "127.0.0.1"} << "unknown command";
    QTest::newRow("mistyped command")
        << QStringList{"sacn", "127.0.0.1"} << "unknown command \"sacn\"; did you mean \"scan\"?";
    QTest::newRow("a command's beginning")
        << QStringList{"reader", "127.0.0.1"} << "did you mean \"reader-test\"?";
    QTest::newRow("mistyped option")
        << QStringList{"history", "--limt", "5"} << "did you mean \"--limit\"?";
    // Nothing close enough to suggest.
    QTest::newRow("unknown option")
        << QStringList{"scan", "--fast", "127.0.0.1"} << "option \"--fast\"\nTry";
    QTest::newRow("no targets") << QStringList{"scan"} << "no targets";
    QTest::newRow("bad range") << QStringList{"scan", "127.0.0.40-127.0.0.1"} << "bad range";
    QTest::newRow("jobs zero") << QStringList{"scan", "--jobs", "0", "127.0.0.1"} << "--jobs";
    QTest::newRow("jobs text") << QStringList{"scan", "--jobs", "many", "127.0.0.1"} << "--jobs";
    QTest::newRow("escape sequence in an option")
        << QStringList{"scan", "--\x1b[2J", "127.0.0.1"} << "\"--\\x1b[2J\"";
    QTest::newRow("port too large")
        << QStringList{"scan", "--port", "70000", "127.0.0.1"} << "--port";
    QTest::newRow("unwritable junit")
        << QStringList{"scan", "--junit", "/nonexistent/dir/report.xml", "127.0.0.1"}
        << "cannot write";
}

void TestCliTargets::usageErrorsExitWithTwo()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, errorPart);
    const CliRun run = runCli(arguments);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains(errorPart), qPrintable(run.err));
    // Nothing was run, so nothing is reported.
    QVERIFY(run.out.isEmpty());
}

void TestCliTargets::answersWithoutRunning_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("outParts");

    QStringList everyCommand{"Exit codes", "  0  every module succeeded", "  1  some module failed",
                             "  2  usage error"};
    for (const CliCommandRow &row : CliCommands())
        everyCommand << "  " + row.name + " ";
    QTest::newRow("help lists every command") << QStringList{"--help"} << everyCommand;
    QTest::newRow("a command's help") << QStringList{"scan", "--help"}
                                      << QStringList{"scan [targets...]", "--jobs",  "--json",
                                                     "--junit",           "--trace", "Exit codes:"};
    QTest::newRow("history's help")
        << QStringList{"history", "-h"} << QStringList{"history", "--since", "--csv", "--journal"};
    QTest::newRow("-v anywhere") << QStringList{"scan", "127.0.0.1", "-v"}
                                 << QStringList{"velqa-cli "};
    // An option's value before the command is no command.
    QTest::newRow("-journal URL before the command")
        << QStringList{"-journal", "sqlite:/nonexistent/j.sqlite", "history", "--help"}
        << QStringList{"--since"};
}

void TestCliTargets::answersWithoutRunning()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, outParts);
    const CliRun run = runCli(arguments);
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.err.isEmpty(), qPrintable(run.err));
    for (const QString &part : outParts)
        QVERIFY2(run.out.contains(part), qPrintable(part));
}

// The options the manual page gives each command ("" for those of every command), and its
// commands: the tags of its .TP paragraphs, under OPTIONS and under ".SS "Options of a, b and c"".
struct ManPage
{
    QStringList commands;
    QHash<QString, QStringList> options;
};

static ManPage readManPage()
{
    QFile file(QStringLiteral(VELQA_CLI_MAN));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    static const QRegularExpression option(R"((\\-\\-|\\-)((?:[a-z]|\\-)+))");
    static const QRegularExpression listSeparator(QStringLiteral(", | and "));
    ManPage page;
    QString section;
    QStringList owners;
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
    for (int i = 0; i + 1 < lines.size(); ++i) {
        const QString &line = lines[i];
        if (line.startsWith(".SH ")) {
            section = line.mid(4);
            owners = {QString()};
        } else if (line.startsWith(".SS \"Options of ")) {
            owners = line.mid(16).chopped(1).split(listSeparator);
        } else if (line == ".TP") {
            const QString tag = QString(lines[i + 1]).replace("\\-", "-");
            if (section == "COMMANDS")
                page.commands << tag.section(' ', 1);
            for (auto m = option.globalMatch(lines[i + 1]); section == "OPTIONS" && m.hasNext();) {
                const QRegularExpressionMatch match = m.next();
                for (const QString &owner : std::as_const(owners))
                    page.options[owner]
                        << QString(match.captured(1) + match.captured(2)).replace("\\-", "-");
            }
        }
    }
    return page;
}

static QString optionText(const QString &name)
{
    return (name.size() == 1 ? "-" : "--") + name;
}

void TestCliTargets::manPageAndHelpCoverEveryOption_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("options");
    for (const CliCommandRow &row : CliCommands()) {
        QStringList options;
        for (const QCommandLineOption &option : CliGlobalOptions() + row.options)
            for (const QString &name : option.names())
                options << optionText(name);
        QTest::newRow(qPrintable(row.name)) << row.name << options;
    }
}

// Neither the manual page nor the help may drift from the parser: an option added, dropped or
// moved shows here.
void TestCliTargets::manPageAndHelpCoverEveryOption()
{
    QFETCH(QString, command);
    QFETCH(QStringList, options);
    const ManPage page = readManPage();
    QVERIFY2(page.commands.contains(command), qPrintable(page.commands.join(' ')));
    QStringList documented = page.options.value(QString()) + page.options.value(command);
    documented.sort();
    options.sort();
    QCOMPARE(documented, options);

    // The command is found before its options are known: a name takes a value everywhere or
    // nowhere.
    const QList<CliCommandRow> &commands = CliCommands();
    const auto own = std::find_if(commands.begin(), commands.end(),
                                  [&command](const CliCommandRow &r) { return r.name == command; });
    for (const CliCommandRow &row : commands)
        for (const QCommandLineOption &theirs : row.options)
            for (const QCommandLineOption &ours : own->options)
                if (ours.names() == theirs.names())
                    QCOMPARE(ours.valueName().isEmpty(), theirs.valueName().isEmpty());

    QVERIFY(runCli({"--help"}).out.contains("  " + command + " "));
    const QString help = runCli({command, "--help"}).out;
    for (const QString &name : std::as_const(options))
        QVERIFY2(help.contains(QRegularExpression(QRegularExpression::escape(name) + "\\b")),
                 qPrintable(name));
}

QTEST_GUILESS_MAIN(TestCliTargets)
#include "tst_cli_targets.moc"

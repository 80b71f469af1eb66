#include "CliTestSupport.h"
#include "Journal.h"
#include "JournalHistory.h"
#include "JournalStore.h"
#include "PostgresTestSupport.h"
#include "simfleet.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

static constexpr int kWait = 30000;

// Module bytes that are not text: a NUL, control bytes and bytes above 0x7f.
static const QByteArray kOddSerial("SN\0\x01\x1b[2J\xe9\xff", 10);

static JournalRecord makeRecord(int n, const QDateTime &time)
{
    JournalRecord r = NewJournalRecord(QString::fromLatin1(JournalWords::SourceCli));
    r.time = time;
    r.address = QStringLiteral("127.0.0.%1").arg(1 + n % 2);
    r.operation = QString::fromLatin1(n % 3 == 0 ? JournalWords::OperationScan
                                                 : JournalWords::OperationReaderTest);
    r.outcome = QString::fromLatin1(n % 2 == 0 ? JournalWords::OutcomeSuccess
                                               : JournalWords::OutcomeNoReply);
    r.status = n % 2 == 0 ? QStringLiteral("Ok.") : QStringLiteral("Reader Card Error, \"no\"");
    r.serial = n == 0 ? kOddSerial : QByteArray("SN-") + QByteArray::number(n);
    r.version = n == 1 ? QByteArray() : QByteArray("V1.0");
    r.slotsRead = {{1, QByteArray(32, '*')}, {2, QByteArray("a\0b", 3)}, {8, QByteArray("", 0)}};
    r.card = n % 3 == 0 ? QByteArray() : QByteArray("12345678");
    r.loop = QByteArray();
    r.errors = n == 1 ? QStringList{QStringLiteral("Asynchronous socket error 111."),
                                    QStringLiteral("line\nbreak")}
                      : QStringList{};
    r.durationMs = 100 + n;
    return r;
}

class TestJournal : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void roundTrip_data();
    void roundTrip();
    void history_data();
    void history();
    void migration_data();
    void migration();
    void outage();
    void unopenable_data();
    void unopenable();
    void formats_data();
    void formats();
    void choice_data();
    void choice();
    void cli_data();
    void cli();
    void cliRun_data();
    void cliRun();

private:
    // The journal URL of a fresh store of the given kind; skips the PostgreSQL rows only when
    // the server's programs are missing.
    QString freshUrl(const QString &store);
    QList<JournalRecord> fixture() const;

    QTemporaryDir m_dir;
    QTemporaryDir m_settings;
    std::unique_ptr<PostgresTestServer> m_postgres;
    QString m_postgresMissing;
    int m_databases = 0;
};

void TestJournal::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, m_settings.path());
    QStandardPaths::setTestModeEnabled(true);
    // The outbox of a command-line run is in the user's data folder: this run's own.
    qputenv("HOME", QFile::encodeName(m_dir.path()));
    qunsetenv(JournalEnvironment);
    if (!PostgresTestServer::available()) {
        m_postgresMissing = QStringLiteral("PostgreSQL server programs not found in %1 (package "
                                           "postgresql, scripts/deps.sh)")
                                .arg(PostgresTestServer::binDir());
        return;
    }
    m_postgres = std::make_unique<PostgresTestServer>();
    QString error;
    QVERIFY2(m_postgres->create(&error), qPrintable(error));
}

QString TestJournal::freshUrl(const QString &store)
{
    const QString name = QStringLiteral("j%1").arg(++m_databases);
    if (store == QLatin1String("sqlite"))
        return QStringLiteral("sqlite:") + m_dir.filePath(name + QStringLiteral(".sqlite"));
    if (!m_postgres)
        return QString();
    return m_postgres->createDatabase(name);
}

#define FRESH_URL(url, store)                                                                      \
    const QString url = freshUrl(store);                                                           \
    if (url.isEmpty() && !m_postgres && store != QLatin1String("sqlite"))                          \
        QSKIP(qPrintable(m_postgresMissing));                                                      \
    QVERIFY(!url.isEmpty())

QList<JournalRecord> TestJournal::fixture() const
{
    const QDateTime start(QDate(2024, 5, 1), QTime(8, 0), Qt::UTC);
    QList<JournalRecord> records;
    for (int n = 0; n < 6; ++n)
        records << makeRecord(n, start.addSecs(60 * n));
    return records;
}

static void addStoreRows()
{
    QTest::addColumn<QString>("store");
    QTest::newRow("sqlite") << QStringLiteral("sqlite");
    QTest::newRow("postgresql") << QStringLiteral("postgresql");
}

void TestJournal::roundTrip_data()
{
    addStoreRows();
}

// Every field comes back as written, bytes exactly (NUL, escape, high bytes; null apart from
// empty), and a record handed in twice is stored once.
void TestJournal::roundTrip()
{
    QFETCH(QString, store);
    FRESH_URL(url, store);
    const QList<JournalRecord> records = fixture();
    Journal journal;
    journal.open({url, m_dir.filePath(QStringLiteral("outbox-%1.sqlite").arg(m_databases))});
    for (const JournalRecord &r : records)
        journal.record(r);
    journal.record(records.first());
    QVERIFY(journal.waitForIdle(kWait));
    QCOMPARE(journal.state(), JournalState::Ready);
    QCOMPARE(journal.lastError(), QString());

    JournalStore reader(ParseJournalUrl(url));
    QVERIFY2(reader.open(), qPrintable(reader.error()));
    QCOMPARE(reader.count().value_or(-1), records.size());
    JournalFilter all;
    all.oldestFirst = true;
    const QList<JournalRecord> back = reader.read(all).value_or(QList<JournalRecord>());
    QCOMPARE(back.size(), records.size());
    for (int i = 0; i < records.size(); ++i)
        QVERIFY2(back[i] == records[i], qPrintable(QString::number(i)));
    QVERIFY(back[0].loop.isNull());
    QVERIFY(!back[0].slotsRead[2].data.isNull());
}

void TestJournal::history_data()
{
    QTest::addColumn<QString>("store");
    QTest::addColumn<JournalFilter>("filter");
    QTest::addColumn<QList<int>>("expected"); // fixture indices, newest first

    const QDateTime start(QDate(2024, 5, 1), QTime(8, 0), Qt::UTC);
    for (const char *store : {"sqlite", "postgresql"}) {
        const auto row = [store](const char *name) -> QTestData & {
            return QTest::addRow("%s %s", store, name) << QString::fromLatin1(store);
        };
        JournalFilter f;
        row("all, newest first") << f << QList<int>{5, 4, 3, 2, 1, 0};
        f = {};
        f.serial = kOddSerial;
        row("serial with odd bytes") << f << QList<int>{0};
        f = {};
        f.address = QStringLiteral("127.0.0.2");
        row("address") << f << QList<int>{5, 3, 1};
        f = {};
        f.operation = QStringLiteral("scan");
        row("operation") << f << QList<int>{3, 0};
        f = {};
        f.outcome = QStringLiteral("no-reply");
        f.since = start.addSecs(120);
        row("outcome since") << f << QList<int>{5, 3};
        f = {};
        f.limit = 2;
        row("limit") << f << QList<int>{5, 4};
    }
}

void TestJournal::history()
{
    QFETCH(QString, store);
    QFETCH(JournalFilter, filter);
    QFETCH(QList<int>, expected);
    FRESH_URL(url, store);
    const QList<JournalRecord> records = fixture();
    {
        JournalStore writer(ParseJournalUrl(url));
        QVERIFY2(writer.open() && writer.write(records), qPrintable(writer.error()));
    }
    HistoryOptions options;
    options.filter = filter;
    options.format = HistoryFormat::Json;
    QString out;
    QString err;
    QCOMPARE(RunHistoryCommand(url, options, out, err), HistoryOk);
    QCOMPARE(err, QString());
    QStringList ids;
    for (const QJsonValue &value : QJsonDocument::fromJson(out.toUtf8()).array())
        ids << value[QStringLiteral("id")].toString();
    QStringList expectedIds;
    for (int i : expected)
        expectedIds << records[i].id.toString(QUuid::WithoutBraces);
    QCOMPARE(ids, expectedIds);
}

void TestJournal::migration_data()
{
    addStoreRows();
}

// A journal left at schema version 1 by an older tool is brought up to date when opened,
// keeping its records.
void TestJournal::migration()
{
    QFETCH(QString, store);
    FRESH_URL(url, store);
    const QList<JournalRecord> records = fixture();
    {
        JournalStore old(ParseJournalUrl(url));
        QVERIFY2(old.open(1), qPrintable(old.error()));
        QCOMPARE(old.schemaVersion().value_or(-1), 1);
        QVERIFY(old.write(records.mid(0, 2)));
    }
    Journal journal;
    journal.open({url, m_dir.filePath(QStringLiteral("outbox-m%1.sqlite").arg(m_databases))});
    journal.record(records[2]);
    QVERIFY(journal.waitForIdle(kWait));
    QCOMPARE(journal.state(), JournalState::Ready);

    JournalStore reader(ParseJournalUrl(url));
    QVERIFY2(reader.open(), qPrintable(reader.error()));
    QCOMPARE(reader.schemaVersion().value_or(-1), JournalSchemaVersion);
    QCOMPARE(reader.count().value_or(-1), 3);
    // Opening again migrates nothing and keeps the records.
    QVERIFY(reader.open());
    QCOMPARE(reader.count().value_or(-1), 3);
}

// The server goes away in the middle of a run: records wait in the outbox and reach the
// journal exactly once, when a later record finds the server again and through sync, even when
// one of them had already arrived before the outbox lost track of it.
void TestJournal::outage()
{
    FRESH_URL(url, QStringLiteral("postgresql"));
    const QString outbox = m_dir.filePath(QStringLiteral("outbox-outage.sqlite"));
    const QDateTime start(QDate(2024, 6, 1), QTime(9, 0), Qt::UTC);
    QList<JournalRecord> records;
    for (int n = 0; n < 12; ++n)
        records << makeRecord(n, start.addSecs(n));

    Journal journal;
    int problems = 0;
    connect(&journal, &Journal::problem, this, [&problems]() { ++problems; });
    journal.open({url, outbox});
    for (int n = 0; n < 3; ++n)
        journal.record(records[n]);
    QVERIFY(journal.waitForIdle(kWait));
    QCOMPARE(journal.counts().written, 3);

    QVERIFY(m_postgres->stop());
    for (int n = 3; n < 7; ++n) {
        journal.record(records[n]);
        QVERIFY(journal.waitForIdle(kWait));
    }
    QCOMPARE(journal.state(), JournalState::Offline);
    QCOMPARE(journal.counts().parked, 4);
    QCOMPARE(journal.counts().waiting, 4);
    QTRY_COMPARE(problems, 1);

    QVERIFY(m_postgres->start());
    journal.record(records[7]);
    QVERIFY(journal.waitForIdle(kWait));
    QCOMPARE(journal.state(), JournalState::Ready);
    QCOMPARE(journal.counts().forwarded, 4);
    QCOMPARE(journal.counts().waiting, 0);

    // Away again; the tool is closed with records still waiting.
    QVERIFY(m_postgres->stop());
    for (int n = 8; n < 12; ++n)
        journal.record(records[n]);
    QVERIFY(journal.waitForIdle(kWait));
    QCOMPARE(journal.counts().waiting, 4);
    journal.close();
    QVERIFY(m_postgres->start());
    {
        // As if a forward had committed record 8 and stopped before clearing the outbox.
        JournalStore server(ParseJournalUrl(url));
        QVERIFY(server.open() && server.write({records[8]}));
    }
    QString out;
    QString err;
    QCOMPARE(RunSyncCommand(url, outbox, out, err), HistoryOk);
    QVERIFY2(out.startsWith(QStringLiteral("4 records sent")), qPrintable(out));

    JournalStore server(ParseJournalUrl(url));
    QVERIFY(server.open());
    JournalFilter all;
    all.limit = 0;
    all.oldestFirst = true;
    const QList<JournalRecord> stored = server.read(all).value_or(QList<JournalRecord>());
    QCOMPARE(stored.size(), records.size());
    for (int n = 0; n < records.size(); ++n)
        QVERIFY2(stored[n] == records[n], qPrintable(QString::number(n)));
}

void TestJournal::unopenable_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("outbox");
    QTest::addColumn<JournalState>("state");
    QTest::addColumn<QString>("message");

    const QString junk = m_dir.filePath(QStringLiteral("junk.sqlite"));
    QFile file(junk);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'x'));
    file.close();
    QTest::newRow("not an address")
        << "mysql://127.0.0.1/j" << QString() << JournalState::Unusable << "not a journal address";
    QTest::newRow("folder cannot be made")
        << "sqlite:/proc/velqa/journal.sqlite" << QString() << JournalState::Unusable
        << "cannot create the folder /proc/velqa";
    QTest::newRow("not a database")
        << "sqlite:" + junk << QString() << JournalState::Unusable << "cannot open the journal";
    // Port 1 on loopback: nothing listens there.
    QTest::newRow("server absent, outbox unwritable")
        << "postgresql://postgres@127.0.0.1:1/j"
        << "/proc/velqa/outbox.sqlite" << JournalState::Offline << "does not answer";
}

// A journal that cannot be used says so once, and records cost nothing and are dropped.
void TestJournal::unopenable()
{
    QFETCH(QString, url);
    QFETCH(QString, outbox);
    QFETCH(JournalState, state);
    QFETCH(QString, message);
    Journal journal;
    QStringList problems;
    connect(&journal, &Journal::problem, this,
            [&problems](const QString &text) { problems << text; });
    journal.open({url, outbox});
    for (const JournalRecord &r : fixture())
        journal.record(r);
    QVERIFY(journal.waitForIdle(kWait));
    QCOMPARE(journal.state(), state);
    QCOMPARE(journal.counts().written + journal.counts().parked, 0);
    QCOMPARE(journal.counts().dropped, fixture().size());
    QTRY_VERIFY(!problems.isEmpty());
    QVERIFY2(problems.first().contains(message), qPrintable(problems.first()));
    QCoreApplication::processEvents();
    // The absent server also reports its lost records, once.
    QCOMPARE(problems.size(), state == JournalState::Offline ? 2 : 1);
    QVERIFY(!journal.lastError().isEmpty());
}

void TestJournal::formats_data()
{
    QTest::addColumn<HistoryFormat>("format");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("absent");

    QTest::newRow("table: escaped, cut")
        << HistoryFormat::Table
        << QStringList{"SN\\x00\\x01\\x1b[2J\u00e9\u00ff", "2024-05-01 08:00:00",
                       "12345678901234567...", "6 records"}
        << QStringList{"\x1b", QString(QChar(0))};
    QTest::newRow("csv: quoted, bytes kept")
        << HistoryFormat::Csv
        << QStringList{"id,time,source,station,user,tool_version,address,operation",
                       "\"Reader Card Error, \"\"no\"\"\"",
                       "\"Asynchronous socket error 111.; line\nbreak\"",
                       QString::fromLatin1(kOddSerial), "\r\n"}
        << QStringList{};
    QTest::newRow("json") << HistoryFormat::Json << QStringList{} << QStringList{};
}

void TestJournal::formats()
{
    QFETCH(HistoryFormat, format);
    QFETCH(QStringList, present);
    QFETCH(QStringList, absent);
    QList<JournalRecord> records = fixture();
    records[1].station = QStringLiteral("12345678901234567890123456789");
    records[1].card = QByteArray("1234567890123456789012345");
    const QString text = format == HistoryFormat::Table ? FormatHistoryTable(records)
                         : format == HistoryFormat::Csv
                             ? FormatHistoryCsv(records)
                             : QString::fromUtf8(FormatHistoryJson(records));
    for (const QString &part : present)
        QVERIFY2(text.contains(part), qPrintable(part));
    for (const QString &part : absent)
        QVERIFY2(!text.contains(part), qPrintable(part));
    if (format != HistoryFormat::Json)
        return;
    const QJsonArray array = QJsonDocument::fromJson(text.toUtf8()).array();
    QCOMPARE(array.size(), records.size());
    const QJsonObject first = array.first().toObject();
    QCOMPARE(first.keys(),
             (QStringList{"address", "card", "duration_ms", "errors", "id", "loop", "operation",
                          "outcome", "serial", "slots", "source", "station", "status", "time",
                          "tool_version", "user", "version"}));
    QCOMPARE(first["serial"].toString(), QString::fromLatin1(kOddSerial));
    QCOMPARE(first["time"].toString(), QStringLiteral("2024-05-01T08:00:00.000Z"));
    QVERIFY(first["card"].isNull());
    QCOMPARE(first["slots"][1]["data"].toString(), QString::fromLatin1("a\0b", 3));
    QCOMPARE(first["slots"][1]["slot"].toInt(), 2);
    QCOMPARE(array[1]["errors"].toArray().size(), 2);
    QVERIFY(array[1]["version"].isNull());
}

void TestJournal::choice_data()
{
    QTest::addColumn<QString>("explicitUrl");
    QTest::addColumn<QString>("environment");
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("origin");

    QTest::newRow("option first") << "sqlite:/a"
                                  << "sqlite:/b"
                                  << "sqlite:/c"
                                  << "--journal";
    QTest::newRow("then the variable") << ""
                                       << "sqlite:/b"
                                       << "sqlite:/c"
                                       << "VELQA_JOURNAL";
    QTest::newRow("then the setting") << ""
                                      << ""
                                      << "sqlite:/c"
                                      << "setting";
    QTest::newRow("then the default") << ""
                                      << ""
                                      << ""
                                      << "default";
}

void TestJournal::choice()
{
    QFETCH(QString, explicitUrl);
    QFETCH(QString, environment);
    QFETCH(QString, setting);
    QFETCH(QString, origin);
    {
        QSettings store(QSettings::NativeFormat, QSettings::SystemScope, "KAVRO", "LinkConfig");
        store.setValue(JournalSettingKey, setting);
    }
    if (environment.isEmpty())
        qunsetenv(JournalEnvironment);
    else
        qputenv(JournalEnvironment, environment.toUtf8());
    const JournalChoice choice = ChooseJournal(explicitUrl);
    qunsetenv(JournalEnvironment);
    QCOMPARE(choice.origin, origin);
    if (origin == QLatin1String("default")) {
        QCOMPARE(choice.url, DefaultJournalUrl());
        QVERIFY(choice.url.contains(QStringLiteral(".qttest")));
    }
}

void TestJournal::cli_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");

    QTest::newRow("history json") << QStringList{"history", "--json", "--operation", "scan"} << 0
                                  << "\"operation\": \"scan\"";
    QTest::newRow("history table")
        << QStringList{"--journal", "JOURNAL", "history", "--since", "2024-05-01 08:04"} << 0
        << "2 records";
    QTest::newRow("history csv") << QStringList{"history", "--csv", "--serial", "SN-5"} << 0
                                 << "\r\n";
    QTest::newRow("unknown operation")
        << QStringList{"history", "--operation", "dance"} << 2 << "unknown operation";
    QTest::newRow("bad time") << QStringList{"history", "--since", "May"} << 2 << "--since";
    QTest::newRow("two formats") << QStringList{"history", "--csv", "--json"} << 2
                                 << "do not go together";
    QTest::newRow("targets") << QStringList{"history", "127.0.0.1"} << 2 << "takes no targets";
    QTest::newRow("sync, local journal") << QStringList{"sync"} << 0 << "Nothing to send";
    QTest::newRow("unopenable") << QStringList{"history", "--journal", "sqlite:/proc/x/j"} << 1
                                << "cannot create the folder";
}

void TestJournal::cli()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    const QString url = freshUrl(QStringLiteral("sqlite"));
    {
        JournalStore writer(ParseJournalUrl(url));
        QVERIFY(writer.open() && writer.write(fixture()));
    }
    arguments.replaceInStrings(QStringLiteral("JOURNAL"), url);
    if (!arguments.contains(QStringLiteral("--journal")))
        arguments << QStringLiteral("--journal") << url;
    const CliRun run = runCli(arguments);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2((run.out + run.err).contains(output), qPrintable(run.out + run.err));
}

void TestJournal::cliRun_data()
{
    QTest::addColumn<QString>("store");
    QTest::addColumn<QStringList>("options"); // "URL": the fresh journal
    QTest::addColumn<QString>("environment");
    QTest::addColumn<int>("records");
    QTest::addColumn<QString>("message");

    const QStringList given{"--journal", "URL"};
    QTest::newRow("sqlite") << "sqlite" << given << QString() << 4 << QString();
    QTest::newRow("postgresql") << "postgresql" << given << QString() << 4 << QString();
    QTest::newRow("from VELQA_JOURNAL") << "sqlite" << QStringList{} << "URL" << 4 << QString();
    QTest::newRow("postgresql away, then sync")
        << "postgresql away" << given << QString() << 4 << "does not answer";
    QTest::newRow("cannot be opened")
        << "sqlite" << QStringList{"--journal", "sqlite:/proc/velqa/j.sqlite"} << QString() << 0
        << "The journal cannot be opened";
    QTest::newRow("--no-journal") << "sqlite" << QStringList{"--no-journal"} << "URL" << 0
                                  << QString();
    QTest::newRow("VELQA_JOURNAL=off") << "sqlite" << QStringList{} << "off" << 0 << QString();
}

// A run of two modules records each one's scan and test; a journal that cannot be had costs one
// line on the error stream and changes no outcome or exit code; records for an absent server
// wait and reach it once, through sync.
void TestJournal::cliRun()
{
    QFETCH(QString, store);
    QFETCH(QStringList, options);
    QFETCH(QString, environment);
    QFETCH(int, records);
    QFETCH(QString, message);
    const bool away = store == QLatin1String("postgresql away");
    const QString kind = away ? QStringLiteral("postgresql") : store;
    FRESH_URL(url, kind);
    options.replaceInStrings(QStringLiteral("URL"), url);
    environment.replace(QStringLiteral("URL"), url);
    SimFleet fleet;
    QVERIFY2(fleet.listen(QHostAddress(QStringLiteral("127.0.16.1")), 2),
             qPrintable(fleet.errorString()));
    if (away)
        QVERIFY(m_postgres->stop());
    if (!environment.isEmpty())
        qputenv(JournalEnvironment, environment.toUtf8());
    const CliRun run =
        runCli(QStringList{"reader-test", "127.0.16.1-2", "--port", QString::number(fleet.port())} +
               options);
    qunsetenv(JournalEnvironment);
    if (away)
        QVERIFY(m_postgres->start());
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.contains("2 modules: 2 succeeded"), qPrintable(run.out));
    if (message.isEmpty()) {
        QCOMPARE(run.err, QString());
    } else {
        QVERIFY2(run.err.startsWith("velqa-cli: ") && run.err.contains(message),
                 qPrintable(run.err));
        QCOMPARE(run.err.count('\n'), 1);
    }
    if (away) {
        QVERIFY2(runCli({"sync", "--journal", url}).out.startsWith("4 records sent"),
                 qPrintable(url));
        QVERIFY(runCli({"sync", "--journal", url}).out.startsWith("0 records sent"));
    }

    const CliRun history = runCli({"history", "--json", "--journal", url});
    QCOMPARE(history.exitCode, 0);
    const QJsonArray array = QJsonDocument::fromJson(history.out.toUtf8()).array();
    QCOMPARE(array.size(), records);
    QMap<QString, QStringList> operations;
    for (const QJsonValue &r : array) {
        const QString address = r["address"].toString();
        operations[address] << r["operation"].toString();
        QCOMPARE(r["source"].toString(), QStringLiteral("cli"));
        QCOMPARE(r["outcome"].toString(), QStringLiteral("success"));
        if (r["operation"] == QStringLiteral("scan")) {
            QCOMPARE(r["serial"].toString().toLatin1(), SimFleet::serialFor(QHostAddress(address)));
            QCOMPARE(r["slots"].toArray().size(), 8);
        } else {
            QCOMPARE(r["card"].toString(), QStringLiteral("04172635"));
        }
    }
    for (const QStringList &done : operations)
        QCOMPARE(done, (QStringList{"reader-test", "scan"}));
}

QTEST_GUILESS_MAIN(TestJournal)
#include "tst_journal.moc"

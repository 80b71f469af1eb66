#include "CliTestSupport.h"
#include "HistoryWindow.h"
#include "Journal.h"
#include "JournalStore.h"
#include "Language.h"
#include "MainWindow.h"
#include "MessageCatalogue.h"
#include "PostgresTestSupport.h"
#include "ReportReader.h"
#include "ReportRender.h"
#include "WebTestSupport.h"

#include <QAction>
#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMenu>
#include <QRegularExpression>
#include <QScreen>
#include <QSysInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebEngineView>
#include <QtTest>

#include <cmath>
#include <ctime>

// 10:00 in Berlin, where the tests' days are counted.
static const QDateTime kT0(QDate(2024, 5, 1), QTime(8, 0), Qt::UTC);

static JournalRecord record(int minutes, const char *station, const char *source,
                            const char *operation, const char *outcome, const QByteArray &serial,
                            const QByteArray &version, const char *address, const char *status,
                            qint64 ms)
{
    JournalRecord r = NewJournalRecord(QString::fromUtf8(source));
    r.time = kT0.addSecs(60 * minutes);
    r.station = QString::fromUtf8(station);
    r.operation = QString::fromUtf8(operation);
    r.outcome = QString::fromUtf8(outcome);
    r.serial = serial;
    r.version = version;
    r.address = QString::fromUtf8(address);
    r.status = QString::fromUtf8(status);
    r.durationMs = ms;
    return r;
}

// Two days of two stations; SN-OLD before the period, one record at its very end (left out).
static QList<JournalRecord> plant()
{
    const QByteArray none;
    return {
        record(0, "st-a", "window", "scan", "success", "SN-A", "V1", "10.0.0.1", "Ok.", 100),
        record(10, "st-a", "window", "scan", "no-reply", "SN-A", none, "10.0.0.1", "Error!", 200),
        record(20, "st-a", "cli", "reader-test", "error", none, none, "10.0.0.9",
               "Reader Card Error", 300),
        record(30, "st-b", "cli", "scan", "success", "SN-B", "V1", "10.0.0.2", "Ok.", 400),
        record(40, "st-b", "window", "scan", "success", "SN-A", "V2", "10.0.0.3", "Ok.", 50),
        record(50, "st-b", "cli", "provision", "changed", "SN-B", "V2", "10.0.0.2", "", 60),
        record(60, "st-b", "cli", "provision", "unchanged", "SN-C", "V1", "10.0.0.4", "", 70),
        record(1440, "st-a", "window", "loop-test", "not-connected", none, none, "10.0.0.1",
               "Start Scan Module!", 0),
        record(1450, "st-a", "window", "reader-test", "no-reply", "SN-C", "V1", "10.0.0.4",
               "读卡测试错误", 500),
        record(-4320, "st-a", "cli", "scan", "success", "SN-OLD", "V0", "10.0.0.8", "Ok.", 100),
        record(2280, "st-a", "cli", "scan", "error", "SN-A", "V3", "10.0.0.7", "Error!", 900)};
}

// The period of the fixture: 1 and 2 May in Berlin.
static ReportQuery period()
{
    ReportQuery query;
    query.zone = QTimeZone("Europe/Berlin");
    query.since = QDate(2024, 5, 1).startOfDay(query.zone);
    query.until = QDate(2024, 5, 3).startOfDay(query.zone);
    query.staleDays = 2;
    return query;
}

static QString tallies(const char *name, const QList<ReportTally> &list)
{
    QStringList parts;
    for (const ReportTally &t : list)
        parts << QStringLiteral("%1 %2/%3").arg(t.key).arg(t.records).arg(t.successes);
    return QString::fromLatin1(name) + QLatin1Char(' ') + parts.join(QStringLiteral(", "));
}

// Every figure of a report as lines of text, to compare with what the fixture must give.
static QStringList figures(const ReportData &r)
{
    QStringList lines{QStringLiteral("records %1 successes %2 modules %3 unknown %4")
                          .arg(r.records)
                          .arg(r.successes)
                          .arg(r.modulesSeen)
                          .arg(r.recordsWithoutSerial),
                      QStringLiteral("outcomes ") + r.outcomes.join(QLatin1Char(',')),
                      tallies("source", r.bySource), tallies("station", r.byStation),
                      tallies("operation", r.byOperation)};
    for (const ReportDay &day : r.days) {
        QStringList counts;
        for (auto it = day.outcomes.cbegin(); it != day.outcomes.cend(); ++it)
            counts << QStringLiteral("%1=%2").arg(it.key()).arg(it.value());
        lines << day.day.toString(Qt::ISODate) + QLatin1Char(' ') + counts.join(QLatin1Char(' '));
    }
    for (const ReportVersion &v : r.versions)
        lines << QStringLiteral("version %1 %2").arg(QString::fromLatin1(v.version)).arg(v.modules);
    for (const ReportFailingModule &m : r.mostFailures)
        lines << QStringLiteral("failing %1 %2 %3 %4 %5")
                     .arg(m.serial.isNull() ? QStringLiteral("-") : QString::fromLatin1(m.serial))
                     .arg(m.failures)
                     .arg(m.lastFailure.toString(Qt::ISODate), m.lastAddress, m.lastFailureStatus);
    for (const ReportDuration &d : r.durations)
        lines << QStringLiteral("duration %1 %2 %3 %4")
                     .arg(d.operation)
                     .arg(d.records)
                     .arg(d.medianMs)
                     .arg(d.p95Ms);
    for (const ReportStaleModule &m : r.stale)
        lines << QStringLiteral("stale %1 %2 %3 %4 of %5")
                     .arg(QString::fromLatin1(m.serial), m.lastSeen.toString(Qt::ISODate),
                          m.lastAddress, QString::fromLatin1(m.version))
                     .arg(r.staleModules);
    return lines;
}

class TestReport : public QObject
{
    Q_OBJECT

public:
    static void initMain() { PrepareWebTest(); }

private slots:
    void initTestCase()
    {
        // The station's own zone, where a record at 23:30 is still on its day.
        qputenv("TZ", "Europe/Berlin");
        tzset();
        (void)MessageCatalogue::instance();
        QVERIFY(m_dir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, m_dir.path());
        m_sqlite = QStringLiteral("sqlite:") + m_dir.filePath(QStringLiteral("plant.sqlite"));
        JournalStore store(ParseJournalUrl(m_sqlite));
        QVERIFY(store.open() && store.write(plant()));
    }

    void aggregates_data();
    void aggregates();
    void days_data();
    void days();
    void hostileBytes();
    void contrast();
    void command_data();
    void command();
    void historyWindow();

private:
    // The journal at `store` ("sqlite", "postgresql"), holding `records`.
    QString journal(const QString &store, const QList<JournalRecord> &records)
    {
        static int made = 0;
        const QString name = QStringLiteral("j%1").arg(++made);
        QString url = QStringLiteral("sqlite:") + m_dir.filePath(name + QStringLiteral(".sqlite"));
        if (store == QLatin1String("postgresql")) {
            if (!PostgresTestServer::available())
                return QString();
            QString error;
            if (!m_server && !(m_server = std::make_unique<PostgresTestServer>())->create(&error))
                qWarning("%s", qPrintable(error));
            url = m_server->createDatabase(name);
        }
        JournalStore writer(ParseJournalUrl(url));
        return writer.open() && writer.write(records) ? url : QString();
    }

    QTemporaryDir m_dir;
    QString m_sqlite;
    std::unique_ptr<PostgresTestServer> m_server;
};

void TestReport::aggregates_data()
{
    QTest::addColumn<QString>("store");
    QTest::addColumn<QString>("station");
    QTest::addColumn<QByteArray>("serial");
    QTest::addColumn<QStringList>("expected");
    const QStringList all{"records 9 successes 5 modules 3 unknown 2",
                          "outcomes success,changed,unchanged,no-reply,not-connected,error",
                          "source window 5/2, cli 4/3",
                          "station st-a 5/1, st-b 4/4",
                          "operation scan 4/3, provision 2/2, reader-test 2/0, loop-test 1/0",
                          "2024-05-01 changed=1 error=1 no-reply=1 success=3 unchanged=1",
                          "2024-05-02 no-reply=1 not-connected=1",
                          "version V2 2",
                          "version V1 1",
                          "failing - 2 2024-05-02T08:00:00Z 10.0.0.1 Start Scan Module!",
                          "failing SN-C 1 2024-05-02T08:10:00Z 10.0.0.4 读卡测试错误",
                          "failing SN-A 1 2024-05-01T08:10:00Z 10.0.0.3 Error!",
                          "duration loop-test 1 0 0",
                          "duration provision 2 60 70",
                          "duration reader-test 2 300 500",
                          "duration scan 4 100 400",
                          "stale SN-OLD 2024-04-28T08:00:00Z 10.0.0.8 V0 of 1"};
    const QStringList stationB{"records 4 successes 4 modules 3 unknown 0",
                               "outcomes success,changed,unchanged",
                               "source cli 3/3, window 1/1",
                               "station st-b 4/4",
                               "operation provision 2/2, scan 2/2",
                               "2024-05-01 changed=1 success=2 unchanged=1",
                               "2024-05-02 ",
                               "version V2 2",
                               "version V1 1",
                               "duration provision 2 60 70",
                               "duration scan 2 50 400"};
    for (const char *store : {"sqlite", "postgresql"}) {
        QTest::addRow("%s all", store) << store << QString() << QByteArray() << all;
        QTest::addRow("%s one station", store) << store << "st-b" << QByteArray() << stationB;
        QTest::addRow("%s one module", store)
            << store << QString() << QByteArray("SN-A")
            << QStringList{"records 3 successes 2 modules 1 unknown 0",
                           "outcomes success,no-reply",
                           "source window 3/2",
                           "station st-a 2/1, st-b 1/1",
                           "operation scan 3/2",
                           "2024-05-01 no-reply=1 success=2",
                           "2024-05-02 ",
                           "version V2 1",
                           "failing SN-A 1 2024-05-01T08:10:00Z 10.0.0.3 Error!",
                           "duration scan 3 100 200"};
        QTest::addRow("%s empty", store) << store << QString() << QByteArray()
                                         << QStringList{"records 0 successes 0 modules 0 unknown 0",
                                                        "outcomes ",
                                                        "source ",
                                                        "station ",
                                                        "operation ",
                                                        "2024-05-01 ",
                                                        "2024-05-02 "};
    }
}

void TestReport::aggregates()
{
    QFETCH(QString, store);
    QFETCH(QString, station);
    QFETCH(QByteArray, serial);
    QFETCH(QStringList, expected);
    const bool empty = QByteArray(QTest::currentDataTag()).endsWith("empty");
    const QString url = store == QLatin1String("sqlite") && !empty
                            ? m_sqlite
                            : journal(store, empty ? QList<JournalRecord>() : plant());
    if (url.isEmpty())
        QSKIP("no PostgreSQL server here");
    ReportQuery query = period();
    query.station = station;
    query.serial = serial;
    query.staleDays = serial.isNull() && !empty ? 2 : -1;
    QString error;
    const std::optional<ReportData> report = ReadReport(url, query, &error);
    QVERIFY2(report, qPrintable(error));
    QCOMPARE(figures(*report), expected);
    QCOMPARE(QString::fromUtf8(RenderReportHtml(*report, 0)).contains("No records in this period."),
             empty);
}

void TestReport::days_data()
{
    QTest::addColumn<QString>("store");
    QTest::addColumn<QString>("zone");
    QTest::addColumn<QDateTime>("time");
    QTest::addColumn<QDate>("day");
    const auto utc = [](int d, int h, int m) {
        return QDateTime(QDate(2024, 5, d), QTime(h, m), Qt::UTC);
    };
    // The station's zone as TZ names it: 23:30 local is 21:30 UTC in May.
    QTest::newRow("23:30 local") << "sqlite" << QString() << utc(1, 21, 30) << QDate(2024, 5, 1);
    QTest::newRow("00:30 local") << "sqlite" << QString() << utc(1, 22, 30) << QDate(2024, 5, 2);
    QTest::newRow("summer time begins, 00:30")
        << "sqlite"
        << "Europe/Berlin" << QDateTime(QDate(2024, 3, 30), QTime(23, 30), Qt::UTC)
        << QDate(2024, 3, 31);
    // Midnight at 18:30 UTC: PostgreSQL's hour from 18:00 is split there.
    for (const char *store : {"sqlite", "postgresql"}) {
        QTest::addRow("%s, half-hour zone, 23:30", store)
            << store << "Asia/Kolkata" << utc(1, 18, 0) << QDate(2024, 5, 1);
        QTest::addRow("%s, half-hour zone, 00:10", store)
            << store << "Asia/Kolkata" << utc(1, 18, 40) << QDate(2024, 5, 2);
    }
}

void TestReport::days()
{
    QFETCH(QString, store);
    QFETCH(QString, zone);
    QFETCH(QDateTime, time);
    QFETCH(QDate, day);
    JournalRecord r = plant().first();
    r.time = time;
    const QString url = journal(store, {r});
    if (url.isEmpty())
        QSKIP("no PostgreSQL server here");
    ReportQuery query;
    if (!zone.isEmpty())
        query.zone = QTimeZone(zone.toLatin1());
    query.since = time.addDays(-3);
    query.until = time.addDays(3);
    QString error;
    const std::optional<ReportData> report = ReadReport(url, query, &error);
    QVERIFY2(report, qPrintable(error));
    QStringList counted;
    for (const ReportDay &d : report->days) {
        if (d.records() > 0)
            counted << d.day.toString(Qt::ISODate);
    }
    QCOMPARE(counted, QStringList{day.toString(Qt::ISODate)});
}

void TestReport::hostileBytes()
{
    // Markup, a script, an entity, terminal controls and text that reorders what is shown, in
    // every field a module or a station writes.
    const QByteArray bytes(
        "<script>alert(1)</script>\"'><img src=x onerror=alert(2)>&amp;\x1b[2J\xe2\x80\xae");
    // "%1" stays as it is: no text is filled in twice.
    const char *text = "<svg onload=alert(3)></svg><!--%1\u202e";
    JournalRecord r = record(0, text, text, text, text, bytes, bytes, text, text, 10);
    JournalRecord old = r;
    old.id = QUuid::createUuid();
    old.serial += "-old";
    old.time = kT0.addDays(-10);
    old.outcome = QStringLiteral("success");
    const QString url = journal(QStringLiteral("sqlite"), {r, old});
    ReportQuery query = period();
    QString error;
    const std::optional<ReportData> report = ReadReport(url, query, &error);
    QVERIFY2(report, qPrintable(error));
    QCOMPARE(report->mostFailures.size(), 1);
    QCOMPARE(report->stale.size(), 1);
    const QString html = QString::fromUtf8(RenderReportHtml(*report, 0));
    static const QStringList allowed{"html",    "head",   "meta",  "title",   "style", "body",
                                     "header",  "h1",     "h2",    "h3",      "p",     "strong",
                                     "section", "figure", "table", "caption", "thead", "tbody",
                                     "tr",      "th",     "td",    "svg",     "defs",  "pattern",
                                     "rect",    "line",   "path",  "circle",  "text",  "g"};
    const QRegularExpression tag(QStringLiteral("<([a-zA-Z][a-zA-Z0-9]*)([^>]*)>"));
    for (auto it = tag.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        QVERIFY2(allowed.contains(m.captured(1)), qPrintable(m.captured(0)));
        QVERIFY2(!m.captured(2).contains(QRegularExpression("\\son\\w+=|src=|href=")),
                 qPrintable(m.captured(0)));
    }
    QVERIFY(!html.contains(QStringLiteral("<!--")));
    QVERIFY(!html.contains(QRegularExpression("[\\x00-\\x08\\x0b-\\x1f\\x7f\\x{202e}]")));
    QVERIFY(html.contains(QStringLiteral("&lt;script&gt;alert(1)&lt;/script&gt;&quot;&#39;&gt;"
                                         "&lt;img src=x onerror=alert(2)&gt;&amp;amp;\\x1b[2J"
                                         "\\xe2\\x80\\xae")));
    QVERIFY(
        html.contains(QStringLiteral("&lt;svg onload=alert(3)&gt;&lt;/svg&gt;&lt;!--%1\\u202e")));
    // JSON keeps the module's bytes as they came.
    const QJsonObject json = QJsonDocument::fromJson(RenderReportJson(*report)).object();
    QCOMPARE(json["firmware_versions"].toArray().at(0)["version"].toString().toLatin1(), bytes);
}

void TestReport::contrast()
{
    const auto luminance = [](const QColor &c) {
        const auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    for (const QString &colour : ReportColours())
        QVERIFY2((1.05 / (luminance(QColor(colour)) + 0.05)) >= 4.5, qPrintable(colour));
}

void TestReport::command_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    const QString missing = m_dir.filePath(QStringLiteral("missing.sqlite"));
    QTest::newRow("json") << QStringList{"--json", "--since", "2024-05-02", "--until", "2024-05-03"}
                          << 0 << "\"records\": 2";
    QTest::newRow("until is left out")
        << QStringList{"--json", "--until", "2024-05-01"} << 0 << "\"records\": 1";
    QTest::newRow("page") << QStringList{"--html", "PAGE", "--language", "ChineseBIG5"} << 0
                          << "PAGE";
    QTest::newRow("neither") << QStringList{"--since", "2024-05-01"} << 2 << "--html FILE, --json";
    QTest::newRow("bad time") << QStringList{"--json", "--since", "May"} << 2 << "--since wants";
    QTest::newRow("backwards") << QStringList{"--json", "--since", "2024-05-03", "--until",
                                              "2024-05-01"}
                               << 2 << "ends before";
    QTest::newRow("bad language") << QStringList{"--json", "--language", "Klingon"} << 2
                                  << "--language wants";
    QTest::newRow("bad stale") << QStringList{"--json", "--stale", "-1"} << 2 << "--stale wants";
    QTest::newRow("no such journal")
        << QStringList{"--json", "--journal", "sqlite:" + missing} << 1 << "there is no file";
}

void TestReport::command()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    const QString page = m_dir.filePath(QStringLiteral("page.html"));
    arguments.replaceInStrings(QStringLiteral("PAGE"), page);
    if (!arguments.contains(QStringLiteral("--journal")))
        arguments << QStringLiteral("--journal") << m_sqlite;
    const CliRun run = runCli(QStringList{QStringLiteral("report")} + arguments);
    QCOMPARE(run.exitCode, exitCode);
    if (output == QLatin1String("PAGE")) {
        QFile file(page);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromUtf8(file.readAll()).contains(QStringLiteral("lang=\"zh-TW\"")));
    } else {
        QVERIFY2((run.out + run.err).contains(output), qPrintable(run.out + run.err));
    }
    // Reading never writes: a journal that is not there stays away.
    QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("missing.sqlite"))));
}

void TestReport::historyWindow()
{
    // This station's records of SN-A, in the window's own journal.
    QList<JournalRecord> records = plant();
    for (JournalRecord &r : records) {
        r.station = QSysInfo::machineHostName();
        r.time = QDateTime::currentDateTimeUtc().addSecs(-3600);
    }
    qputenv(JournalEnvironment, journal(QStringLiteral("sqlite"), records).toUtf8());
    SelectLanguage(1, QString::fromLatin1(LanguageNameGB));
    TfrmMain window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    OperationResult scan;
    scan.operation = Operation::Scan;
    scan.outcome = Outcome::Success;
    scan.address = QStringLiteral("127.0.0.1");
    scan.serial = "SN-A";
    emit window.operationFinished(scan);
    auto *hook = window.findChild<HistoryHook *>();
    QVERIFY(hook);
    QTest::keyClick(&window, Qt::Key_H, Qt::ControlModifier);
    QPointer<HistoryWindow> history = hook->historyWindow();
    QVERIFY(history);
    // The offscreen screen (800 x 600) is smaller than the window would be.
    const QSize room = window.screen()->availableGeometry().size();
    QVERIFY(history->width() <= room.width() && history->height() <= room.height());
    QSignalSpy ready(history.data(), &HistoryWindow::reportReady);
    QVERIFY(ready.wait(30000));
    QCOMPARE(ready.first().first().toBool(), true);
    QVERIFY(history->windowTitle().startsWith(QStringLiteral("历史记录")));
    QTRY_VERIFY(history->view()->title().endsWith(QStringLiteral("SN-A")));
    QTest::keyClick(history->view()->focusProxy() ? history->view()->focusProxy() : history.data(),
                    Qt::Key_Escape);
    QTRY_VERIFY(!history);

    // A server that takes the connection and says nothing: the window goes on at once.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    qputenv(JournalEnvironment, QStringLiteral("postgresql://velqa@127.0.0.1:%1/journal")
                                    .arg(silent.serverPort())
                                    .toUtf8());
    window.findChild<QAction *>(QStringLiteral("actHistory"))->trigger();
    // Whatever the window's thread had to do since is done, and the journal still says nothing.
    QCoreApplication::processEvents();
    history = hook->historyWindow();
    auto *status = history->findChild<QLabel *>(QStringLiteral("lblHistoryStatus"));
    QCOMPARE(status->text(), QStringLiteral("正在读取操作记录…"));
    QSignalSpy failed(history.data(), &HistoryWindow::reportReady);
    // The server takes the connection from the event loop, or already did.
    QTRY_VERIFY_WITH_TIMEOUT(silent.hasPendingConnections(), 10000);
    QTcpSocket *held = silent.nextPendingConnection();
    held->abort();
    QVERIFY(failed.wait(30000));
    QCOMPARE(failed.first().first().toBool(), false);
    QVERIFY(status->text().startsWith(QStringLiteral("无法读取操作记录")));
    // A right click on the module's page offers the window's menu, in the window's language.
    QString offered;
    QTimer::singleShot(0, &window, [&offered] {
        if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
            offered = menu->actions().value(0)->text();
            menu->close();
        }
    });
    auto *web = window.findChild<QWidget *>(QStringLiteral("webMain"));
    emit web->customContextMenuRequested(QPoint(10, 10));
    QCOMPARE(offered, QStringLiteral("历史记录…"));
    ResetLanguage();
}

QTEST_MAIN(TestReport)
#include "tst_report.moc"

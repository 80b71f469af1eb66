#include "Announcer.h"
#include "Beeper.h"
#include "ErrorBox.h"
#include "IndicatorShape.h"
#include "Journal.h"
#include "JournalStore.h"
#include "Language.h"
#include "LinkTestSupport.h"
#include "MainWindow.h"
#include "MessageCatalogue.h"
#include "RecordingDoubles.h"
#include "SignalClose.h"
#include "TestClock.h"
#include "WebTestSupport.h"
#include "simmodule.h"

#include <QAccessible>
#include <QApplication>
#include <QHostInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextDocumentFragment>
#include <QThread>
#include <QTimer>
#include <QWebEngineView>
#include <QtTest>

#include <csignal>
#include <memory>

// What a screen reader says while this lives: the name of each notification the window shows,
// read when asked, as a reader reads it when it comes to the event, after the window has gone on.
// Qt 6.8 and later announce by themselves: there, what the announcer said.
class Heard : public QObject
{
public:
    explicit Heard(QWidget *window)
        : m_said(window->findChild<Announcer *>("announcer"), &Announcer::announced)
    {
        for (Notice *notice : window->findChildren<Notice *>())
            notice->installEventFilter(this);
    }

    [[nodiscard]] QStringList texts() const
    {
        QStringList texts;
        for (int i = 0; QT_VERSION >= QT_VERSION_CHECK(6, 8, 0) && i < m_said.size(); ++i)
            texts << m_said.at(i).at(0).toString();
        for (QAccessibleInterface *notice : m_shown)
            texts << notice->text(QAccessible::Name);
        return texts;
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        QAccessibleInterface *face = QAccessible::queryAccessibleInterface(watched);
        if (event->type() == QEvent::Show && face->role() == QAccessible::Notification)
            m_shown << face;
        return false;
    }

private:
    QSignalSpy m_said;
    QList<QAccessibleInterface *> m_shown;
};

// The window driven as a technician drives it, against a simulated module on loopback.
class TestMainWindow : public QObject
{
    Q_OBJECT

public:
    static void initMain() { PrepareWebTest(); }

private slots:
    void initTestCase()
    {
        (void)MessageCatalogue::instance();
        QVERIFY(m_store.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, m_store.path());
        setBeeper(&m_beeper);
        setErrorPresenter(&m_presenter);
        // Each window keeps its journal in this run's own folder.
        qputenv(JournalEnvironment, "sqlite:" + QFile::encodeName(m_store.filePath("j.sqlite")));
        // And the outbox of a journal that cannot be written.
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_store.filePath("data")));
    }

    void init()
    {
        QSettings store(QSettings::NativeFormat, QSettings::SystemScope, "KAVRO", "LinkConfig");
        store.clear();
        store.sync();
        ResetLanguage();
        m_beeper.Clear();
        m_presenter.Clear();
        m_presenter.SetWhileOpen({});
        m_sim = std::make_unique<SimModule>();
        m_sim->setRecording(true);
        QVERIFY(m_sim->listen(m_address, 0));
        createWindow();
    }

    void createWindow()
    {
        m_window = std::make_unique<TfrmMain>();
        m_window->link().setPort(m_sim->port());
        // The operations' waits pass in virtual time.
        m_clock = std::make_unique<TestClock>();
        m_window->link().setClock(m_clock.get());
        m_results.clear();
        connect(m_window.get(), &TfrmMain::operationFinished, this,
                [this](const OperationResult &result) { m_results << result; });
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        setIp(m_address.toString());
    }

    void cleanup()
    {
        m_window.reset();
        m_clock.reset();
        m_sim.reset();
    }

    void scanGoodModule()
    {
        // The web page is served where a bare address leads: port 80 of the module's address.
        const bool page = m_sim->listenHttp(m_address, 80);
        click("btnScan");

        QCOMPARE(text("pnSerial"), QStringLiteral("S/N : VQ240817"));
        QCOMPARE(text("pnVersion"), QStringLiteral("VER : 03.21-01"));
        const auto *list = m_window->findChild<QListWidget *>("lstData");
        QCOMPARE(list->count(), 8);
        QCOMPARE(list->item(0)->text(), QStringLiteral("(01) ") + m_sim->slotData(1));
        QCOMPARE(list->item(7)->text(), QStringLiteral("(08) ") + m_sim->slotData(8));
        QCOMPARE(text("pnMsg"), QStringLiteral("Ok."));
        QCOMPARE(indicator(), IndicatorColour::Yellow);
        QCOMPARE(m_beeper.beeps(), (QList<BeepRecord>{{1000, 300}}));
        QVERIFY(m_window->WindowEnabled());
        for (const char *name : {"btnSetData", "btnClear", "btnReader", "btnLoop"})
            QVERIFY2(button(name)->isEnabled(), name);
        auto *web = m_window->findChild<QWebEngineView *>("webMain");
        // The engine takes the address once its own process runs, which a busy machine delays.
        QTRY_COMPARE_WITH_TIMEOUT(web->url(), QUrl("http://" + m_address.toString() + "/"), 10000);
        if (page)
            QTRY_COMPARE_WITH_TIMEOUT(web->title(), QStringLiteral("VELQA Module VQ240817"), 10000);
        QVERIFY(m_presenter.messages().isEmpty());
    }

    void scanRefused()
    {
        SimFaults refuse;
        refuse.refuseConnections = true;
        m_sim->setFaults(refuse);
        // The technician reads the box for eight seconds: their time, not the module's.
        m_presenter.SetWhileOpen([this](const QString &) { m_clock->Sleep(8000); });
        const Heard heard(m_window.get());
        click("btnScan");
        QCOMPARE(m_results.size(), 1);
        QVERIFY2(m_results.first().durationMs >= 500 && m_results.first().durationMs < 1000,
                 qPrintable(QString::number(m_results.first().durationMs)));
        QCOMPARE(text("pnMsg"), QStringLiteral("Error!"));
        QCOMPARE(heard.texts(), (QStringList{"Connecting...", "Error!"}));
        QCOMPARE(indicator(), IndicatorColour::Red);
        QCOMPARE(m_beeper.beeps(), (QList<BeepRecord>{{300, 300}}));
        // The refusal is the socket's own report, shown in the error box from within the wait.
        QCOMPARE(m_presenter.messages(), QStringList{"Asynchronous socket error 111"});
        QVERIFY(m_window->WindowEnabled());
        QVERIFY(!button("btnLoop")->isEnabled());
    }

    void errorInHandlerReenablesWindow()
    {
        setIp(QString());
        click("btnScan");
        QCOMPARE(m_presenter.messages(), QStringList{"No address specified"});
        QCOMPARE(m_presenter.shownTexts(), QStringList{"No address specified."});
        QCOMPARE(text("pnMsg"), QStringLiteral("Disconnect."));
        QVERIFY(m_beeper.beeps().isEmpty());
        QCOMPARE(indicator(), IndicatorColour::Red);
        QVERIFY(m_window->WindowEnabled());
        QVERIFY(!QApplication::overrideCursor());
    }

    void linkEventsDriveStatusAndButtons()
    {
        connectLink();
        QCOMPARE(text("pnMsg"), QStringLiteral("Connect Ok."));
        for (const char *name : {"btnSetData", "btnClear", "btnReader", "btnLoop"})
            QVERIFY2(button(name)->isEnabled(), name);

        m_sim->disconnectClient();
        QTRY_VERIFY(!m_window->link().ConnectedFlag());
        QCOMPARE(text("pnMsg"), QStringLiteral("Disconnect."));
        for (const char *name : {"btnSetData", "btnClear", "btnReader", "btnLoop"})
            QVERIFY2(!button(name)->isEnabled(), name);
    }

    void linkEventsInChinese()
    {
        click("btnBIG5");
        connectLink();
        QCOMPARE(text("pnMsg"), QStringLiteral("連線完成."));
    }

    void disconnectDuringBeginOperation()
    {
        connectLink();
        m_sim->disconnectClient();
        // The close reaches the tool while it dispatches nothing; the operation's own dispatch
        // at its start delivers it.
        QThread::msleep(100);
        QVERIFY(m_window->link().ConnectedFlag());
        m_sim->clearReceived();
        click("btnLoop");
        QCOMPARE(text("pnMsg"), QStringLiteral("Start Scan Module!"));
        QCOMPARE(indicator(), IndicatorColour::Red);
        QCOMPARE(m_beeper.beeps(), (QList<BeepRecord>{{300, 300}}));
        QCOMPARE(m_sim->received(), QByteArray());
        QVERIFY(m_window->WindowEnabled());
        QVERIFY(!QApplication::overrideCursor());
    }

    void operationsShowTheirResults()
    {
        connectLink();
        const Heard heard(m_window.get());
        click("btnLoop");
        QCOMPARE(text("edLoop"), QStringLiteral("Loop Test Ok."));
        QCOMPARE(text("pnMsg"), QStringLiteral("Loop Test Ok"));
        click("btnReader");
        QCOMPARE(text("edCardID"), QStringLiteral("04172635"));
        QCOMPARE(text("pnMsg"), QStringLiteral("Reader Card Ok"));
        click("btnSetData");
        QCOMPARE(text("pnMsg"), QStringLiteral("Set Data Ok"));
        QCOMPARE(m_beeper.beeps(), (QList<BeepRecord>{{1000, 300}, {1000, 300}, {1000, 300}}));
        QCOMPARE(indicator(), IndicatorColour::Yellow);
        // Each outcome is said, a repeated one again.
        click("btnSetData");
        QCOMPARE(heard.texts(),
                 (QStringList{"Loop Test Ok", "Reader Card Ok", "Set Data Ok", "Set Data Ok"}));
    }

    void inputIsBlockedWhileAnOperationRuns()
    {
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        connectLink();
        SimFaults silent;
        silent.silent = true;
        m_sim->setFaults(silent);
        bool enabledDuring = true;
        bool hourglassDuring = false;
        int clicksDuring = 0;
        connect(button("btnRefresh"), &QPushButton::clicked, this, [&] { ++clicksDuring; });
        m_clock->after(300, [&] {
            enabledDuring = m_window->WindowEnabled();
            hourglassDuring = QApplication::overrideCursor() != nullptr;
            // Painting goes on, and the controls keep their normal look.
            QVERIFY(button("btnRefresh")->isEnabled());
            QTest::mouseClick(button("btnRefresh"), Qt::LeftButton);
            QTest::keyClick(m_window->findChild<QWidget *>("edIP"), Qt::Key_F5);
            dropOnIp();
        });
        click("btnSetData");
        QVERIFY(!enabledDuring);
        QVERIFY(hourglassDuring);
        QCOMPARE(clicksDuring, 0);
        QCOMPARE(m_results.size(), 1); // no scan from F5 either
        QCOMPARE(text("edIP"), m_address.toString());
        QCOMPARE(text("pnMsg"), QStringLiteral("Set Data Error"));
        QVERIFY(m_window->WindowEnabled());
        QVERIFY(!QApplication::overrideCursor());
        // Once the operation is over the field takes drops again: the drop above was a real one.
        dropOnIp();
        QVERIFY(text("edIP").contains("127.0.0.99"));
    }

    void refreshShowsTheModulePage_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::newRow("with the module connected") << true;
        QTest::newRow("with no module connected") << false;
    }

    void refreshShowsTheModulePage()
    {
        QFETCH(bool, connected);
        QVERIFY(m_sim->listenHttp(m_address, 0));
        if (connected)
            connectLink();
        setIp(QStringLiteral("%1:%2").arg(m_address.toString()).arg(m_sim->httpPort()));
        click("btnRefresh");
        auto *web = m_window->findChild<QWebEngineView *>("webMain");
        QTRY_COMPARE_WITH_TIMEOUT(web->title(), QStringLiteral("VELQA Module VQ240817"), 10000);
        QCOMPARE(indicator(), IndicatorColour::Yellow);
        QCOMPARE(m_beeper.beeps(), (QList<BeepRecord>{{1000, 300}}));
        QVERIFY(m_window->WindowEnabled());
    }

    void refreshWithEmptyAddress()
    {
        setIp(QString());
        click("btnRefresh");
        auto *web = m_window->findChild<QWebEngineView *>("webMain");
        QVERIFY(web->url().isEmpty());
        QCOMPARE(indicator(), IndicatorColour::Yellow);
        QCOMPARE(m_beeper.beeps(), (QList<BeepRecord>{{1000, 300}}));
        QVERIFY(m_window->WindowEnabled());
        QVERIFY(m_presenter.messages().isEmpty());
    }

    void enterInTheAddressFieldScans()
    {
        SimFaults refuse;
        refuse.refuseConnections = true;
        m_sim->setFaults(refuse);
        auto *ip = m_window->findChild<QLineEdit *>("edIP");
        ip->setFocus();
        QTest::keyClick(ip, Qt::Key_Return);
        QVERIFY(m_window->isVisible());
        QCOMPARE(text("pnMsg"), QStringLiteral("Error!"));
    }

    void keys_data()
    {
        QTest::addColumn<QString>("focus"); // none: the address field, where the window starts
        QTest::addColumn<QKeySequence>("keys");
        QTest::addColumn<QString>("shown"); // in the status panel, or the scan button's caption
        QTest::addColumn<int>("beeps");
        QTest::addColumn<QStringList>("heard"); // said by a screen reader, the focus staying

        const QString idle = QStringLiteral("Start Scan Module");
        QTest::newRow("F5 scans") << "" << QKeySequence(Qt::Key_F5) << "Ok." << 1
                                  << QStringList{"Connecting...", "Connect Ok.", "Ok."};
        QTest::newRow("F6 with its button disabled")
            << "" << QKeySequence(Qt::Key_F6) << idle << 0 << QStringList();
        QTest::newRow("Ctrl+3") << "" << QKeySequence(Qt::CTRL | Qt::Key_3) << u8"掃描模組" << 0
                                << QStringList{u8"語言：繁體中文"};
        QTest::newRow("Enter on the focused button")
            << "btnRefresh" << QKeySequence(Qt::Key_Return) << idle << 1 << QStringList();
        QTest::newRow("Space on the focused button")
            << "btnGB" << QKeySequence(Qt::Key_Space) << u8"扫描模组" << 0
            << QStringList{u8"语言：简体中文"};
    }

    void keys()
    {
        QFETCH(QString, focus);
        QFETCH(QKeySequence, keys);
        QFETCH(QString, shown);
        QFETCH(int, beeps);
        QFETCH(QStringList, heard);
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        QWidget *target = focus.isEmpty() ? m_window->findChild<QWidget *>("edIP")
                                          : button(focus.toLatin1().constData());
        target->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), target);
        const Heard said(m_window.get());
        QTest::keySequence(target, keys);
        QVERIFY2(text("pnMsg") == shown || button("btnScan")->text() == shown, qPrintable(shown));
        QCOMPARE(m_results.size(), beeps);
        QCOMPARE(m_beeper.beeps().size(), beeps);
        QCOMPARE(said.texts(), heard);
        QCOMPARE(QApplication::focusWidget(), target);
    }

    void badAddresses_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("throughTable");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("status");

        const QString notStarted = QStringLiteral(
            "Windows socket error: Invalid argument (22), on API 'WSAASyncGetHostByName'");
        const QString notFound =
            QStringLiteral("Windows socket error: Unknown host (1), on API 'ASync Lookup'");
        // "@" stands for this run's own loopback address.
        QTest::newRow("empty") << "" << false << "No address specified"
                               << "Disconnect.";
        QTest::newRow("only spaces") << "   " << false << notStarted << "Disconnect.";
        QTest::newRow("300 characters")
            << QString(300, 'a') << false << notStarted << "Disconnect.";
        QTest::newRow("a web location")
            << "http://127.0.0.1/" << false << notStarted << "Disconnect.";
        QTest::newRow("address and a port that is not one")
            << "127.0.0.1:http" << false << notStarted << "Disconnect.";
        QTest::newRow("non-ASCII name") << "模組.invalid" << true << notFound << "Error!";
        // Numbers that are not four decimal parts are never looked up, so never reach DNS.
        QTest::newRow("256.1.1.1") << "256.1.1.1" << false << notFound << "Error!";
        QTest::newRow("127.1") << "127.1" << false << notFound << "Error!";
        // The port is the web page's: the module is scanned on its own port.
        QTest::newRow("address and the page's port") << "@:8080" << false << ""
                                                     << "Ok.";
        QTest::newRow("unknown name") << "no-such-module.invalid" << true << notFound << "Error!";
        QTest::newRow("spaces around the address") << "  @ " << false << ""
                                                   << "Ok.";
        QTest::newRow("localhost") << "localhost" << false << ""
                                   << "Ok.";
        QTest::newRow("::1") << "::1" << false << ""
                             << "Ok.";
    }

    void badAddresses()
    {
        QFETCH(QString, typed);
        QFETCH(bool, throughTable);
        QFETCH(QString, error);
        QFETCH(QString, status);

        // Names that would go to DNS are answered from an empty table instead.
        TableResolver table;
        if (throughTable)
            m_window->link().setResolver(&table);
        std::unique_ptr<SimModule> other;
        if (typed == "::1" || typed == "localhost") {
            const QHostAddress address = typed == "::1"
                                             ? QHostAddress(QHostAddress::LocalHostIPv6)
                                             : QHostInfo::fromName(typed).addresses().value(0);
            other = std::make_unique<SimModule>();
            if (!other->listen(address, 0))
                QSKIP("no loopback listener for this name here");
            m_window->link().setPort(other->port());
        }
        setIp(QString(typed).replace('@', m_address.toString()));
        click("btnScan");

        QCOMPARE(m_presenter.messages(), error.isEmpty() ? QStringList() : QStringList{error});
        QCOMPARE(text("pnMsg"), status);
        QVERIFY(m_window->WindowEnabled());
        QVERIFY(!QApplication::overrideCursor());
        if (status == "Ok.")
            QCOMPARE(text("pnSerial"), QStringLiteral("S/N : VQ240817"));
        if (throughTable)
            QCOMPARE(table.asked.size(), 1);
        m_window->link().setResolver(nullptr);
    }

    void journalRecordsTheScan_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("problem");
        QTest::newRow("recorded") << "scan.sqlite" << QString();
        QTest::newRow("journal cannot be opened: records wait")
            << "/proc/<b>velqa</b>/journal.sqlite"
            << "The journal at sqlite:/proc/<b>velqa</b>/journal.sqlite cannot be written (cannot "
               "create the folder /proc/<b>velqa</b>); records wait in " +
                   m_store.filePath("data/velqa/journal-outbox-sqlite-journal.sqlite-");
    }

    // One scan, one record; a journal that cannot be opened says so in the status panel's tool
    // tip, in no box, and the scan goes on as ever.
    void journalRecordsTheScan()
    {
        QFETCH(QString, url);
        QFETCH(QString, problem);
        url = "sqlite:" + QDir(m_store.path()).filePath(url); // an absolute one stays as it is
        const QByteArray before = qgetenv(JournalEnvironment);
        qputenv(JournalEnvironment, url.toUtf8());
        createWindow();
        qputenv(JournalEnvironment, before);
        click("btnScan");
        QCOMPARE(text("pnMsg"), QStringLiteral("Ok."));
        QCOMPARE(m_results.size(), 1);
        if (!problem.isEmpty()) {
            const QWidget *panel = m_window->findChild<QWidget *>("pnMsg");
            // As the technician sees it: markup in a path is shown, not obeyed.
            const auto shown = [panel] {
                return QTextDocumentFragment::fromHtml(panel->toolTip()).toPlainText();
            };
            QTRY_VERIFY2(shown().startsWith(problem), qPrintable(panel->toolTip()));
            QVERIFY(panel->accessibleDescription().startsWith(problem));
            QVERIFY(m_presenter.messages().isEmpty());
            return;
        }
        const qint64 durationMs = m_results.first().durationMs;
        // The window going writes what is queued.
        m_window.reset();
        JournalStore reader(ParseJournalUrl(url));
        QVERIFY2(reader.open(), qPrintable(reader.error()));
        const QList<JournalRecord> records = reader.read({}).value_or(QList<JournalRecord>());
        QCOMPARE(records.size(), 1);
        const JournalRecord &r = records.first();
        QCOMPARE(r.source, QStringLiteral("window"));
        QCOMPARE(r.operation, QStringLiteral("scan"));
        QCOMPARE(r.serial, QByteArray("VQ240817"));
        QCOMPARE(r.slotsRead.value(7), (JournalSlot{8, m_sim->slotData(8)}));
        // The test clock's time, the web page step's 2000 ms wait included.
        QCOMPARE(r.durationMs, durationMs);
    }

    void exitWhileConnected()
    {
        connectLink();
        click("btnExit");
        QVERIFY(!m_window->isVisible());
        QVERIFY(!m_window->link().ConnectedFlag());
        QCOMPARE(text("pnMsg"), QStringLiteral("Disconnect."));
        QTRY_VERIFY(!m_sim->hasClient());
    }

    void screenReaderHearsTheScan()
    {
        // Only on an accessibility bus (tests/atspi/run-atspi.sh): the checker reads the window
        // over AT-SPI, presses Scan Module by its accessible action and listens for the names.
        const QString checker = qEnvironmentVariable("VELQA_ATSPI_CHECKER");
        if (checker.isEmpty())
            QSKIP("needs an AT-SPI bus: run through tests/atspi/run-atspi.sh");
        QProcess reader;
        reader.setProcessChannelMode(QProcess::MergedChannels);
        reader.start(QStringLiteral("/usr/bin/python3"),
                     {checker, QString::number(QCoreApplication::applicationPid())});
        QSignalSpy finished(&reader, &QProcess::finished);
        QVERIFY(finished.wait(120000));
        QVERIFY2(reader.exitCode() == 0, reader.readAll().constData());
        QCOMPARE(text("pnMsg"), QStringLiteral("Ok."));
    }

    void closeRequestDuringAnOperation_data()
    {
        QTest::addColumn<int>("signalNumber"); // 0: the window is asked to close
        QTest::addColumn<QByteArray>("button");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("operation");
        QTest::newRow("close while setting data")
            << 0 << QByteArray("btnSetData") << "Set Data Error"
            << "set-test-data";
        QTest::newRow("SIGTERM during a scan") << int(SIGTERM) << QByteArray("btnScan") << "Error!"
                                               << "scan";
    }

    // The operation in flight runs on to its end, finds the link closed, and its record is made.
    void closeRequestDuringAnOperation()
    {
        // Runs last: closing the last window asks the application to quit.
        QFETCH(int, signalNumber);
        QFETCH(QByteArray, button);
        QFETCH(QString, status);
        QFETCH(QString, operation);
        const QString url =
            "sqlite:" + m_store.filePath(QString::fromLatin1(QTest::currentDataTag()));
        const QByteArray before = qgetenv(JournalEnvironment);
        qputenv(JournalEnvironment, url.toUtf8());
        createWindow();
        qputenv(JournalEnvironment, before);
        SignalClose::Watch(m_window.get());
        connectLink();
        SimFaults silent;
        silent.silent = true;
        m_sim->setFaults(silent);
        m_clock->after(300, [this, signalNumber] {
            signalNumber ? void(::raise(signalNumber)) : void(m_window->close());
        });
        click(button.constData());
        QVERIFY(!m_window->isVisible());
        QVERIFY(!m_window->link().ConnectedFlag());
        QCOMPARE(text("pnMsg"), status);
        QVERIFY(m_window->WindowEnabled());
        QVERIFY(!QApplication::overrideCursor());

        m_window.reset(); // the tool ends
        JournalStore reader(ParseJournalUrl(url));
        QVERIFY2(reader.open(), qPrintable(reader.error()));
        const QList<JournalRecord> records = reader.read({}).value_or(QList<JournalRecord>());
        QCOMPARE(records.size(), 1);
        QCOMPARE(records.first().operation, operation);
        QCOMPARE(records.first().status, status);
    }

private:
    void setIp(const QString &address)
    {
        m_window->findChild<QLineEdit *>("edIP")->setText(address);
    }
    QPushButton *button(const char *name)
    {
        return m_window->findChild<QPushButton *>(QLatin1String(name));
    }
    void click(const char *name) { QTest::mouseClick(button(name), Qt::LeftButton); }
    QString text(const char *name)
    {
        QObject *control = m_window->findChild<QObject *>(QLatin1String(name));
        return control ? control->property("text").toString() : QString();
    }
    void dropOnIp()
    {
        auto *ip = m_window->findChild<QLineEdit *>("edIP");
        QMimeData mime;
        mime.setText(QStringLiteral("127.0.0.99"));
        const QPoint at = ip->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(ip, &enter);
        QDropEvent dropped(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(ip, &dropped);
    }
    IndicatorColour indicator()
    {
        return m_window->findChild<IndicatorShape *>("shComm")->colour();
    }
    void connectLink()
    {
        m_window->link().OpenLink(m_address.toString());
        QTRY_VERIFY(m_window->link().ConnectedFlag() && m_sim->hasClient());
    }

    // A loopback address of this test run's own, so that parallel runs never share a port.
    const QHostAddress m_address{QStringLiteral("127.%1.%2.%3")
                                     .arg(QRandomGenerator::global()->bounded(1, 255))
                                     .arg(QRandomGenerator::global()->bounded(1, 255))
                                     .arg(QRandomGenerator::global()->bounded(2, 255))};
    QTemporaryDir m_store;
    RecordingBeeper m_beeper;
    RecordingPresenter m_presenter;
    std::unique_ptr<SimModule> m_sim;
    std::unique_ptr<TestClock> m_clock;
    std::unique_ptr<TfrmMain> m_window;
    QList<OperationResult> m_results;
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

#include "ModulePage.h"
#include "WebPane.h"

#include <QApplication>
#include <QLabel>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebEngineView>
#include <QtTest>

#include <unistd.h>

// Answers GET / with a small page titled "Module page" and counts those requests; other paths
// serve the pages a test gives it.
class PageServer : public QObject
{
    Q_OBJECT

public:
    explicit PageServer(QObject *parent = nullptr) : QObject(parent)
    {
        connect(&m_server, &QTcpServer::newConnection, this, &PageServer::onNewConnection);
    }

    [[nodiscard]] bool Listen() { return m_server.listen(QHostAddress::LocalHost, 0); }
    [[nodiscard]] quint16 port() const { return m_server.serverPort(); }
    [[nodiscard]] int pageRequests() const { return m_pageRequests; }
    [[nodiscard]] int connections() const { return m_connections; }
    void setPage(const QByteArray &path, const QByteArray &body) { m_pages.insert(path, body); }

private:
    void onNewConnection()
    {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            ++m_connections;
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onRead(socket); });
        }
    }

    void onRead(QTcpSocket *socket)
    {
        QByteArray &request = m_pending[socket];
        request += socket->readAll();
        if (!request.contains("\r\n\r\n"))
            return;
        const QList<QByteArray> requestLine = request.left(request.indexOf("\r\n")).split(' ');
        m_pending.remove(socket);
        const QByteArray path = requestLine.value(1);
        QByteArray status = "404 Not Found";
        QByteArray body = "<html><body>nothing here</body></html>";
        if (path == "/") {
            ++m_pageRequests;
            status = "200 OK";
            body = "<html><head><title>Module page</title></head><body>serial 0001</body></html>";
        } else if (m_pages.contains(path)) {
            status = "200 OK";
            body = m_pages.value(path);
        }
        socket->write("HTTP/1.1 " + status +
                      "\r\nContent-Type: text/html\r\nCache-Control: no-store\r\n"
                      "Connection: close\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\n\r\n" + body);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_pending;
    QHash<QByteArray, QByteArray> m_pages;
    int m_pageRequests = 0;
    int m_connections = 0;
};

class TestWebPane : public QObject
{
    Q_OBJECT

private slots:
    void webLocation_data();
    void webLocation();
    void engineIsPreparedBeforeItStarts();
    void navigateLoadsThenRefreshReloads();
    void emptyTextLoadsNothing_data();
    void emptyTextLoadsNothing();
    void unreachableAddressIsNotAnError();
    void prepareKeepsUserFlags();
    void pageDialogs_data();
    void pageDialogs();
};

void TestWebPane::webLocation_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("location");

    QTest::newRow("bare address") << "127.0.0.1"
                                  << "http://127.0.0.1";
    QTest::newRow("host and port") << "localhost:8080"
                                   << "http://localhost:8080";
    QTest::newRow("address, port and path") << "127.0.0.1:8080/index.htm"
                                            << "http://127.0.0.1:8080/index.htm";
    QTest::newRow("full location") << "http://127.0.0.1/"
                                   << "http://127.0.0.1/";
    QTest::newRow("surrounding spaces") << "  127.0.0.1 "
                                        << "http://127.0.0.1";
    QTest::newRow("empty") << ""
                           << "";
    // Short numbers that the browser would complete to another address go nowhere.
    QTest::newRow("short number") << "127.1"
                                  << "";
    QTest::newRow("short number and port") << "127.0.77:8080"
                                           << "";
    QTest::newRow("short number in a location") << "http://user@0x7f.1/index.htm"
                                                << "";
    QTest::newRow("only spaces") << "   "
                                 << "";
}

void TestWebPane::webLocation()
{
    QFETCH(QString, typed);
    QFETCH(QString, location);
    const QUrl url = WebLocation(typed);
    QCOMPARE(url.toString(), location);
    QCOMPARE(url.isEmpty(), location.isEmpty());
}

void TestWebPane::engineIsPreparedBeforeItStarts()
{
    // The application object already exists, so the library's start-up hook has run.
    if (geteuid() == 0)
        QVERIFY(qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"));
    QVERIFY(qEnvironmentVariableIsSet("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY"));
    const QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    QVERIFY(flags.contains("--disable-background-networking"));
    QVERIFY(flags.contains("--disable-component-update"));
}

void TestWebPane::navigateLoadsThenRefreshReloads()
{
    PageServer server;
    QVERIFY(server.Listen());
    QWebEngineView view;
    view.resize(400, 300);
    view.show();
    WebPane pane(&view);
    QSignalSpy finished(&view, &QWebEngineView::loadFinished);

    pane.Navigate(QString("127.0.0.1:%1").arg(server.port()));

    QVERIFY(finished.wait(60000));
    QCOMPARE(finished.first().first().toBool(), true);
    QTRY_COMPARE_WITH_TIMEOUT(view.title(), QString("Module page"), 10000);
    QCOMPARE(view.url(), QUrl(QString("http://127.0.0.1:%1/").arg(server.port())));
    QCOMPARE(server.pageRequests(), 1);

    pane.Refresh();
    QTRY_COMPARE_WITH_TIMEOUT(server.pageRequests(), 2, 30000);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 30000);
    QCOMPARE(finished.last().first().toBool(), true);
    QCOMPARE(view.title(), QString("Module page"));
}

void TestWebPane::emptyTextLoadsNothing_data()
{
    QTest::addColumn<QString>("typed");
    QTest::newRow("empty") << "";
    QTest::newRow("spaces") << "  ";
}

void TestWebPane::emptyTextLoadsNothing()
{
    QFETCH(QString, typed);
    PageServer server;
    QVERIFY(server.Listen());
    QWebEngineView view;
    view.show();
    WebPane pane(&view);
    QSignalSpy started(&view, &QWebEngineView::loadStarted);

    pane.Navigate(typed);
    pane.Refresh();

    QVERIFY(!started.wait(1500));
    QVERIFY(view.url().isEmpty());
    QCOMPARE(server.connections(), 0);

    WebPane detached(nullptr);
    detached.Navigate("127.0.0.1");
    detached.Refresh();
}

void TestWebPane::unreachableAddressIsNotAnError()
{
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    QWebEngineView view;
    view.show();
    WebPane pane(&view);
    QSignalSpy finished(&view, &QWebEngineView::loadFinished);

    pane.Navigate(QString("127.0.0.1:%1").arg(closedPort));
    QVERIFY(finished.wait(60000));
    QCOMPARE(finished.first().first().toBool(), false);
    pane.Refresh();
}

void TestWebPane::prepareKeepsUserFlags()
{
    const QByteArray saved = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--user-flag  --disable-component-update");

    PrepareWebEngine();
    PrepareWebEngine();
    const QByteArrayList flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").split(' ');
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", saved);

    QCOMPARE(flags.count("--user-flag"), 1);
    QCOMPARE(flags.count("--disable-component-update"), 1);
    QCOMPARE(flags.count("--disable-background-networking"), 1);
    QCOMPARE(flags.first(), QByteArray("--user-flag"));
}

void TestWebPane::pageDialogs_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("notice"); // empty: none shown

    QTest::newRow("one alert")
        << QByteArray("<script>alert('Slot 1\\nwritten');document.title='after'</script>")
        << QStringLiteral("Slot 1 written");
    QTest::newRow("one alert with a huge text")
        << QByteArray("<script>alert('A'.repeat(1000000));document.title='after'</script>")
        << QString(ModulePage::TextLimit - 1, QLatin1Char('A')) + QChar(0x2026);
    QTest::newRow("confirm and prompt, answered cancel")
        << QByteArray("<script>document.title=confirm('Sure?')||prompt('Name?','x')!==null?"
                      "'ok':'after'</script>")
        << QStringLiteral("Name?");
    QTest::newRow("alert in a loop") << QByteArray("<script>for(;;)alert('again')</script>")
                                     << QStringLiteral("The page was stopped: it kept opening "
                                                       "dialogs.");
    QTest::newRow("leave-this-page question")
        << QByteArray("<script>addEventListener('beforeunload',e=>{e.preventDefault();"
                      "e.returnValue='Leave?'});onbeforeunload=()=>'Leave?';"
                      "document.title='after'</script><p>click me</p>")
        << QString();
}

// Whatever dialogs the module's page opens, the window around the pane keeps taking input.
void TestWebPane::pageDialogs()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, notice);

    PageServer server;
    QVERIFY(server.Listen());
    server.setPage("/dialogs.htm",
                   "<html><head><title>before</title></head><body>" + body + "</body></html>");
    QWebEngineView view;
    view.resize(500, 400);
    view.show();
    WebPane pane(&view);

    // A dialog that holds the window is counted and closed, so a failing row ends.
    int blocked = 0;
    QTimer watch;
    watch.callOnTimeout([&blocked] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            ++blocked;
            modal->close();
        }
    });
    watch.start(50);

    pane.Navigate(QString("127.0.0.1:%1/dialogs.htm").arg(server.port()));
    if (body.contains("for(;;)")) {
        QTRY_COMPARE_WITH_TIMEOUT(view.url(), QUrl("about:blank"), 60000);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(view.title(), QString("after"), 60000);
    }
    if (body.contains("beforeunload")) {
        // The page asks its question only once someone has used it.
        QTest::mouseClick(view.focusProxy(), Qt::LeftButton, {}, QPoint(20, 20));
        pane.Navigate(QString("127.0.0.1:%1").arg(server.port()));
        QTRY_COMPARE_WITH_TIMEOUT(view.title(), QString("Module page"), 60000);
    }
    QCOMPARE(blocked, 0);
    const auto *label = view.findChild<QLabel *>("webNotice");
    QVERIFY(label);
    QCOMPARE(label->isVisible() ? label->text() : QString(), notice);
    QVERIFY(label->geometry().bottom() < view.height() / 2);
}

QTEST_MAIN(TestWebPane)
#include "tst_webpane.moc"

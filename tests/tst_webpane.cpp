#include "ModulePage.h"
#include "PaneGate.h"
#include "WebPane.h"

#include <QApplication>
#include <QLabel>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>
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
    [[nodiscard]] int requests(const QByteArray &path) const { return m_requests.value(path); }
    void setPage(const QByteArray &path, const QByteArray &body) { m_pages.insert(path, body); }
    void setRedirect(const QByteArray &path, const QByteArray &location)
    {
        m_redirects.insert(path, location);
    }

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
        const qsizetype headEnd = request.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        // A request's body is read whole before it is answered.
        const qsizetype length = request.indexOf("Content-Length: ");
        if (length > 0 && length < headEnd &&
            request.size() < headEnd + 4 + request.mid(length + 16, 12).split('\r')[0].toLongLong())
            return;
        const QList<QByteArray> requestLine = request.left(request.indexOf("\r\n")).split(' ');
        m_pending.remove(socket);
        const QByteArray path = requestLine.value(1);
        ++m_requests[path];
        QByteArray status = "404 Not Found";
        QByteArray body = "<html><body>nothing here</body></html>";
        if (m_redirects.contains(path)) {
            status = "302 Found\r\nLocation: " + m_redirects.value(path);
        } else if (path == "/") {
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
    QHash<QByteArray, QByteArray> m_redirects;
    QHash<QByteArray, int> m_requests;
    int m_pageRequests = 0;
    int m_connections = 0;
};

// Addresses the module's page must never reach: a TCP listener on another loopback address, one on
// the module's own address but another port, and a UDP socket. Each counts what it hears.
class Bystanders : public QObject
{
    Q_OBJECT

public:
    Bystanders()
    {
        for (QTcpServer *server : {&m_off, &m_side}) {
            connect(server, &QTcpServer::newConnection, this, [this, server] {
                while (QTcpSocket *socket = server->nextPendingConnection()) {
                    ++m_heard;
                    socket->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
                    socket->disconnectFromHost();
                    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                }
            });
        }
        connect(&m_udp, &QUdpSocket::readyRead, this, [this] {
            while (m_udp.hasPendingDatagrams()) {
                m_udp.receiveDatagram();
                ++m_heard;
            }
        });
    }

    [[nodiscard]] bool Listen()
    {
        return m_off.listen(QHostAddress(QStringLiteral("127.77.0.9")), 0) &&
               m_side.listen(QHostAddress::LocalHost, 0) &&
               m_udp.bind(QHostAddress(QStringLiteral("127.77.0.9")), 0);
    }
    // The page's text with OFF, SIDE and UDP replaced by the listeners' host:port.
    [[nodiscard]] QByteArray Aim(QByteArray text) const
    {
        return text.replace("OFF", "127.77.0.9:" + QByteArray::number(m_off.serverPort()))
            .replace("SIDE", QByteArray::number(m_side.serverPort()))
            .replace("UDP", "127.77.0.9:" + QByteArray::number(m_udp.localPort()));
    }
    // Connections and datagrams, those still waiting in the backlog included.
    [[nodiscard]] int heard() const
    {
        return m_heard + int(m_off.hasPendingConnections()) + int(m_side.hasPendingConnections()) +
               int(m_udp.hasPendingDatagrams());
    }

private:
    QTcpServer m_off;
    QTcpServer m_side;
    QUdpSocket m_udp;
    int m_heard = 0;
};

class TestWebPane : public QObject
{
    Q_OBJECT

    struct HostilePane
    {
        PageServer server;
        QWebEngineView view;
        WebPane pane{&view};
    };
    std::unique_ptr<HostilePane> m_hostile;

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
    void moduleRule_data();
    void moduleRule();
    void pageReachesOnlyTheModule_data();
    void pageReachesOnlyTheModule();
    void cleanupTestCase() { m_hostile.reset(); }
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
    // The pane says the page does not answer, not that the address is out of its reach.
    QString shown;
    view.page()->toPlainText([&shown](const QString &text) { shown = text + QChar(0); });
    QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty(), 60000);
    QVERIFY2(shown.contains(QLatin1String("does not answer")), qPrintable(shown));
    pane.Refresh();
}

void TestWebPane::prepareKeepsUserFlags()
{
    const QByteArray saved = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--user-flag  --disable-component-update "
                                          "--disable-features=UserOne "
                                          "--no-proxy-server --proxy-server=http://127.0.0.9:1");

    PrepareWebEngine();
    PrepareWebEngine();
    const QByteArrayList flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").split(' ');
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", saved);

    QCOMPARE(flags.count("--user-flag"), 1);
    QCOMPARE(flags.count("--disable-component-update"), 1);
    QCOMPARE(flags.count("--disable-background-networking"), 1);
    QCOMPARE(flags.first(), QByteArray("--user-flag"));
    // The engine reads one list of features turned off: WebRTC's mDNS responder, which joins a
    // multicast group on every interface, joins the user's.
    QByteArrayList disabled;
    std::copy_if(flags.begin(), flags.end(), std::back_inserter(disabled),
                 [](const QByteArray &flag) { return flag.startsWith("--disable-features"); });
    QCOMPARE(disabled, QByteArrayList{"--disable-features=UserOne,WebRtcHideLocalIpsWithMdns"});
    // Where the engine's connections go is the pane's gate's to say.
    QVERIFY(!flags.contains("--no-proxy-server"));
    QByteArrayList proxies;
    for (const QByteArray &flag : flags) {
        if (flag.startsWith("--proxy-server="))
            proxies += flag;
    }
    QCOMPARE(proxies.size(), 1);
    QVERIFY(PaneGate::EngineFlags().split(' ').contains(proxies.first()));
}

void TestWebPane::pageDialogs_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("notice"); // empty: none shown

    QTest::newRow("one alert")
        << QByteArray("<script>alert('Slot 1\\nwritten');document.title='after'</script>")
        << QStringLiteral("Slot 1 written");
    QTest::newRow("one alert that reorders its text")
        << QByteArray("<script>alert('see \\u202eexe.txt');document.title='after'</script>")
        << QStringLiteral("see  exe.txt");
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

void TestWebPane::moduleRule_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("reaches");

    QTest::newRow("the module's page") << "127.0.0.1:8080"
                                       << "http://127.0.0.1:8080/a?b" << true;
    QTest::newRow("its WebSocket") << "127.0.0.1:8080"
                                   << "ws://127.0.0.1:8080/w" << true;
    QTest::newRow("no port typed: 80") << "127.0.0.1"
                                       << "http://127.0.0.1:80/" << true;
    QTest::newRow("no port typed, another port") << "127.0.0.1"
                                                 << "http://127.0.0.1:8080/" << false;
    QTest::newRow("another address") << "127.0.0.1:8080"
                                     << "http://127.0.0.2:8080/" << false;
    QTest::newRow("a name, any case") << "Module.Example:8080"
                                      << "http://MODULE.example:8080/" << true;
    QTest::newRow("IPv6") << "[::1]:8080"
                          << "http://[0:0::1]:8080/" << true;
    QTest::newRow("no network: data") << "127.0.0.1"
                                      << "data:text/html,x" << true;
    QTest::newRow("a local file") << "127.0.0.1"
                                  << "file:///etc/passwd" << false;
    QTest::newRow("nothing opened yet") << ""
                                        << "http://127.0.0.1/" << false;
}

// The rule the module's page and the pane's gate both apply.
void TestWebPane::moduleRule()
{
    QFETCH(QString, typed);
    QFETCH(QString, url);
    QFETCH(bool, reaches);

    ModulePage page(nullptr);
    page.setModuleLocation(WebLocation(typed));
    const QUrl wanted(url);
    QCOMPARE(page.reachesOnlyTheModule(wanted), reaches);
    if (wanted.scheme().startsWith("http")) {
        // The gate is asked with the host as the engine sends it, IPv6 in brackets.
        const QString host =
            wanted.host().contains(':') ? '[' + wanted.host() + ']' : wanted.host();
        QCOMPARE(PaneGate::Allowed(host, wanted.port(80)), reaches);
    }
}

void TestWebPane::pageReachesOnlyTheModule_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("notice"); // a refused navigation, told in the pane

    // Everything the module itself serves still comes: its redirects, a posted form and a page
    // larger than the pane's gate holds at once.
    QTest::newRow("the module's own redirect, form and large page")
        << QByteArray("<script>fetch('/to-big',{method:'POST',body:'x'.repeat(300000)})"
                      ".then(r=>r.text()).then(t=>{if(t.length===2000000)done()})</script>")
        << false;
    QTest::newRow("location.href")
        << QByteArray("<script>location.href='http://OFF/'</script>") << true;
    QTest::newRow("meta refresh") << QByteArray(
                                         "<meta http-equiv='refresh' content='0;url=http://OFF/'>")
                                  << true;
    QTest::newRow("iframe") << QByteArray("<iframe src='http://OFF/' onload='done()'></iframe>")
                            << true;
    QTest::newRow("img") << QByteArray("<img src='http://OFF/i.png' onerror='done()'>") << false;
    QTest::newRow("script") << QByteArray(
                                   "<script src='http://OFF/s.js' onerror='done()'></script>")
                            << false;
    QTest::newRow("form post")
        << QByteArray("<form method='post' action='http://OFF/f'><input name='x' value='1'>"
                      "</form><script>document.forms[0].submit()</script>")
        << true;
    QTest::newRow("302 main frame")
        << QByteArray("<script>location.href='/to-off'</script>") << true;
    QTest::newRow("302 image") << QByteArray("<img src='/img-to-off' onerror='done()'>") << false;
    QTest::newRow("302 image to a name")
        << QByteArray("<img src='/img-to-name' onerror='done()'>") << false;
    QTest::newRow("module's address, another port")
        << QByteArray("<img src='http://127.0.0.1:SIDE/i.png' onerror='done()'>") << false;
    QTest::newRow("prefetch")
        << QByteArray("<link rel='prefetch' href='http://OFF/p' onload='done()' onerror='done()'>")
        << false;
    QTest::newRow("sendBeacon") << QByteArray("<script>navigator.sendBeacon('http://OFF/b','x');"
                                              "navigator.sendBeacon('/done','x')</script>")
                                << false;
    QTest::newRow("WebSocket")
        << QByteArray("<script>const w=new WebSocket('ws://OFF/w');w.onerror=done</script>")
        << false;
    QTest::newRow("WebRTC")
        << QByteArray("<script>const p=new RTCPeerConnection({iceServers:[{urls:'stun:UDP'},"
                      "{urls:'turn:OFF?transport=tcp',username:'u',credential:'c'}]});"
                      "p.createDataChannel('d');p.onicegatheringstatechange=()=>{"
                      "if(p.iceGatheringState==='complete')done()};"
                      "p.createOffer().then(o=>p.setLocalDescription(o))</script>")
        << false;
}

// Whatever the module's page asks for, nothing but the module's address and port hears from the
// pane, not even a connection; a refused navigation is told in the pane.
void TestWebPane::pageReachesOnlyTheModule()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, notice);

    // One pane for the whole table: a fresh renderer for each row would only cost time.
    if (!m_hostile) {
        m_hostile = std::make_unique<HostilePane>();
        QVERIFY(m_hostile->server.Listen());
        m_hostile->view.resize(500, 400);
        m_hostile->view.show();
    }
    PageServer &server = m_hostile->server;
    Bystanders bystanders;
    QVERIFY(bystanders.Listen());
    const QByteArray row = QByteArray(QTest::currentDataTag()).toPercentEncoding();
    const QByteArray done = "/done/" + row;
    server.setPage("/" + row,
                   bystanders.Aim("<html><head><script>function done(){fetch('" + done +
                                  "')}</script></head><body>" +
                                  body.replace("'/done'", "'" + done + "'") + "</body></html>"));
    server.setRedirect("/to-big", "/big");
    server.setPage("/big", QByteArray(2000000, 'x'));
    server.setRedirect("/to-off", bystanders.Aim("http://OFF/r"));
    server.setRedirect("/img-to-off", bystanders.Aim("http://OFF/r.png"));
    server.setRedirect("/img-to-name", bystanders.Aim("http://bystander.localhost:SIDE/r.png"));
    auto *label = m_hostile->view.findChild<QLabel *>("webNotice");
    QVERIFY(label);
    if (label->isVisible()) // the last row's, hidden as a click hides it
        QTest::mouseClick(label, Qt::LeftButton);

    m_hostile->pane.Navigate(QString("127.0.0.1:%1/%2").arg(server.port()).arg(QString(row)));
    QTRY_VERIFY_WITH_TIMEOUT(
        server.requests(done) > 0 || label->isVisible() || bystanders.heard() > 0, 30000);
    QCOMPARE(bystanders.heard(), 0);
    QCOMPARE(label->isVisible(), notice);
    if (notice)
        QVERIFY2(label->text().contains("127.77.0.9"), qPrintable(label->text()));
}

QTEST_MAIN(TestWebPane)
#include "tst_webpane.moc"

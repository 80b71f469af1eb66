// Start-up of the tool's window: the time from process start to the window's first expose and
// paint, phase by phase as main() of the tool goes through them, then the resident memory after
// one scan of a simulated module on a loopback address. Runs on whatever platform Qt picks
// (QT_QPA_PLATFORM, a DISPLAY such as Xvfb's); bench_startup.sh runs it under both.

#include "BenchJournal.h"
#include "ErrorBox.h"
#include "MainWindow.h"
#include "MessageCatalogue.h"
#include "RecordingDoubles.h"
#include "WebPane.h"
#include "simmodule.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEngineView>
#include <QWindow>

#include <cstdio>
#include <ctime>
#include <unistd.h>

static double monotonicSinceBoot()
{
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// How long ago the process started, from its start time in /proc/self/stat (clock ticks since
// boot, so only to a tick, 10 ms here); -1 when that cannot be read.
static double processAgeSeconds()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // The command name in brackets may hold spaces; the fields after it are plain numbers.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    // starttime is field 22 of the line, the 20th after the name.
    bool ok = false;
    const double ticks = fields.value(19).toDouble(&ok);
    if (!ok)
        return -1;
    return monotonicSinceBoot() - ticks / double(sysconf(_SC_CLK_TCK));
}

static qint64 residentKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).simplified().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Notes the first expose of the window and the first paint of the window and of the browser pane.
class FirstPaintWatch : public QObject
{
public:
    explicit FirstPaintWatch(const QElapsedTimer &clock) : m_clock(clock) {}

    void watch(QWidget *window, QWidget *browser)
    {
        m_window = window;
        m_browser = browser;
    }

    [[nodiscard]] bool windowShown() const { return m_exposedMs >= 0 && m_paintedMs >= 0; }
    qint64 m_exposedMs = -1;
    qint64 m_paintedMs = -1;
    qint64 m_browserPaintedMs = -1;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Expose && m_exposedMs < 0 && m_window &&
            watched == m_window->windowHandle() && m_window->windowHandle()->isExposed())
            m_exposedMs = m_clock.elapsed();
        if (event->type() == QEvent::Paint && watched->isWidgetType()) {
            auto *widget = static_cast<QWidget *>(watched);
            if (m_paintedMs < 0 && widget == m_window)
                m_paintedMs = m_clock.elapsed();
            if (m_browserPaintedMs < 0 && m_browser && widget != m_browser &&
                m_browser->isAncestorOf(widget))
                m_browserPaintedMs = m_clock.elapsed();
        }
        return false;
    }

private:
    const QElapsedTimer &m_clock;
    QWidget *m_window = nullptr;
    QWidget *m_browser = nullptr;
};

// Runs the event loop until `done` holds or `ms` have passed.
template <typename Condition> static bool pumpUntil(Condition done, int ms)
{
    QElapsedTimer waited;
    waited.start();
    while (!done() && waited.elapsed() < ms) {
        QEventLoop loop;
        QTimer slice;
        slice.setSingleShot(true);
        QObject::connect(&slice, &QTimer::timeout, &loop, &QEventLoop::quit);
        slice.start(5);
        loop.exec();
    }
    return done();
}

int main(int argc, char *argv[])
{
    QElapsedTimer clock;
    clock.start();
    const double ageAtMain = processAgeSeconds();

    (void)MessageCatalogue::instance();
    const qint64 catalogueMs = clock.elapsed();
    PrepareWebEngine();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(ApplicationTitle());
    const qint64 applicationMs = clock.elapsed();

    // The language is read from a scratch settings folder, never the machine's own.
    QTemporaryDir store;
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, store.path());
    KeepJournalIn(store.path());
    RecordingPresenter presenter;
    setErrorPresenter(&presenter);

    FirstPaintWatch watch(clock);
    app.installEventFilter(&watch);
    auto window = std::make_unique<TfrmMain>();
    const qint64 createdMs = clock.elapsed();
    auto *browser = window->findChild<QWebEngineView *>(QStringLiteral("webMain"));
    watch.watch(window.get(), browser);
    window->show();
    const qint64 showMs = clock.elapsed();
    const bool shown = pumpUntil([&] { return watch.windowShown(); }, 30000);
    const double shownSeconds =
        ageAtMain + double(qMax(watch.m_exposedMs, watch.m_paintedMs)) / 1000.0;
    const qint64 rssShown = residentKilobytes();
    pumpUntil([&] { return watch.m_browserPaintedMs >= 0; }, 3000);

    const auto phase = [&](const char *what, qint64 ms) {
        std::printf("  %-40s %8.3f s\n", what, ageAtMain + double(ms) / 1000.0);
    };
    std::printf("start-up on platform \"%s\" (%s)\n", qPrintable(QGuiApplication::platformName()),
                qEnvironmentVariableIsSet("DISPLAY") && QGuiApplication::platformName() == "xcb"
                    ? qPrintable(QStringLiteral("display ") + qEnvironmentVariable("DISPLAY"))
                    : "no display");
    std::printf("  times since process start (start time from /proc/self/stat, to 10 ms)\n");
    std::printf("  %-40s %8.3f s\n", "main() entered", ageAtMain);
    phase("message catalogue built", catalogueMs);
    phase("application object created", applicationMs);
    phase("window created (browser pane included)", createdMs);
    phase("show() returned", showMs);
    phase("window exposed", watch.m_exposedMs);
    phase("window painted", watch.m_paintedMs);
    if (watch.m_browserPaintedMs >= 0)
        phase("browser pane painted", watch.m_browserPaintedMs);
    else
        std::printf("  %-40s %10s\n", "browser pane painted", "not within 3 s");
    std::printf("window shown %.3f s after process start: goal 1.5 s %s\n", shownSeconds,
                shown && shownSeconds <= 1.5 ? "met" : "NOT met");
    std::printf("RSS with the window shown: %lld kB\n", static_cast<long long>(rssShown));

    // One scan of a simulated module on a loopback address of this run's own.
    QRandomGenerator *random = QRandomGenerator::global();
    const QHostAddress address(QStringLiteral("127.%1.%2.%3")
                                   .arg(random->bounded(1, 255))
                                   .arg(random->bounded(1, 255))
                                   .arg(random->bounded(2, 255)));
    SimModule sim;
    if (!sim.listen(address, 0)) {
        std::fprintf(stderr, "bench_startup: module cannot listen: %s\n",
                     qPrintable(sim.errorString()));
        return 1;
    }
    const bool page = sim.listenHttp(address, 80);
    window->findChild<QLineEdit *>(QStringLiteral("edIP"))->setText(address.toString());
    window->link().setPort(sim.port());
    bool loaded = false;
    QObject::connect(browser, &QWebEngineView::loadFinished, browser,
                     [&](bool ok) { loaded = ok; });
    QElapsedTimer scan;
    scan.start();
    window->findChild<QPushButton *>(QStringLiteral("btnScan"))->click();
    const qint64 scanMs = scan.elapsed();
    const qint64 rssScanned = residentKilobytes();
    const QString status =
        window->findChild<QObject *>(QStringLiteral("pnMsg"))->property("text").toString();
    std::printf("scan of %s (simulated module, web page %s): status \"%s\" after %.2f s\n",
                qPrintable(address.toString()), page ? "on port 80" : "not served",
                qPrintable(status), double(scanMs) / 1000.0);
    std::printf("RSS after one scan: %lld kB", static_cast<long long>(rssScanned));
    if (page && pumpUntil([&] { return loaded; }, 5000))
        std::printf(", %lld kB once its page had loaded",
                    static_cast<long long>(residentKilobytes()));
    std::printf("\n");
    for (const QString &message : presenter.messages())
        std::printf("error box: %s\n", qPrintable(message));

    window->close();
    window.reset();
    setErrorPresenter(nullptr);
    return shown && status == QLatin1String("Ok.") ? 0 : 1;
}

#include <QFile>
#include <QProcess>
#include <QTest>

#include <csignal>

// The three programs answer --help and --version, and refuse an unknown option, on a machine
// with no display at all: nothing here may need a window system. The window says in one line
// that it has no display; on the offscreen platform it starts, and SIGTERM closes it as Exit
// does.
class TestPrograms : public QObject
{
    Q_OBJECT

private slots:
    void options_data();
    void options();
};

void TestPrograms::options_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("display");
    QTest::addColumn<int>("exitCode");
    // How standard output starts, or what standard error says.
    QTest::addColumn<QByteArray>("output");

    for (const char *program : {VELQA_CONFIG_PROGRAM, VELQA_SIM_PROGRAM, VELQA_CLI_PROGRAM}) {
        const QByteArray name = QByteArray(program).mid(QByteArray(program).lastIndexOf('/') + 1);
        QTest::newRow(name + " --help")
            << program << QStringList{"--help"} << QString() << 0 << QByteArray("Usage: ");
        for (const char *version : {"--version", "-v"})
            QTest::newRow(name + " " + version) << program << QStringList{version} << QString() << 0
                                                << name + " " + VELQA_VERSION + "\n";
        QTest::newRow(name + " unknown option") << program << QStringList{"--no-such-option"}
                                                << QString() << 2 << QByteArray("no-such-option");
    }
    QTest::newRow("velqa-config without a display")
        << VELQA_CONFIG_PROGRAM << QStringList() << QString() << 1
        << QByteArray("velqa-config: no display: set DISPLAY (X11) or WAYLAND_DISPLAY (Wayland), "
                      "or start it with -platform offscreen\n");
    QTest::newRow("velqa-config on a display that is not there")
        << VELQA_CONFIG_PROGRAM << QStringList() << ":9999" << 1
        << QByteArray("velqa-config: no display: ");
    QTest::newRow("velqa-config offscreen, then SIGTERM")
        << VELQA_CONFIG_PROGRAM << QStringList{"-platform", "offscreen"} << QString() << 0
        << QByteArray("velqa-config: SIGTERM received: closing as Exit does\n");
}

// Whether the process catches SIGTERM yet (SigCgt in its status).
static bool catchesSigterm(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGTERM - 1)) & 1;
    }
    return false;
}

void TestPrograms::options()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(QString, display);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, output);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.insert(QStringLiteral("VELQA_JOURNAL"), QStringLiteral("off"));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    const bool window = arguments.contains("offscreen");
    if (window) {
        // Until the program itself runs, the status shows this test's own handlers.
        QVERIFY(process.waitForStarted(60000));
        QTRY_VERIFY_WITH_TIMEOUT(catchesSigterm(process.processId()), 60000);
        ::kill(pid_t(process.processId()), SIGTERM);
    }
    QVERIFY(process.waitForFinished(60000));
    const QByteArray out = process.readAllStandardOutput();
    const QByteArray err = process.readAllStandardError();
    QVERIFY2(process.exitStatus() == QProcess::NormalExit, err.constData());
    QVERIFY2(process.exitCode() == exitCode, err.constData());
    if (exitCode == 0 && !window)
        QVERIFY2(out.startsWith(output), out.constData());
    else if (exitCode == 1) // the whole of standard error
        QVERIFY2(out.isEmpty() && err.startsWith(output) && err.count('\n') == 1, err.constData());
    else
        QVERIFY2(out.isEmpty() && err.contains(output), (out + err).constData());
}

QTEST_GUILESS_MAIN(TestPrograms)
#include "tst_programs.moc"

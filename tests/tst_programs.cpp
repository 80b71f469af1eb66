#include <QProcess>
#include <QTest>

// The three programs answer --help and --version, and refuse an unknown option, on a machine
// with no display at all: nothing here may need a window system.
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
    QTest::addColumn<QString>("option");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("output"); // how standard output starts, or what the error names

    for (const char *program : {VELQA_CONFIG_PROGRAM, VELQA_SIM_PROGRAM, VELQA_CLI_PROGRAM}) {
        const QByteArray name = QByteArray(program).mid(QByteArray(program).lastIndexOf('/') + 1);
        QTest::newRow(name + " --help") << program << "--help" << 0 << QByteArray("Usage: ");
        for (const char *version : {"--version", "-v"})
            QTest::newRow(name + " " + version)
                << program << version << 0 << name + " " + VELQA_VERSION + "\n";
        QTest::newRow(name + " unknown option")
            << program << "--no-such-option" << 2 << QByteArray("no-such-option");
    }
}

void TestPrograms::options()
{
    QFETCH(QString, program);
    QFETCH(QString, option);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, output);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), QString());
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, {option});
    QVERIFY(process.waitForFinished(60000));
    const QByteArray out = process.readAllStandardOutput();
    const QByteArray err = process.readAllStandardError();
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(process.exitCode() == exitCode, err.constData());
    QVERIFY2(exitCode == 0 ? out.startsWith(output) : out.isEmpty() && err.contains(output),
             (out + err).constData());
}

QTEST_GUILESS_MAIN(TestPrograms)
#include "tst_programs.moc"

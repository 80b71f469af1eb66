#include "ErrorBox.h"
#include "RecordingDoubles.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>

class TestErrorBox : public QObject
{
    Q_OBJECT

private slots:
    void errorBoxText_data();
    void errorBoxText();
    void recordingPresenterKeepsOrderAndActsWhileOpen();
    void accessorSwapsPresenterAndRestoresMessageBox();
    void messageBoxLooksRightAndKeepsSocketsRunning();
};

void TestErrorBox::errorBoxText_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");

    QTest::newRow("no address") << "No address specified"
                                << "No address specified.";
    QTest::newRow("asynchronous error") << "Asynchronous socket error 10061"
                                        << "Asynchronous socket error 10061.";
    const QString apiError = "Windows socket error: Connection refused (111), on API 'connect'";
    QTest::newRow("ends with quote mark") << apiError << apiError;
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("ends with full stop") << "Host not found."
                                         << "Host not found.";
    QTest::newRow("ends with bracket") << "Connection refused (111)"
                                       << "Connection refused (111)";
    QTest::newRow("ends with letter") << "Network unreachable"
                                      << "Network unreachable.";
    QTest::newRow("ends with digit") << "error 7"
                                     << "error 7.";
    QTest::newRow("non-ASCII last character")
        << QString::fromUtf8("连接失败") << QString::fromUtf8("连接失败.");
    QTest::newRow("comma sorts before") << "refused,"
                                        << "refused,";
    QTest::newRow("hyphen sorts before") << "refused -"
                                         << "refused -";
    QTest::newRow("slash sorts after") << "path /"
                                       << "path /.";
    QTest::newRow("trailing space") << "refused "
                                    << "refused ";
    QTest::newRow("single letter") << "x"
                                   << "x.";
}

void TestErrorBox::errorBoxText()
{
    QFETCH(QString, message);
    QFETCH(QString, shown);
    QCOMPARE(ErrorBoxText(message), shown);
}

void TestErrorBox::recordingPresenterKeepsOrderAndActsWhileOpen()
{
    QStringList seenWhileOpen;
    RecordingPresenter presenter([&](const QString &message) { seenWhileOpen << message; });

    presenter.ShowError("No address specified");
    presenter.ShowError("Asynchronous socket error 10054");

    const QStringList expected{"No address specified", "Asynchronous socket error 10054"};
    QCOMPARE(presenter.messages(), expected);
    QCOMPARE(seenWhileOpen, expected);
    QCOMPARE(presenter.shownTexts(),
             QStringList({"No address specified.", "Asynchronous socket error 10054."}));

    presenter.Clear();
    presenter.SetWhileOpen({});
    presenter.ShowError("again");
    QCOMPARE(presenter.messages(), QStringList{"again"});
    QCOMPARE(seenWhileOpen.size(), 2);
}

void TestErrorBox::accessorSwapsPresenterAndRestoresMessageBox()
{
    QVERIFY(dynamic_cast<MessageBoxPresenter *>(&errorPresenter()));

    RecordingPresenter recording;
    setErrorPresenter(&recording);
    errorPresenter().ShowError("Host not found");
    QCOMPARE(recording.messages(), QStringList{"Host not found"});

    setErrorPresenter(nullptr);
    QVERIFY(dynamic_cast<MessageBoxPresenter *>(&errorPresenter()));
}

void TestErrorBox::messageBoxLooksRightAndKeepsSocketsRunning()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));

    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QList<QMessageBox::StandardButton> buttons;
    bool connectedWhileOpen = false;

    auto closeBox = [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        for (QAbstractButton *button : box->buttons())
            buttons << box->standardButton(button);
        QAbstractButton *ok = box->button(QMessageBox::Ok);
        if (ok)
            ok->click();
        else
            box->reject();
    };
    // The box closes only once a connection has been accepted, which needs the socket events
    // to run inside the box's own loop.
    connect(&server, &QTcpServer::newConnection, this, [&] {
        connectedWhileOpen = QApplication::activeModalWidget() != nullptr;
        QTimer::singleShot(0, this, closeBox);
    });
    QTcpSocket client;
    QTimer::singleShot(0, this,
                       [&] { client.connectToHost(QHostAddress::LocalHost, server.serverPort()); });
    QTimer safety;
    safety.setSingleShot(true);
    connect(&safety, &QTimer::timeout, this, [] {
        if (QWidget *modal = QApplication::activeModalWidget())
            modal->close();
    });
    safety.start(20000);

    MessageBoxPresenter presenter;
    presenter.ShowError("Asynchronous socket error 10061");
    safety.stop();

    QVERIFY(connectedWhileOpen);
    QCOMPARE(title, QString("KAVRO VELQA Module Config"));
    QCOMPARE(text, QString("Asynchronous socket error 10061."));
    QCOMPARE(icon, QMessageBox::Critical);
    QCOMPARE(buttons, QList<QMessageBox::StandardButton>{QMessageBox::Ok});
    QVERIFY(!QApplication::activeModalWidget());
}

QTEST_MAIN(TestErrorBox)
#include "tst_errorbox.moc"

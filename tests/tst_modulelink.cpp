#include "LinkErrors.h"
#include "LinkTestSupport.h"
#include "ModuleLink.h"
#include "TestClock.h"
#include "WaitPumping.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <cerrno>
#include <netdb.h>

namespace {

using Reply = ScriptedModule::Reply;

// Answers every chunk with `reply` after `delayMs`.
ScriptedModule::Script answer(const QByteArray &reply, int delayMs = 0)
{
    return [=](const QByteArray &) { return QList<Reply>{{delayMs, reply}}; };
}

} // namespace

class TestModuleLink : public QObject
{
    Q_OBJECT

private:
    // Opens `link` to `module` on loopback and waits for the connect event.
    static bool connectTo(ModuleLink &link, ScriptedModule &module)
    {
        link.setPort(module.port());
        link.OpenLink(QStringLiteral("127.0.0.1"));
        return QTest::qWaitFor([&] { return link.ConnectedFlag() && module.client(); }, 5000);
    }

private slots:
    void connectAndLocalClose()
    {
        RecordingOwner owner;
        ModuleLink link(&owner);
        owner.link = &link;
        ScriptedModule module;
        QVERIFY(connectTo(link, module));
        QCOMPARE(owner.events, QStringList{"connected flag=1"});
        QCOMPARE(link.ModuleSocket() != nullptr, true);

        // The disconnect event runs inside the close call, before the flag clears.
        link.CloseLink();
        QCOMPARE(owner.events, (QStringList{"connected flag=1", "disconnected flag=1"}));
        QVERIFY(!link.ConnectedFlag());

        // A second close does nothing, and sends on the old socket send nothing.
        link.CloseLink();
        QCOMPARE(owner.events.size(), 2);
        QCOMPARE(link.SendText("x"), 0);
    }

    void sendCommand_data()
    {
        QTest::addColumn<QList<Reply>>("replies");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QByteArray>("buffer");

        const QByteArray serial("QMK\x06VQ240817"
                                "00\r");
        QTest::newRow("prompt reply") << QList<Reply>{{0, serial}} << true << serial;
        QTest::newRow("late reply within budget") << QList<Reply>{{400, serial}} << true << serial;
        QTest::newRow("six characters are enough")
            << QList<Reply>{{0, "123456"}} << true << QByteArray("123456");
        QTest::newRow("five characters never are")
            << QList<Reply>{{0, "12345"}} << false << QByteArray("12345");
        QTest::newRow("silent") << QList<Reply>{} << false << QByteArray();
        QTest::newRow("split: only the second piece remains") << QList<Reply>{{0, "QMK\x06V"},
                                                                              {200, "Q240817"
                                                                                    "00\r"}}
                                                              << true
                                                              << QByteArray("Q240817"
                                                                            "00\r");
        QTest::newRow("split: two short pieces never add up")
            << QList<Reply>{{0, "QMK\x06V"}, {200, "Q2408"}} << false << QByteArray("Q2408");
    }

    void sendCommand()
    {
        QFETCH(QList<Reply>, replies);
        QFETCH(bool, result);
        QFETCH(QByteArray, buffer);

        RecordingOwner owner;
        ModuleLink link(&owner);
        TestClock clock;
        link.setClock(&clock);
        ScriptedModule module;
        module.setClock(&clock);
        module.setScript([replies](const QByteArray &) { return replies; });
        QVERIFY(connectTo(link, module));

        QCOMPARE(link.SendCommand("S01"), result);
        QCOMPARE(link.ReplyBuffer(), buffer);
        QCOMPARE(module.received(), QByteArray("QMK\x0FS015D\r"));
    }

    void unansweredCommandTakesTheWholeBudget()
    {
        RecordingOwner owner;
        ModuleLink link(&owner);
        TestClock clock;
        link.setClock(&clock);
        ScriptedModule module;
        module.setScript(answer("12345"));
        QVERIFY(connectTo(link, module));
        const quint64 before = clock.elapsed();
        QVERIFY(!link.SendCommand("V01"));
        // 100 waits of 10 ms on the link's clock, exactly.
        QCOMPARE(clock.elapsed() - before, quint64(1000));
    }

    void notConnected()
    {
        RecordingOwner owner;
        ModuleLink link(&owner);
        ScriptedModule module;
        QVERIFY(connectTo(link, module));
        module.send("unsolicited");
        QTRY_COMPARE(link.ReplyBuffer(), QByteArray("unsolicited"));
        link.CloseLink();

        QElapsedTimer timer;
        timer.start();
        QVERIFY(!link.SendCommand("S01"));
        QVERIFY(timer.elapsed() < 500);
        QCOMPARE(link.ReplyBuffer(), QByteArray("unsolicited"));
        QCOMPARE(link.SendBuffer("Loop", 4), 0);
        QTest::qWait(50);
        QCOMPARE(module.received(), QByteArray());
    }

    void tooLongCommandIsNotSent()
    {
        RecordingOwner owner;
        ModuleLink link(&owner);
        ScriptedModule module;
        module.setScript(answer("QMK\x06"
                                "000000000"));
        QVERIFY(connectTo(link, module));
        QVERIFY(!link.SendCommand(QByteArray(73, 'F')));
        QTest::qWait(50);
        QCOMPARE(module.received(), QByteArray());
    }

    void readEvents()
    {
        RecordingOwner owner;
        ModuleLink link(&owner);
        ScriptedModule module;
        QVERIFY(connectTo(link, module));

        module.send("first");
        QTRY_COMPARE(link.ReplyBuffer(), QByteArray("first"));
        module.send(QByteArray("sec\0nd", 6));
        QTRY_COMPARE(link.ReplyBuffer(), QByteArray("sec\0nd", 6));

        // A read event with nothing waiting empties the buffer.
        link.sockMainRead();
        QCOMPARE(link.ReplyBuffer(), QByteArray());
    }

    void rawSendsKeepEveryByte()
    {
        RecordingOwner owner;
        ModuleLink link(&owner);
        ScriptedModule module;
        QVERIFY(connectTo(link, module));
        const QByteArray loop("Loop Test Ok.\0\r", 15);
        QCOMPARE(link.SendBuffer(loop.constData(), 15), 15);
        QCOMPARE(link.SendText("\tA01F0F\r"), 8);
        QTRY_COMPARE(module.received(), loop + "\tA01F0F\r");
    }

    void moduleEndsTheConnection_data()
    {
        QTest::addColumn<bool>("reset");
        QTest::newRow("orderly close") << false;
        QTest::newRow("reset") << true;
    }

    void moduleEndsTheConnection()
    {
        QFETCH(bool, reset);
        RecordingOwner owner;
        ModuleLink link(&owner);
        owner.link = &link;
        ScriptedModule module;
        QVERIFY(connectTo(link, module));
        if (reset)
            module.reset();
        else
            module.closeOrderly();
        QTRY_VERIFY(!link.ConnectedFlag());
        QTest::qWait(20);
        QCOMPARE(owner.events, (QStringList{"connected flag=1", "disconnected flag=1"}));
        QCOMPARE(owner.errors, QStringList());
    }

    void sendOnResetConnectionFails()
    {
        RecordingOwner owner;
        ModuleLink link(&owner);
        owner.link = &link;
        ScriptedModule module;
        QVERIFY(connectTo(link, module));
        module.reset();
        // The reset arrives while no events are dispatched, so the link still believes it is up.
        QThread::msleep(100);
        QVERIFY(link.ConnectedFlag());
        try {
            link.SendText(QByteArray(4096, 'x'));
            link.SendText(QByteArray(4096, 'x'));
            QFAIL("the send on a reset connection did not fail");
        } catch (const LinkError &e) {
            QVERIFY2(e.message().startsWith("Windows socket error: "), qPrintable(e.message()));
            QVERIFY2(e.message().endsWith("on API 'send'"), qPrintable(e.message()));
        }
        QVERIFY(!link.ConnectedFlag());
        QCOMPARE(owner.events, (QStringList{"connected flag=1", "disconnected flag=1"}));
    }

    void openFailures_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QString>("thrown");
        QTest::addColumn<QString>("reported");
        QTest::addColumn<QStringList>("asked");

        const QStringList down{"disconnected flag=0"};
        const QStringList downAndError{"disconnected flag=0", "error"};
        const QString unknownHost =
            QStringLiteral("Windows socket error: %1 (%2), on API 'ASync Lookup'")
                .arg(QString::fromLocal8Bit(hstrerror(HOST_NOT_FOUND)))
                .arg(HOST_NOT_FOUND);
        const QString cannotLookUp = QStringLiteral("Windows socket error: Invalid argument (%1), "
                                                    "on API 'WSAASyncGetHostByName'")
                                         .arg(EINVAL);
        QTest::newRow("empty") << "" << down << "No address specified"
                               << "" << QStringList();
        QTest::newRow("unknown name") << "no-such-module.invalid" << downAndError << ""
                                      << unknownHost << QStringList{"no-such-module.invalid"};
        QTest::newRow("port is not the module's: name looked up alone")
            << "no-such-module.invalid:8080" << downAndError << "" << unknownHost
            << QStringList{"no-such-module.invalid"};
        // Numbers that are not four decimal parts would reach some other address through the
        // system resolver; they name no host and are never looked up.
        for (const char *number :
             {"256.1.1.1", "127.1", "127.0.77", "127.1:8080", "2130706433", "0x7f.1", "0x7f000001",
              "0177.0.0.1", "127.0.0.01", "127.0.0.1.", "1.127.0.0.1"})
            QTest::addRow("not an address: %s", number)
                << number << downAndError << "" << unknownHost << QStringList();
        QTest::newRow("300 characters cannot be looked up")
            << QString(300, 'a') << down << cannotLookUp << "" << QStringList();
        QTest::newRow("only spaces") << "   " << down << cannotLookUp << "" << QStringList();
        for (const char *text :
             {"localhost:http", "127.0.0.1:", "127.0.0.1:0", "127.0.0.1:65536", "127.0.0.1:8080:1",
              ":5003", "[::1]x", "[127.0.0.1]:5003", "[::1", "::1::2"})
            QTest::addRow("cannot be looked up: %s", text)
                << text << down << cannotLookUp << "" << QStringList();
    }

    void openFailures()
    {
        QFETCH(QString, host);
        QFETCH(QStringList, events);
        QFETCH(QString, thrown);
        QFETCH(QString, reported);
        QFETCH(QStringList, asked);

        RecordingOwner owner;
        ModuleLink link(&owner);
        owner.link = &link;
        // Names go to a table, never to DNS.
        TableResolver table;
        link.setResolver(&table);

        QString caught;
        try {
            link.OpenLink(host);
        } catch (const LinkError &e) {
            caught = e.message();
        }
        QCOMPARE(caught, thrown);
        if (!reported.isEmpty())
            QTRY_COMPARE(owner.errors, QStringList{reported});
        QTest::qWait(20);
        QCOMPARE(owner.events, events);
        QCOMPARE(table.asked, asked);
        QVERIFY(!link.ConnectedFlag());
    }

    void refusedConnection()
    {
        quint16 port = 0;
        {
            ScriptedModule closed;
            port = closed.port();
        }
        RecordingOwner owner;
        ModuleLink link(&owner);
        link.setPort(port);
        link.OpenLink("127.0.0.1");
        QTRY_COMPARE(owner.errors,
                     QStringList{QStringLiteral("Asynchronous socket error %1").arg(ECONNREFUSED)});
        // No disconnect event: the attempt is simply abandoned.
        QCOMPARE(owner.events, QStringList{"error"});
        QVERIFY(!link.ConnectedFlag());
    }

    void typedAddressReachesTheModule_data()
    {
        QTest::addColumn<QString>("typed");
        // The port after the address is the web page's: the module is always on the link's port.
        for (const char *typed :
             {"127.0.0.1:8080", "127.0.0.1:5003", "::1", "[::1]", "[::1]:5003", "[::1]:8080"})
            QTest::newRow(typed) << QString(typed);
    }

    void typedAddressReachesTheModule()
    {
        QFETCH(QString, typed);
        ScriptedModule module(typed.contains("::1") ? QHostAddress(QHostAddress::LocalHostIPv6)
                                                    : QHostAddress(QHostAddress::LocalHost));
        if (module.port() == 0)
            QSKIP("no IPv6 loopback on this machine");
        RecordingOwner owner;
        ModuleLink link(&owner);
        TableResolver table;
        link.setResolver(&table);
        link.setPort(module.port());
        link.OpenLink(typed);
        QTRY_VERIFY(link.ConnectedFlag());
        QCOMPARE(table.asked, QStringList());
    }

    void reopeningCancelsThePendingAttempt()
    {
        ScriptedModule first;
        ScriptedModule second;
        RecordingOwner owner;
        ModuleLink link(&owner);
        owner.link = &link;
        TableResolver table;
        table.table["first"] = {QHostAddress::LocalHost};
        table.delayMs = 200;
        link.setResolver(&table);
        link.setPort(first.port());
        link.OpenLink("first");

        table.table["second"] = {QHostAddress::LocalHost};
        table.delayMs = 0;
        link.setPort(second.port());
        link.OpenLink("second");
        QTRY_VERIFY(link.ConnectedFlag());
        QTest::qWait(400);
        QVERIFY(second.client());
        QVERIFY(!first.client());
        QCOMPARE(owner.events, QStringList{"connected flag=1"});
    }

    void reopeningWhileConnected()
    {
        RecordingOwner owner;
        ModuleLink link(&owner);
        ScriptedModule module;
        QVERIFY(connectTo(link, module));
        link.OpenLink("127.0.0.1"); // the same host: nothing to do
        QVERIFY(link.ConnectedFlag());
        QVERIFY_THROWS_EXCEPTION(LinkError, link.OpenLink("127.0.0.2"));
        QVERIFY(link.ConnectedFlag());
    }
};

QTEST_GUILESS_MAIN(TestModuleLink)
#include "tst_modulelink.moc"

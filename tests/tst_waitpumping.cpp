#include "Clock.h"
#include "LinkTestSupport.h"
#include "TestClock.h"
#include "WaitPumping.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

class TestWaitPumping : public QObject
{
    Q_OBJECT

private slots:
    void zeroDispatchesOnce()
    {
        bool ran = false;
        QMetaObject::invokeMethod(
            this, [&ran] { ran = true; }, Qt::QueuedConnection);
        WaitPumping(0, systemClock());
        QVERIFY(ran);
    }

    void lastsItsLength_data()
    {
        QTest::addColumn<quint32>("start");
        QTest::addColumn<quint32>("ms");

        QTest::newRow("3 ms") << quint32(1000) << quint32(3);
        QTest::newRow("100 ms") << quint32(1000) << quint32(100);
        QTest::newRow("across the 32-bit wrap") << quint32(0xFFFFFFFF - 40) << quint32(100);
        QTest::newRow("starting at the last millisecond") << quint32(0xFFFFFFFF) << quint32(50);
    }

    void lastsItsLength()
    {
        QFETCH(quint32, start);
        QFETCH(quint32, ms);
        const OffsetClock clock(start);
        QElapsedTimer timer;
        timer.start();
        WaitPumping(ms, clock);
        const qint64 elapsed = timer.elapsed();
        // Never shorter; a wrap-around must not turn it into a 49-day wait either, so a
        // generous ceiling only.
        QVERIFY2(elapsed >= qint64(ms), qPrintable(QString::number(elapsed)));
        QVERIFY2(elapsed < qint64(ms) + 5000, qPrintable(QString::number(elapsed)));
    }

    void followsItsClock_data()
    {
        QTest::addColumn<quint32>("ms");
        // The budgets of the module's waits, each across the 32-bit wrap.
        for (const quint32 ms : {300u, 500u, 1000u, 2000u})
            QTest::addRow("%u ms", ms) << ms;
    }

    void followsItsClock()
    {
        // A wait that read any other clock would leave the test clock where it was.
        QFETCH(quint32, ms);
        const TestClock clock(0xFFFFFFFF - 100);
        WaitPumping(ms, clock);
        QCOMPARE(quint32(clock.Milliseconds() - (0xFFFFFFFF - 100)), ms);
    }

    void testClockRunsWhatComesDue_data()
    {
        QTest::addColumn<bool>("sleep");
        QTest::newRow("during a pumped wait: in the wait") << false;
        // As a timer: the sleeping thread dispatches nothing.
        QTest::newRow("during a sleep: at the next pumped wait") << true;
    }

    void testClockRunsWhatComesDue()
    {
        QFETCH(bool, sleep);
        const TestClock clock(1000);
        quint32 ranAt = 0;
        clock.after(30, [&] { ranAt = clock.Milliseconds(); });
        if (sleep) {
            clock.Sleep(50);
            QCOMPARE(ranAt, 0u);
            clock.PumpFor(0);
        } else {
            clock.PumpFor(50);
        }
        QCOMPARE(ranAt, 1050u);
    }

    void eventsRunDuringTheWait()
    {
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
        ticker.start(5);
        WaitPumping(200, systemClock());
        QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));
    }

    void nestedWaitsFinish()
    {
        // A wait inside an event handler that runs inside another wait (an error box or a
        // socket event during an operation) ends normally and lets the outer one end too.
        bool innerDone = false;
        QTimer::singleShot(10, this, [&innerDone] {
            WaitPumping(50, systemClock());
            innerDone = true;
        });
        WaitPumping(20, systemClock());
        QTRY_VERIFY(innerDone);
    }

    void quittingDoesNotSpin()
    {
        // Once the application quits, nested loops refuse to run; the wait must still last its
        // length without burning the processor.
        QCoreApplication::exit(0);
        QElapsedTimer timer;
        timer.start();
        const std::clock_t cpuStart = std::clock();
        WaitPumping(300, systemClock());
        const double cpuMs = double(std::clock() - cpuStart) * 1000.0 / CLOCKS_PER_SEC;
        QVERIFY(timer.elapsed() >= 300);
        QVERIFY2(cpuMs < 200, qPrintable(QString::number(cpuMs)));
    }
};

QTEST_GUILESS_MAIN(TestWaitPumping)
#include "tst_waitpumping.moc"

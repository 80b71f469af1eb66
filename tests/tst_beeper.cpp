#include "Beeper.h"
#include "RecordingDoubles.h"

#include <QMediaDevices>
#include <QSignalSpy>
#include <QtTest>

#include <limits>

#include <cmath>
#include <cstring>

Q_DECLARE_METATYPE(QAudioFormat::SampleFormat)

static double SampleAt(const QByteArray &data, const QAudioFormat &format, qint64 frame,
                       int channel)
{
    const char *p =
        data.constData() + (frame * format.channelCount() + channel) * format.bytesPerSample();
    switch (format.sampleFormat()) {
    case QAudioFormat::UInt8: {
        quint8 v;
        std::memcpy(&v, p, sizeof v);
        return (double(v) - 128.0) / 127.0;
    }
    case QAudioFormat::Int16: {
        qint16 v;
        std::memcpy(&v, p, sizeof v);
        return double(v) / 32767.0;
    }
    case QAudioFormat::Int32: {
        qint32 v;
        std::memcpy(&v, p, sizeof v);
        return double(v) / 2147483647.0;
    }
    case QAudioFormat::Float: {
        float v;
        std::memcpy(&v, p, sizeof v);
        return double(v);
    }
    default:
        return 0.0;
    }
}

static int MessagesLogged = 0;
static void CountingHandler(QtMsgType, const QMessageLogContext &, const QString &)
{
    ++MessagesLogged;
}

class TestBeeper : public QObject
{
    Q_OBJECT

private slots:
    void toneSamples_data();
    void toneSamples();
    void toneSamplesAtTheLimits_data();
    void toneSamplesAtTheLimits();
    void toneBeeperReturnsAtOnceAndStaysQuiet();
    void accessorSwapsBeeper();
};

void TestBeeper::toneSamples_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<QAudioFormat::SampleFormat>("sampleFormat");
    QTest::addColumn<int>("frequency");
    QTest::addColumn<int>("durationMs");

    QTest::newRow("high beep, 16-bit mono") << 44100 << 1 << QAudioFormat::Int16 << 1000 << 300;
    QTest::newRow("low beep, 16-bit mono") << 44100 << 1 << QAudioFormat::Int16 << 300 << 300;
    QTest::newRow("stereo 48 kHz") << 48000 << 2 << QAudioFormat::Int16 << 1000 << 300;
    QTest::newRow("float device") << 48000 << 2 << QAudioFormat::Float << 300 << 300;
    QTest::newRow("32-bit") << 22050 << 1 << QAudioFormat::Int32 << 440 << 250;
    QTest::newRow("8-bit") << 8000 << 1 << QAudioFormat::UInt8 << 300 << 500;
    QTest::newRow("odd length") << 44100 << 1 << QAudioFormat::Int16 << 1000 << 37;
}

void TestBeeper::toneSamples()
{
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(QAudioFormat::SampleFormat, sampleFormat);
    QFETCH(int, frequency);
    QFETCH(int, durationMs);

    QAudioFormat format;
    format.setSampleRate(rate);
    format.setChannelCount(channels);
    format.setSampleFormat(sampleFormat);

    const QByteArray data = ToneSamples(format, frequency, durationMs);
    const qint64 frames = std::llround(double(rate) * durationMs / 1000.0);
    QCOMPARE(data.size(), frames * channels * format.bytesPerSample());
    QCOMPARE(format.durationForBytes(data.size()) / 1000, qint64(durationMs));

    // Each period crosses zero upwards once, so the count gives the frequency.
    int upward = 0;
    double peak = 0.0;
    for (qint64 i = 0; i < frames; ++i) {
        const double v = SampleAt(data, format, i, 0);
        for (int c = 1; c < channels; ++c)
            QCOMPARE(SampleAt(data, format, i, c), v);
        peak = std::max(peak, std::abs(v));
        if (i > 0 && SampleAt(data, format, i - 1, 0) < 0.0 && v >= 0.0)
            ++upward;
    }
    const double expectedPeriods = double(frequency) * durationMs / 1000.0;
    QVERIFY2(std::abs(upward - expectedPeriods) <= 1.5,
             qPrintable(QString("%1 periods, expected %2").arg(upward).arg(expectedPeriods)));
    QVERIFY(peak > 0.4 && peak < 0.9);

    // The ends fade to silence instead of starting and stopping at full swing.
    const double tolerance = 2.0 / 127.0;
    QVERIFY(std::abs(SampleAt(data, format, 0, 0)) <= tolerance);
    QVERIFY(std::abs(SampleAt(data, format, frames - 1, 0)) <= tolerance);
    QVERIFY(std::abs(SampleAt(data, format, frames - 2, 0)) < 0.05);

    // The fade is a few milliseconds: 20 ms in, the tone already has its full strength.
    const qint64 from = rate * 20 / 1000;
    const qint64 period = rate / frequency + 1;
    if (from + period < frames / 2) {
        double middle = 0.0;
        for (qint64 i = from; i < from + period; ++i)
            middle = std::max(middle, std::abs(SampleAt(data, format, i, 0)));
        QVERIFY(std::abs(middle - peak) < 0.05);
    }
}

void TestBeeper::toneSamplesAtTheLimits_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("frequency");
    QTest::addColumn<int>("durationMs");
    // What is played; 0: nothing.
    QTest::addColumn<qint64>("playedMs");

    QTest::newRow("zero frequency") << 44100 << 0 << 300 << qint64(0);
    QTest::newRow("negative frequency") << 44100 << -5 << 300 << qint64(0);
    QTest::newRow("zero duration") << 44100 << 1000 << 0 << qint64(0);
    QTest::newRow("invalid format") << 0 << 1000 << 300 << qint64(0);
    QTest::newRow("a day's beep lasts ten seconds") << 44100 << 1000 << 86400000 << qint64(10000);
    QTest::newRow("the longest int")
        << 44100 << 1000 << std::numeric_limits<int>::max() << qint64(10000);
    // 16 MiB of 32-bit samples at a rate no device has.
    QTest::newRow("absurd rate") << 2000000000 << 1000 << 300 << qint64(2);
}

void TestBeeper::toneSamplesAtTheLimits()
{
    QFETCH(int, rate);
    QFETCH(int, frequency);
    QFETCH(int, durationMs);
    QFETCH(qint64, playedMs);

    QAudioFormat format;
    format.setSampleRate(rate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int32);
    const QByteArray data = ToneSamples(format, frequency, durationMs);
    QVERIFY(data.size() <= 16 * 1024 * 1024);
    QCOMPARE(data.isEmpty(), playedMs == 0);
    QCOMPARE(format.durationForBytes(data.size()) / 1000, playedMs);
}

void TestBeeper::toneBeeperReturnsAtOnceAndStaysQuiet()
{
    MessagesLogged = 0;
    const QtMessageHandler previous = qInstallMessageHandler(CountingHandler);
    const bool haveOutput = !QMediaDevices::defaultAudioOutput().isNull();
    ToneBeeper tone;
    QSignalSpy finished(&tone, &ToneBeeper::toneFinished);
    tone.Beep(1000, 300);
    tone.Beep(300, 300);
    tone.Beep(0, 300);
    tone.Beep(1000, 0);
    qInstallMessageHandler(previous);

    QVERIFY2(MessagesLogged <= 1, qPrintable(QString("%1 lines logged").arg(MessagesLogged)));
    if (!haveOutput) {
        QCOMPARE(tone.tonesStarted(), 0);
        QVERIFY(!tone.isPlaying());
        return;
    }
    // With a sound server the second beep replaced the first, and it ends by itself.
    QCOMPARE(tone.tonesStarted(), 2);
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.count(), 1);
    QVERIFY(!tone.isPlaying());
}

void TestBeeper::accessorSwapsBeeper()
{
    QVERIFY(dynamic_cast<ToneBeeper *>(&beeper()));
    QCOMPARE(&beeper(), &beeper());

    RecordingBeeper recording;
    setBeeper(&recording);
    beeper().Beep(300, 300);
    const QList<BeepRecord> expected{{300, 300}};
    QCOMPARE(recording.beeps(), expected);

    setBeeper(nullptr);
    QVERIFY(dynamic_cast<ToneBeeper *>(&beeper()));
}

QTEST_GUILESS_MAIN(TestBeeper)
#include "tst_beeper.moc"

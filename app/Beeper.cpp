#include "Beeper.h"

#include <QAudioSink>
#include <QCoreApplication>
#include <QLoggingCategory>
#include <QMediaDevices>
#include <QPointer>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>

// Silence is reported only when asked for (QT_LOGGING_RULES="velqa.beep.info=true").
Q_LOGGING_CATEGORY(lcBeep, "velqa.beep", QtWarningMsg)

static constexpr int kFadeMs = 5;
static constexpr int kPreferredRate = 44100;
// Extra time after the sink reports idle before its stream is closed, on top of its own buffer.
static constexpr int kReleaseMarginMs = 250;
// A beep is a short signal: longer requests are cut, and no tone takes more memory than this.
static constexpr int kMaxToneMs = 10000;
static constexpr qint64 kMaxToneBytes = 16 * 1024 * 1024;

static Beeper *g_beeper = nullptr;

class SilentBeeper : public Beeper
{
public:
    void Beep(int, int) override {}
};

static void StoreSample(char *out, QAudioFormat::SampleFormat format, double value)
{
    value = std::clamp(value, -1.0, 1.0);
    switch (format) {
    case QAudioFormat::UInt8: {
        const auto sample = static_cast<quint8>(std::lround(128.0 + value * 127.0));
        std::memcpy(out, &sample, sizeof sample);
        break;
    }
    case QAudioFormat::Int16: {
        const auto sample = static_cast<qint16>(std::lround(value * 32767.0));
        std::memcpy(out, &sample, sizeof sample);
        break;
    }
    case QAudioFormat::Int32: {
        const auto sample = static_cast<qint32>(std::lround(value * 2147483647.0));
        std::memcpy(out, &sample, sizeof sample);
        break;
    }
    case QAudioFormat::Float: {
        const auto sample = static_cast<float>(value);
        std::memcpy(out, &sample, sizeof sample);
        break;
    }
    case QAudioFormat::Unknown:
    case QAudioFormat::NSampleFormats:
        break;
    }
}

QByteArray ToneSamples(const QAudioFormat &format, int frequencyHz, int durationMs)
{
    const int rate = format.sampleRate();
    const int channels = format.channelCount();
    const int bytesPerSample = format.bytesPerSample();
    if (!format.isValid() || rate <= 0 || channels <= 0 || bytesPerSample <= 0 ||
        frequencyHz <= 0 || durationMs <= 0)
        return {};

    const qint64 frameBytes = qint64(channels) * bytesPerSample;
    const qint64 frames = std::min((qint64(rate) * std::min(durationMs, kMaxToneMs) + 500) / 1000,
                                   kMaxToneBytes / frameBytes);
    const qint64 fadeFrames = std::min<qint64>(qint64(rate) * kFadeMs / 1000, frames / 2);
    const double amplitude = 0.5;
    const double step = 2.0 * M_PI * frequencyHz / rate;

    QByteArray data(frames * frameBytes, Qt::Uninitialized);
    char *out = data.data();
    for (qint64 i = 0; i < frames; ++i) {
        double gain = amplitude;
        if (fadeFrames > 0) {
            const qint64 edge = std::min(i, frames - 1 - i);
            if (edge < fadeFrames)
                gain *= double(edge) / double(fadeFrames);
        }
        const double value = gain * std::sin(step * double(i));
        for (int c = 0; c < channels; ++c) {
            StoreSample(out, format.sampleFormat(), value);
            out += bytesPerSample;
        }
    }
    return data;
}

static QAudioFormat ToneFormat(const QAudioDevice &device)
{
    QAudioFormat format;
    format.setSampleRate(kPreferredRate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    if (device.isNull() || device.isFormatSupported(format))
        return format;
    const QAudioFormat preferred = device.preferredFormat();
    return preferred.isValid() ? preferred : format;
}

ToneBeeper::ToneBeeper(QObject *parent) : QObject(parent)
{
    m_release.setSingleShot(true);
    connect(&m_release, &QTimer::timeout, this, &ToneBeeper::ReleaseDevice);
}

ToneBeeper::~ToneBeeper()
{
    if (m_sink) {
        m_sink->disconnect(this);
        m_sink->stop();
    }
}

bool ToneBeeper::isPlaying() const
{
    return m_sink && m_sink->state() == QAudio::ActiveState;
}

void ToneBeeper::ReportSilence(const char *why)
{
    if (m_silenceReported)
        return;
    m_silenceReported = true;
    qCInfo(lcBeep, "beeps are silent: %s", why);
}

bool ToneBeeper::EnsureSink()
{
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) {
        ReportSilence("no audio output");
        return false;
    }
    if (m_sink && device.id() == m_device.id())
        return true;

    if (m_sink) {
        m_sink->disconnect(this);
        m_sink->stop();
        m_sink->deleteLater();
        m_sink = nullptr;
    }
    m_device = device;
    m_format = ToneFormat(device);
    m_sink = new QAudioSink(device, m_format, this);
    connect(m_sink, &QAudioSink::stateChanged, this, &ToneBeeper::onStateChanged);
    return true;
}

void ToneBeeper::Beep(int frequencyHz, int durationMs)
{
    if (frequencyHz <= 0 || durationMs <= 0)
        return;
    if (!EnsureSink())
        return;

    m_release.stop();
    // A tone still playing is cut off: the newest beep is the one that matters.
    if (m_sink->state() != QAudio::StoppedState)
        m_sink->stop();
    m_tone.close();
    m_tone.setData(ToneSamples(m_format, frequencyHz, durationMs));
    m_tone.open(QIODevice::ReadOnly);
    m_sink->start(&m_tone);

    if (m_sink->state() == QAudio::StoppedState && m_sink->error() != QAudio::NoError) {
        ReportSilence("the audio output could not be opened");
        m_tone.close();
        return;
    }
    ++m_tonesStarted;
}

void ToneBeeper::onStateChanged(QAudio::State state)
{
    if (state == QAudio::IdleState && m_tone.isOpen() && m_tone.atEnd()) {
        const qint64 bufferedMs = m_format.durationForBytes(m_sink->bufferSize()) / 1000;
        m_release.start(int(bufferedMs) + kReleaseMarginMs);
    }
}

void ToneBeeper::ReleaseDevice()
{
    if (m_sink && m_sink->state() == QAudio::IdleState) {
        m_sink->stop();
        m_tone.close();
        emit toneFinished();
    }
}

Beeper &beeper()
{
    if (g_beeper)
        return *g_beeper;
    // The tone beeper lives with the application so its sink is gone before the audio backend.
    static QPointer<ToneBeeper> tone;
    if (!tone && QCoreApplication::instance())
        tone = new ToneBeeper(QCoreApplication::instance());
    if (tone)
        return *tone;
    static SilentBeeper withoutApplication;
    return withoutApplication;
}

void setBeeper(Beeper *beeper)
{
    g_beeper = beeper;
}

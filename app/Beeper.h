#pragma once

#include <QAudio>
#include <QAudioDevice>
#include <QAudioFormat>
#include <QBuffer>
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTimer>

class QAudioSink;

class Beeper
{
public:
    virtual ~Beeper() = default;
    // Returns at once; the tone plays on while the window goes on working.
    virtual void Beep(int frequencyHz, int durationMs) = 0;
};

// A sine of the given frequency and length in the given sample format (every channel the same),
// with short fades at both ends so the tone starts and stops without a click. A tone lasts at most
// ten seconds and takes at most 16 MiB, whatever was asked for.
[[nodiscard]] QByteArray ToneSamples(const QAudioFormat &format, int frequencyHz, int durationMs);

// Plays real tones on the default audio output; silent where there is none.
class ToneBeeper : public QObject, public Beeper
{
    Q_OBJECT

public:
    explicit ToneBeeper(QObject *parent = nullptr);
    ~ToneBeeper() override;

    void Beep(int frequencyHz, int durationMs) override;

    [[nodiscard]] bool isPlaying() const;
    [[nodiscard]] QAudioFormat format() const { return m_format; }
    [[nodiscard]] int tonesStarted() const { return m_tonesStarted; }

signals:
    void toneFinished();

private:
    [[nodiscard]] bool EnsureSink();
    void ReportSilence(const char *why);
    void onStateChanged(QAudio::State state);
    void ReleaseDevice();

    QAudioSink *m_sink = nullptr;
    QAudioDevice m_device;
    QAudioFormat m_format;
    QBuffer m_tone;
    // The sink goes idle once the buffer is read, while the sound server still holds the tail.
    QTimer m_release;
    int m_tonesStarted = 0;
    bool m_silenceReported = false;
};

// The beeper in use; a ToneBeeper unless another one was set.
[[nodiscard]] Beeper &beeper();
// The beeper is not owned; nullptr restores the tone beeper.
void setBeeper(Beeper *beeper);

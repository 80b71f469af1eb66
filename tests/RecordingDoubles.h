#pragma once

// Stand-ins for the window's error box and beeper: they record what they were asked to show or
// play and return at once. Header-only, for the tests, the soak harness and the benchmarks.

#include "Beeper.h"
#include "ErrorBox.h"

#include <QList>
#include <QStringList>

#include <functional>

struct BeepRecord
{
    int frequencyHz = 0;
    int durationMs = 0;

    friend bool operator==(const BeepRecord &a, const BeepRecord &b)
    {
        return a.frequencyHz == b.frequencyHz && a.durationMs == b.durationMs;
    }
};

class RecordingBeeper : public Beeper
{
public:
    void Beep(int frequencyHz, int durationMs) override
    {
        m_beeps.append(BeepRecord{frequencyHz, durationMs});
    }
    void Clear() { m_beeps.clear(); }

    [[nodiscard]] const QList<BeepRecord> &beeps() const { return m_beeps; }

private:
    QList<BeepRecord> m_beeps;
};

// Records each message and returns at once; the callback lets a test act while "the box is open".
class RecordingPresenter : public ErrorPresenter
{
public:
    using Callback = std::function<void(const QString &message)>;

    explicit RecordingPresenter(Callback whileOpen = {}) : m_whileOpen(std::move(whileOpen)) {}

    void ShowError(const QString &message) override
    {
        m_messages.append(message);
        if (m_whileOpen)
            m_whileOpen(message);
    }
    void SetWhileOpen(Callback whileOpen) { m_whileOpen = std::move(whileOpen); }
    void Clear() { m_messages.clear(); }

    [[nodiscard]] const QStringList &messages() const { return m_messages; }
    [[nodiscard]] QStringList shownTexts() const
    {
        QStringList texts;
        for (const QString &message : m_messages)
            texts.append(ErrorBoxText(message));
        return texts;
    }

private:
    QStringList m_messages;
    Callback m_whileOpen;
};

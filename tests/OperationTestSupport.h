#pragma once

// A window stand-in for the module operations: it keeps what the window would show and a log
// of every call, so a test can check both the final screen and the order of events.

#include "Operations.h"

#include <QStringList>

struct BeepCall
{
    int frequencyHz = 0;
    int durationMs = 0;
    friend bool operator==(const BeepCall &a, const BeepCall &b)
    {
        return a.frequencyHz == b.frequencyHz && a.durationMs == b.durationMs;
    }
};

class RecordingView : public OperationView
{
public:
    QString ip = QStringLiteral("127.0.0.1");
    bool windowEnabled = true;
    bool busyCursor = false;
    QString status = QStringLiteral("Start Scan Module");
    IndicatorColour indicator = IndicatorColour::Red;
    QList<BeepCall> beeps;
    QString serial = QStringLiteral("S/N : ________");
    QString version = QStringLiteral("VER : __.__-__");
    QStringList lines;
    QString cardId;
    QString loopText;
    QStringList navigations;
    int refreshes = 0;
    QStringList log;

    [[nodiscard]] QString IpText() const override { return ip; }
    void SetWindowEnabled(bool enabled) override
    {
        windowEnabled = enabled;
        log << (enabled ? "enable" : "disable");
    }
    void SetBusyCursor(bool busy) override
    {
        busyCursor = busy;
        log << (busy ? "hourglass" : "arrow");
    }
    void SetStatusText(const QString &text) override
    {
        status = text;
        log << "status " + text;
    }
    void SetIndicator(IndicatorColour colour) override
    {
        indicator = colour;
        log << (colour == IndicatorColour::Yellow ? "yellow" : "red");
    }
    void Beep(int frequencyHz, int durationMs) override
    {
        beeps.append({frequencyHz, durationMs});
        log << QStringLiteral("beep %1").arg(frequencyHz);
    }
    void SetSerialText(const QString &text) override { serial = text; }
    void SetVersionText(const QString &text) override { version = text; }
    void ClearDataList() override
    {
        lines.clear();
        log << "clear list";
    }
    void AddDataLine(const QString &line) override { lines << line; }
    void SetCardIdText(const QString &text) override
    {
        cardId = text;
        log << "card " + text;
    }
    void SetLoopText(const QString &text) override
    {
        loopText = text;
        log << "loop " + text;
    }
    void NavigateWeb(const QString &location) override
    {
        navigations << location;
        log << "navigate " + location;
    }
    void RefreshWeb() override
    {
        ++refreshes;
        log << "refresh";
    }
};

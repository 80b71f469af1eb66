#pragma once

// An observer of the module operations that keeps a log of what they told it, in order, so a
// test can check when the window would have been told what.

#include "Operations.h"

#include <QStringList>

class RecordingObserver : public OperationObserver
{
public:
    QStringList log;
    bool windowEnabled = true;
    QList<int> beeps;

    void SetWindowEnabled(bool enabled) override
    {
        windowEnabled = enabled;
        log << (enabled ? "enable" : "disable");
    }
    void SetBusyCursor(bool busy) override { log << (busy ? "hourglass" : "arrow"); }
    void StatusChanged(const QString &text) override { log << "status " + text; }
    void IndicatorChanged(IndicatorColour colour) override
    {
        log << (colour == IndicatorColour::Yellow ? "yellow" : "red");
    }
    void Beep(int frequencyHz, int durationMs) override
    {
        beeps << frequencyHz;
        log << QStringLiteral("beep %1 %2").arg(frequencyHz).arg(durationMs);
    }
    void SerialRead(const QByteArray &serial) override { log << "serial " + serial; }
    void VersionRead(const QByteArray &version) override { log << "version " + version; }
    void SlotsCleared() override { log << "clear slots"; }
    void SlotRead(int slot, const QByteArray &) override
    {
        log << QStringLiteral("slot %1").arg(slot);
    }
    void CardCleared() override { log << "clear card"; }
    void CardRead(const QByteArray &card) override { log << "card " + card; }
    void LoopCleared() override { log << "clear loop"; }
    void LoopRead(const QByteArray &loop) override { log << "loop " + loop; }
    void NavigateWeb(const QString &location) override { log << "navigate " + location; }
    void RefreshWeb() override { log << "refresh"; }
    void ShowError(const QString &message) override { log << "error " + message; }
};

#pragma once

#include "MessageCatalogue.h"
#include "OperationResult.h"
#include "Outcome.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// What an operation tells whoever shows it (the main window), as it happens and in values: the
// window formats them. Every call has a default that does nothing.
class OperationObserver
{
public:
    virtual ~OperationObserver() = default;

    // Mouse and keyboard input to the window stop; painting and socket events go on.
    virtual void SetWindowEnabled(bool) {}
    virtual void SetBusyCursor(bool) {}
    virtual void StatusChanged(const QString &) {}
    virtual void IndicatorChanged(IndicatorColour) {}
    virtual void Beep(int /*frequencyHz*/, int /*durationMs*/) {}
    virtual void SerialRead(const QByteArray &) {}
    virtual void VersionRead(const QByteArray &) {}
    virtual void SlotsCleared() {}
    virtual void SlotRead(int /*slot*/, const QByteArray &) {}
    // The card field emptied at the start of the reader test, and its result: the card number,
    // or empty for no card.
    virtual void CardCleared() {}
    virtual void CardRead(const QByteArray &) {}
    virtual void LoopCleared() {}
    virtual void LoopRead(const QByteArray &) {}
    // The browser pane: go to the typed location, and reload the current page.
    virtual void NavigateWeb(const QString &) {}
    virtual void RefreshWeb() {}
    // An error of the link's own calls that ended the operation (the window's error box).
    virtual void ShowError(const QString &) {}
};

// The commands and raw messages the tool sends to the module.
namespace ModuleMessages {
inline const QByteArray SerialCommand("S01");
inline const QByteArray VersionCommand("V01");
inline const QByteArray TestPattern("F01KAVRO*Technology*Corp.********99");
// 0x09, "A01F0F", 0x0D: passed on to the card reader.
inline const QByteArray ReaderRequest("\x09"
                                      "A01F0F\r");
// "Loop Test Ok.", 0x00, 0x0D: 15 bytes, the zero byte included.
inline const QByteArray LoopMessage("Loop Test Ok.\0\r", 15);
inline constexpr int SlotCount = 8;
inline constexpr int SlotWidth = 32;
[[nodiscard]] QByteArray SlotReadCommand(int slot);
[[nodiscard]] QByteArray SlotClearCommand(int slot);
// "F0n" and the 32 characters for slot n.
[[nodiscard]] QByteArray SlotWriteCommand(int slot, const QByteArray &data);
} // namespace ModuleMessages

// Texts that stay English whatever the language.
namespace FixedTexts {
inline const QString ScanOk = QStringLiteral("Ok.");
inline const QString ScanError = QStringLiteral("Error!");
inline const QString SerialPrefix = QStringLiteral("S/N : ");
inline const QString VersionPrefix = QStringLiteral("VER : ");
inline const QString NoCard = QStringLiteral("No Card !");
} // namespace FixedTexts

// How long the module has to answer, and what counts as an answer. A framed command is judged
// after each of 100 waits of 10 ms (about a second); a raw message is watched for 100 waits of
// 3 ms in full, since a later piece may still replace the reply.
namespace ReplyRules {
inline constexpr int CommandWaits = 100;
inline constexpr quint32 CommandWaitMs = 10;
inline constexpr int WatchWaits = 100;
inline constexpr quint32 WatchWaitMs = 3;
// More than five characters in the reply buffer: the module answered.
[[nodiscard]] inline bool IsReply(const QByteArray &buffer)
{
    return buffer.size() > 5;
}
} // namespace ReplyRules

// Module bytes as text, one character per byte, nothing lost or changed.
[[nodiscard]] QString ModuleText(const QByteArray &bytes);

// The field at 1-based character `position`, `length` long, shorter when the reply is.
[[nodiscard]] QByteArray ReplyField(const QByteArray &reply, int position, int length);

// One thing the rules ask of the driver of a link. The driver does it, then asks the rules for
// the next action and tells them what the link looks like (LinkView).
struct LinkAction
{
    enum class Kind {
        // The run has ended; its result is complete.
        Done,
        // Deliver the events already waiting, once.
        Dispatch,
        // Close the link; the disconnect event runs inside.
        Close,
        // Start opening the link to `address` on the link's port.
        Open,
        // Let the connect event arrive, for at most `ms`. The window waits all of it; the command
        // line stops as soon as the attempt is decided.
        AwaitConnection,
        // Wait `ms` while the link's events are delivered.
        Wait,
        // Pause `ms` without delivering events.
        Sleep,
        // Frame `bytes` as a command, empty the reply buffer, send, and wait for a reply
        // (ReplyRules::IsReply) within CommandWaits x CommandWaitMs, judged after each wait, never
        // before the first. On a link that is not connected: nothing sent, no wait, no reply.
        Command,
        // Empty the reply buffer, send `bytes` raw (one buffer send of all of them when
        // `asBuffer`, else a text send), then wait WatchWaits x WatchWaitMs in full, noting a
        // reply whenever the buffer holds one.
        Watch,
    };
    Kind kind = Kind::Done;
    QByteArray bytes;
    QString address;
    quint32 ms = 0;
    bool asBuffer = false;
};

// What the driver tells the rules before each action: the link's state now, and whether the last
// Command or Watch saw a reply.
struct LinkView
{
    bool connected = false;
    // What the latest read delivered.
    QByteArray reply;
    bool replied = false;
};

// A slot written and read back.
struct SlotWrite
{
    int slot = 0;
    // The 32 characters written.
    QByteArray data;
    // The write went out: the link was up when it was due (on a lost link nothing is sent).
    bool sent = false;
    // The module answered the write.
    bool written = false;
    // What the slot read back after the write; null when the read was not answered.
    QByteArray readBack;

    [[nodiscard]] bool verified() const { return written && readBack == data; }
};

// The rules of the module operations, once, for every driver: a step machine with no I/O and no
// clock of its own. A run begins, yields actions one at a time (Next) and consumes what the link
// saw; the link's events are told to it as they happen, also between runs, since the status line
// keeps what they last said. The window drives it on its link and pumped waits (ModuleOperations),
// the command line on its engine with its own time rules.
class OperationSteps
{
public:
    static constexpr int BeepHighHz = 1000;
    static constexpr int BeepLowHz = 300;
    static constexpr int BeepMs = 300;

    explicit OperationSteps(OperationObserver *observer = nullptr);

    // One of the window's operations on the module at `address` (the IP field's text as typed).
    void Begin(Operation operation, const QString &address, const QDateTime &started);
    // Connect, then "S01" and "V01" only: whether the address answers as a module. Success when
    // both answered; the result holds serial number and version. No observer calls.
    void BeginIdentify(const QString &address, const QDateTime &started);
    // Write `data` (32 characters) into `slot` and read the slot back (lastSlotWrite()), with
    // 10 ms between the commands as Clear All Data has. Success when the slot read back holds
    // the data; no reply otherwise, or not connected once the link is down.
    void BeginSlotWrite(int slot, const QByteArray &data, const QDateTime &started);

    [[nodiscard]] LinkAction Next(const LinkView &link);

    // Ends the run: the time it took and, when an error of the link's own calls ended it, that
    // error (shown after the time is taken: the time a box stays open is not the module's).
    const OperationResult &End(qint64 durationMs, const std::optional<QString> &failure = {});

    // The link's events, as they happen.
    void LinkConnected();
    void LinkDisconnected();
    void LinkErrorReported(const QString &message);

    // On by default: a scan ends by showing the module's web page as the web-page button does.
    // Without it the scan ends without that step's 2000 ms wait and beep.
    void setWebPageStep(bool on) { m_webPageStep = on; }
    [[nodiscard]] bool webPageStep() const { return m_webPageStep; }

    [[nodiscard]] bool running() const { return m_running; }
    [[nodiscard]] const OperationResult &result() const { return m_result; }
    // The status line's text as the operations and the link's events last set it.
    [[nodiscard]] const QString &status() const { return m_status; }
    [[nodiscard]] const SlotWrite &lastSlotWrite() const { return m_slotWrite; }

private:
    enum class Run { Operation, Identify, SlotWrite };

    void begin(Run run, Operation operation, const QString &address, const QDateTime &started);
    LinkAction scan(const LinkView &link);
    LinkAction setTestData(const LinkView &link);
    LinkAction clearAllData(const LinkView &link);
    LinkAction rawTest(const LinkView &link);
    LinkAction webPage();
    LinkAction identify(const LinkView &link);
    LinkAction slotWrite(const LinkView &link);

    // Busy cursor, window disabled, the operation's own result field emptied, then the events
    // already waiting dispatched once.
    LinkAction beginOperation(void (OperationObserver::*emptyResultField)());
    LinkAction reportOutcome(Outcome outcome);
    LinkAction scanFailed(const LinkView &link);
    LinkAction scanSucceeded();
    void setStatus(const QString &text);
    LinkAction then(int stage, LinkAction action);
    LinkAction done();

    OperationObserver *m_observer;
    Run m_run = Run::Operation;
    OperationResult m_result;
    QString m_status;
    QList<LinkAction> m_queue;
    int m_stage = 0;
    int m_slot = 0;
    bool m_running = false;
    bool m_webPageStep = true;
    SlotWrite m_slotWrite;
    // The serial number and version the last scan read on the connection that is up now; null
    // once it closes. Every later operation on it records them, so a module's records can all
    // be found by its serial number.
    QByteArray m_connectionSerial;
    QByteArray m_connectionVersion;
};

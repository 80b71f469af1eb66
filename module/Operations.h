#pragma once

#include "MessageCatalogue.h"
#include "ModuleLink.h"
#include "OperationResult.h"
#include "Outcome.h"

#include <QByteArray>
#include <QString>

#include <functional>

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
[[nodiscard]] QByteArray SlotReadCommand(int slot);
[[nodiscard]] QByteArray SlotClearCommand(int slot);
} // namespace ModuleMessages

// Texts that stay English whatever the language.
namespace FixedTexts {
inline const QString ScanOk = QStringLiteral("Ok.");
inline const QString ScanError = QStringLiteral("Error!");
inline const QString SerialPrefix = QStringLiteral("S/N : ");
inline const QString VersionPrefix = QStringLiteral("VER : ");
inline const QString NoCard = QStringLiteral("No Card !");
} // namespace FixedTexts

// Module bytes as text, one character per byte, nothing lost or changed.
[[nodiscard]] QString ModuleText(const QByteArray &bytes);

// The field at 1-based character `position`, `length` long, shorter when the reply is.
[[nodiscard]] QByteArray ReplyField(const QByteArray &reply, int position, int length);

// The tool's module operations on top of the link. Each returns what happened; an observer, when
// given, sees it as it happens. The operations take the link's events on their way to its owner,
// so connects, disconnects and errors during an operation land in its result. An error of the
// link's own calls (LinkError) ends the operation there with outcome Error.
class ModuleOperations : public LinkOwner
{
public:
    static constexpr int BeepHighHz = 1000;
    static constexpr int BeepLowHz = 300;
    static constexpr int BeepMs = 300;

    explicit ModuleOperations(ModuleLink &link, OperationObserver *observer = nullptr);
    ~ModuleOperations() override;
    ModuleOperations(const ModuleOperations &) = delete;
    ModuleOperations &operator=(const ModuleOperations &) = delete;

    // `address` is the IP field's text as typed.
    OperationResult Run(Operation operation, const QString &address);
    OperationResult Scan(const QString &address) { return Run(Operation::Scan, address); }
    OperationResult SetTestData(const QString &address)
    {
        return Run(Operation::SetTestData, address);
    }
    OperationResult ClearAllData(const QString &address)
    {
        return Run(Operation::ClearAllData, address);
    }
    OperationResult ReaderTest(const QString &address)
    {
        return Run(Operation::ReaderTest, address);
    }
    OperationResult LoopTest(const QString &address) { return Run(Operation::LoopTest, address); }
    OperationResult ShowWebPage(const QString &address) { return Run(Operation::WebPage, address); }

    // Called with every result as its operation ends.
    using Finished = std::function<void(const OperationResult &)>;
    void setFinished(Finished finished) { m_finished = std::move(finished); }

    // On by default: a scan ends by showing the module's web page as the web-page button does.
    // A caller with no browser pane turns it off, and the scan then ends without that step's
    // 2000 ms wait and beep.
    void setWebPageStep(bool on) { m_webPageStep = on; }
    [[nodiscard]] bool webPageStep() const { return m_webPageStep; }

    // LinkOwner: noted in the running operation's result, then passed on to the link's owner.
    void LinkConnected() override;
    void LinkDisconnected() override;
    void LinkErrorReported(const QString &message) override;

private:
    void scan();
    void setTestData();
    void clearAllData();
    void readerTest();
    void loopTest();
    void showWebPage();

    // Busy cursor, window disabled, the operation's own result field emptied, then the events
    // already waiting dispatched once.
    void beginOperation(void (OperationObserver::*emptyResultField)());
    void reportOutcome(Outcome outcome, Msg successRow, Msg noReplyRow);
    void scanFailed();
    void setStatus(const QString &text);
    void wait(quint32 ms);
    // Sends a raw message and waits 100 x 3 ms, noting whether more than five characters came.
    bool sendRawAndWatch(const QByteArray &message, bool asBuffer);

    ModuleLink &m_link;
    LinkOwner *m_next;
    OperationObserver *m_observer;
    Finished m_finished;
    OperationResult m_result;
    // The serial number and version the last scan read on the connection that is up now; null
    // once it closes. Every later operation on it records them, so a module's records can all
    // be found by its serial number.
    QByteArray m_connectionSerial;
    QByteArray m_connectionVersion;
    // Time spent in the link owner's error box while the operation ran: the technician's, not
    // the module's, so it is left out of the operation's duration.
    quint32 m_boxMs = 0;
    // The status line's text as the operations and the link's events last set it.
    QString m_status;
    bool m_running = false;
    bool m_webPageStep = true;
};

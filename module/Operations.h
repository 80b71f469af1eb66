#pragma once

#include "MessageCatalogue.h"
#include "Outcome.h"

#include <QByteArray>
#include <QString>

#include <functional>

class ModuleLink;

// What the operations need of the main window. The window implements it; tests implement it
// without widgets.
class OperationView
{
public:
    virtual ~OperationView() = default;

    [[nodiscard]] virtual QString IpText() const = 0;
    // Mouse and keyboard input to the window stop; painting and socket events go on.
    virtual void SetWindowEnabled(bool enabled) = 0;
    virtual void SetBusyCursor(bool busy) = 0;
    virtual void SetStatusText(const QString &text) = 0;
    virtual void SetIndicator(IndicatorColour colour) = 0;
    virtual void Beep(int frequencyHz, int durationMs) = 0;
    virtual void SetSerialText(const QString &text) = 0;
    virtual void SetVersionText(const QString &text) = 0;
    virtual void ClearDataList() = 0;
    virtual void AddDataLine(const QString &line) = 0;
    virtual void SetCardIdText(const QString &text) = 0;
    virtual void SetLoopText(const QString &text) = 0;
    // The browser pane: go to the typed location, and reload the current page.
    virtual void NavigateWeb(const QString &location) = 0;
    virtual void RefreshWeb() = 0;
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

// The tool's module operations on top of the link. Errors of the link's own calls
// (LinkError) leave these functions at the point of the call; the window's guarded path
// shows them and enables the window again.
class ModuleOperations
{
public:
    static constexpr int BeepHighHz = 1000;
    static constexpr int BeepLowHz = 300;
    static constexpr int BeepMs = 300;

    ModuleOperations(ModuleLink &link, OperationView &view);

    void Scan();
    void SetTestData();
    void ClearAllData();
    void ReaderTest();
    void LoopTest();
    void ShowWebPage();

    // On by default: a scan ends by showing the module's web page as the web-page button does.
    // A caller with no browser pane turns it off, and the scan then ends without that step's
    // 2000 ms wait and beep.
    void setWebPageStep(bool on) { m_webPageStep = on; }
    [[nodiscard]] bool webPageStep() const { return m_webPageStep; }

    // The common begin and end of the data-slot and test operations.
    void BeginOperation(const std::function<void()> &emptyResultField);
    void ReportOutcome(Outcome outcome, Msg successRow, Msg noReplyRow);

private:
    void scanFailed();
    // Sends a raw message and waits 100 x 3 ms, noting whether more than five characters came.
    bool sendRawAndWatch(const QByteArray &message, bool asBuffer);

    ModuleLink &m_link;
    OperationView &m_view;
    bool m_webPageStep = true;
};

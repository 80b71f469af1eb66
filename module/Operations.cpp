#include "Operations.h"

#include "Clock.h"
#include "LinkErrors.h"
#include "ModuleLink.h"

#include <QCoreApplication>

#include <optional>

QByteArray ModuleMessages::SlotReadCommand(int slot)
{
    return QByteArray("G") + QByteArray::number(slot).rightJustified(2, '0');
}

QByteArray ModuleMessages::SlotClearCommand(int slot)
{
    return QByteArray("F") + QByteArray::number(slot).rightJustified(2, '0') + QByteArray(32, '*');
}

QString ModuleText(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes);
}

QByteArray ReplyField(const QByteArray &reply, int position, int length)
{
    return reply.mid(position - 1, length);
}

static OperationObserver &noObserver()
{
    static OperationObserver none;
    return none;
}

ModuleOperations::ModuleOperations(ModuleLink &link, OperationObserver *observer)
    : m_link(link), m_next(link.owner()), m_observer(observer ? observer : &noObserver()),
      m_status(CatalogueText(Msg::StartScanModule))
{
    m_link.setOwner(this);
}

ModuleOperations::~ModuleOperations()
{
    m_link.setOwner(m_next);
}

OperationResult ModuleOperations::Run(Operation operation, const QString &address)
{
    const Clock &clock = m_link.clock();
    m_result = OperationResult{};
    m_result.operation = operation;
    m_result.address = address;
    m_result.status = m_status;
    m_result.started = QDateTime::currentDateTimeUtc();
    if (operation != Operation::Scan && operation != Operation::WebPage) {
        m_result.serial = m_connectionSerial;
        m_result.version = m_connectionVersion;
    }
    const quint32 start = clock.Milliseconds();
    m_boxMs = 0;
    m_running = true;
    std::optional<QString> failure;
    try {
        switch (operation) {
        case Operation::Scan:
            scan();
            break;
        case Operation::SetTestData:
            setTestData();
            break;
        case Operation::ClearAllData:
            clearAllData();
            break;
        case Operation::ReaderTest:
            readerTest();
            break;
        case Operation::LoopTest:
            loopTest();
            break;
        case Operation::WebPage:
            showWebPage();
            m_result.outcome = Outcome::Success;
            break;
        }
    } catch (const LinkError &error) {
        failure = error.message();
    }
    // Taken before any error box opens: the time the technician reads it is not the module's.
    m_result.durationMs = clock.Milliseconds() - start - m_boxMs;
    if (failure) {
        // The operation ends where the call failed; the window says why and takes input again.
        m_result.outcome = Outcome::Error;
        m_result.errors << *failure;
        m_observer->ShowError(*failure);
        m_observer->SetWindowEnabled(true);
        m_observer->SetBusyCursor(false);
    }
    m_running = false;
    if (m_finished)
        m_finished(m_result);
    return m_result;
}

void ModuleOperations::LinkConnected()
{
    // The window shows the link's events on its status line.
    m_status = CatalogueText(Msg::ConnectOk);
    if (m_running)
        m_result.status = m_status;
    m_next->LinkConnected();
}

void ModuleOperations::LinkDisconnected()
{
    // The next connection may reach another module.
    m_connectionSerial = QByteArray();
    m_connectionVersion = QByteArray();
    m_status = CatalogueText(Msg::Disconnect);
    if (m_running)
        m_result.status = m_status;
    m_next->LinkDisconnected();
}

void ModuleOperations::LinkErrorReported(const QString &message)
{
    if (m_running)
        m_result.errors << message;
    // The window's error box opens here, from within a wait, and stays open until it is read.
    const quint32 opened = m_link.clock().Milliseconds();
    m_next->LinkErrorReported(message);
    if (m_running)
        m_boxMs += m_link.clock().Milliseconds() - opened;
}

void ModuleOperations::setStatus(const QString &text)
{
    m_status = text;
    m_result.status = text;
    m_observer->StatusChanged(text);
}

void ModuleOperations::wait(quint32 ms)
{
    m_link.WaitPumping(ms);
}

void ModuleOperations::beginOperation(void (OperationObserver::*emptyResultField)())
{
    m_observer->SetBusyCursor(true);
    m_observer->SetWindowEnabled(false);
    (m_observer->*emptyResultField)();
    QCoreApplication::processEvents();
}

void ModuleOperations::reportOutcome(Outcome outcome, Msg successRow, Msg noReplyRow)
{
    m_result.outcome = outcome;
    const bool success = outcome == Outcome::Success;
    m_observer->IndicatorChanged(success ? IndicatorColour::Yellow : IndicatorColour::Red);
    const Msg row = success                       ? successRow
                    : outcome == Outcome::NoReply ? noReplyRow
                                                  : Msg::StartScanModule;
    setStatus(CatalogueText(row));
    m_observer->Beep(success ? BeepHighHz : BeepLowHz, BeepMs);
    m_observer->SetWindowEnabled(true);
    m_observer->SetBusyCursor(false);
}

void ModuleOperations::scan()
{
    m_observer->SetWindowEnabled(false);
    setStatus(CatalogueText(Msg::Connecting));
    if (m_link.ConnectedFlag()) {
        m_link.CloseLink();
        wait(100);
    }
    m_link.OpenLink(m_result.address);
    // The connect event arrives within this wait or not at all for this scan.
    wait(500);
    m_observer->SlotsCleared();
    if (!m_link.ConnectedFlag())
        return scanFailed();

    if (!m_link.SendCommand(ModuleMessages::SerialCommand))
        return scanFailed();
    m_result.serial = ReplyField(m_link.ReplyBuffer(), 5, 8);
    m_connectionSerial = m_result.serial;
    m_observer->SerialRead(m_result.serial);

    if (!m_link.SendCommand(ModuleMessages::VersionCommand))
        return scanFailed();
    m_result.version = ReplyField(m_link.ReplyBuffer(), 5, 8);
    m_connectionVersion = m_result.version;
    m_observer->VersionRead(m_result.version);

    m_observer->SlotsCleared();
    for (int slot = 1; slot <= 8; ++slot) {
        // A slot that does not answer leaves no line and does not stop the scan.
        if (m_link.SendCommand(ModuleMessages::SlotReadCommand(slot))) {
            m_result.slotsRead.append({slot, ReplyField(m_link.ReplyBuffer(), 5, 32)});
            m_observer->SlotRead(slot, m_result.slotsRead.last().data);
        }
        wait(10);
    }

    if (m_webPageStep)
        showWebPage();
    m_result.outcome = Outcome::Success;
    m_observer->IndicatorChanged(IndicatorColour::Yellow);
    setStatus(FixedTexts::ScanOk);
    m_observer->SetWindowEnabled(true);
}

void ModuleOperations::scanFailed()
{
    m_result.outcome = m_link.ConnectedFlag() ? Outcome::NoReply : Outcome::NotConnected;
    setStatus(FixedTexts::ScanError);
    m_observer->Beep(BeepLowHz, BeepMs);
    m_observer->IndicatorChanged(IndicatorColour::Red);
    m_observer->SetWindowEnabled(true);
}

void ModuleOperations::setTestData()
{
    beginOperation(&OperationObserver::SlotsCleared);
    Outcome outcome = Outcome::NotConnected;
    if (m_link.ConnectedFlag()) {
        outcome = Outcome::NoReply;
        if (m_link.SendCommand(ModuleMessages::TestPattern)) {
            m_result.slotsRead.append({1, ModuleMessages::TestPattern.mid(3)});
            // The module stores the slot before it takes the next command; a plain pause.
            m_link.clock().Sleep(50);
            outcome = Outcome::Success;
        }
    }
    reportOutcome(outcome, Msg::SetDataOk, Msg::SetDataError);
}

void ModuleOperations::clearAllData()
{
    beginOperation(&OperationObserver::SlotsCleared);
    Outcome outcome = Outcome::NotConnected;
    if (m_link.ConnectedFlag()) {
        outcome = Outcome::NoReply;
        if (m_link.SendCommand(ModuleMessages::SlotClearCommand(1))) {
            const QByteArray cleared = ModuleMessages::SlotClearCommand(1).mid(3);
            m_result.slotsRead.append({1, cleared});
            // Slot 1 decides the outcome; the answers for slots 2 to 8 only cost time if missing.
            for (int slot = 2; slot <= 8; ++slot) {
                wait(10);
                if (m_link.SendCommand(ModuleMessages::SlotClearCommand(slot)))
                    m_result.slotsRead.append({slot, cleared});
            }
            wait(10);
            outcome = Outcome::Success;
        }
    }
    reportOutcome(outcome, Msg::SetDataOk, Msg::SetDataError);
}

bool ModuleOperations::sendRawAndWatch(const QByteArray &message, bool asBuffer)
{
    m_link.ClearReplyBuffer();
    if (asBuffer)
        m_link.SendBuffer(message.constData(), int(message.size()));
    else
        m_link.SendText(message);
    // Always the full 100 waits: a reply may still be replaced by a later piece.
    bool replied = false;
    for (int i = 0; i < 100; ++i) {
        wait(3);
        if (m_link.ReplyBuffer().size() > 5)
            replied = true;
    }
    return replied;
}

void ModuleOperations::readerTest()
{
    beginOperation(&OperationObserver::CardCleared);
    Outcome outcome = Outcome::NotConnected;
    if (m_link.ConnectedFlag()) {
        outcome = Outcome::NoReply;
        if (sendRawAndWatch(ModuleMessages::ReaderRequest, false)) {
            const QByteArray &reply = m_link.ReplyBuffer();
            m_result.card = reply.size() > 10 ? ReplyField(reply, 7, 8) : QByteArray("");
            m_observer->CardRead(m_result.card);
            outcome = Outcome::Success;
        }
    }
    reportOutcome(outcome, Msg::ReaderCardOk, Msg::ReaderCardError);
}

void ModuleOperations::loopTest()
{
    beginOperation(&OperationObserver::LoopCleared);
    Outcome outcome = Outcome::NotConnected;
    if (m_link.ConnectedFlag()) {
        outcome = Outcome::NoReply;
        if (sendRawAndWatch(ModuleMessages::LoopMessage, true)) {
            // The reply is shown as text, which ends at its first zero byte.
            const QByteArray &reply = m_link.ReplyBuffer();
            const qsizetype zero = reply.indexOf('\0');
            m_result.loop = zero < 0 ? reply : reply.left(zero);
            m_observer->LoopRead(m_result.loop);
            outcome = Outcome::Success;
        }
    }
    reportOutcome(outcome, Msg::LoopTestOk, Msg::LoopTestError);
}

void ModuleOperations::showWebPage()
{
    m_observer->SetWindowEnabled(false);
    try {
        m_observer->NavigateWeb(m_result.address);
        wait(2000);
        m_observer->RefreshWeb();
    } catch (const std::exception &) {
        // The browser's own failures are not the technician's concern here: it shows what it can.
    }
    m_observer->Beep(BeepHighHz, BeepMs);
    m_observer->IndicatorChanged(IndicatorColour::Yellow);
    m_observer->SetWindowEnabled(true);
}

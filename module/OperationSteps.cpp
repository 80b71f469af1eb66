#include "OperationSteps.h"

QByteArray ModuleMessages::SlotReadCommand(int slot)
{
    return QByteArray("G") + QByteArray::number(slot).rightJustified(2, '0');
}

QByteArray ModuleMessages::SlotClearCommand(int slot)
{
    return SlotWriteCommand(slot, QByteArray(SlotWidth, '*'));
}

QByteArray ModuleMessages::SlotWriteCommand(int slot, const QByteArray &data)
{
    return QByteArray("F") + QByteArray::number(slot).rightJustified(2, '0') + data;
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

static LinkAction action(LinkAction::Kind kind, quint32 ms = 0)
{
    LinkAction a;
    a.kind = kind;
    a.ms = ms;
    return a;
}

static LinkAction command(const QByteArray &bytes)
{
    LinkAction a;
    a.kind = LinkAction::Kind::Command;
    a.bytes = bytes;
    return a;
}

static LinkAction open(const QString &address)
{
    LinkAction a;
    a.kind = LinkAction::Kind::Open;
    a.address = address;
    return a;
}

OperationSteps::OperationSteps(OperationObserver *observer)
    : m_observer(observer ? observer : &noObserver()), m_status(CatalogueText(Msg::StartScanModule))
{
}

void OperationSteps::begin(Run run, Operation operation, const QString &address,
                           const QDateTime &started)
{
    m_run = run;
    m_result = OperationResult{};
    m_result.operation = operation;
    m_result.address = address;
    m_result.status = m_status;
    m_result.started = started;
    m_queue.clear();
    m_stage = 0;
    m_slot = 0;
    m_running = true;
}

void OperationSteps::Begin(Operation operation, const QString &address, const QDateTime &started)
{
    begin(Run::Operation, operation, address, started);
    if (operation != Operation::Scan && operation != Operation::WebPage) {
        m_result.serial = m_connectionSerial;
        m_result.version = m_connectionVersion;
    }
}

void OperationSteps::BeginIdentify(const QString &address, const QDateTime &started)
{
    begin(Run::Identify, Operation::Scan, address, started);
}

void OperationSteps::BeginSlotWrite(int slot, const QByteArray &data, const QDateTime &started)
{
    begin(Run::SlotWrite, Operation::Scan, QString(), started);
    m_slotWrite = SlotWrite{slot, data, false, false, QByteArray()};
}

LinkAction OperationSteps::Next(const LinkView &link)
{
    if (!m_running || m_stage < 0)
        return action(LinkAction::Kind::Done);
    if (!m_queue.isEmpty())
        return m_queue.takeFirst();
    switch (m_run) {
    case Run::Identify:
        return identify(link);
    case Run::SlotWrite:
        return slotWrite(link);
    case Run::Operation:
        break;
    }
    switch (m_result.operation) {
    case Operation::Scan:
        return scan(link);
    case Operation::SetTestData:
        return setTestData(link);
    case Operation::ClearAllData:
        return clearAllData(link);
    case Operation::ReaderTest:
    case Operation::LoopTest:
        return rawTest(link);
    case Operation::WebPage:
        return webPage();
    }
    return done();
}

const OperationResult &OperationSteps::End(qint64 durationMs, const std::optional<QString> &failure)
{
    m_result.durationMs = durationMs;
    if (failure) {
        // The operation ends where the call failed; the window says why and takes input again.
        m_result.outcome = Outcome::Error;
        m_result.errors << *failure;
        m_observer->ShowError(*failure);
        m_observer->SetWindowEnabled(true);
        m_observer->SetBusyCursor(false);
    }
    m_queue.clear();
    m_running = false;
    return m_result;
}

void OperationSteps::LinkConnected()
{
    // The window shows the link's events on its status line.
    m_status = CatalogueText(Msg::ConnectOk);
    if (m_running)
        m_result.status = m_status;
}

void OperationSteps::LinkDisconnected()
{
    // The next connection may reach another module.
    m_connectionSerial = QByteArray();
    m_connectionVersion = QByteArray();
    m_status = CatalogueText(Msg::Disconnect);
    if (m_running)
        m_result.status = m_status;
}

void OperationSteps::LinkErrorReported(const QString &message)
{
    if (m_running)
        m_result.errors << message;
}

void OperationSteps::setStatus(const QString &text)
{
    m_status = text;
    m_result.status = text;
    m_observer->StatusChanged(text);
}

LinkAction OperationSteps::then(int stage, LinkAction next)
{
    m_stage = stage;
    return next;
}

LinkAction OperationSteps::done()
{
    m_queue.clear();
    m_stage = -1;
    return action(LinkAction::Kind::Done);
}

LinkAction OperationSteps::beginOperation(void (OperationObserver::*emptyResultField)())
{
    m_observer->SetBusyCursor(true);
    m_observer->SetWindowEnabled(false);
    (m_observer->*emptyResultField)();
    return then(1, action(LinkAction::Kind::Dispatch));
}

LinkAction OperationSteps::reportOutcome(Outcome outcome)
{
    // Setting and clearing data share their two rows.
    const bool reader = m_result.operation == Operation::ReaderTest;
    const bool loop = m_result.operation == Operation::LoopTest;
    const Msg successRow = reader ? Msg::ReaderCardOk : loop ? Msg::LoopTestOk : Msg::SetDataOk;
    const Msg noReplyRow = reader ? Msg::ReaderCardError
                           : loop ? Msg::LoopTestError
                                  : Msg::SetDataError;
    m_result.outcome = outcome;
    const bool success = outcome == Outcome::Success;
    m_observer->IndicatorChanged(success ? IndicatorColour::Yellow : IndicatorColour::Red);
    const Msg text = success                       ? successRow
                     : outcome == Outcome::NoReply ? noReplyRow
                                                   : Msg::StartScanModule;
    setStatus(CatalogueText(text));
    m_observer->Beep(success ? BeepHighHz : BeepLowHz, BeepMs);
    m_observer->SetWindowEnabled(true);
    m_observer->SetBusyCursor(false);
    return done();
}

LinkAction OperationSteps::scan(const LinkView &link)
{
    switch (m_stage) {
    case 0:
        m_observer->SetWindowEnabled(false);
        setStatus(CatalogueText(Msg::Connecting));
        if (link.connected) {
            m_queue << action(LinkAction::Kind::Close) << action(LinkAction::Kind::Wait, 100);
        }
        m_queue << open(m_result.address);
        // The connect event arrives within this wait or not at all for this scan.
        m_queue << action(LinkAction::Kind::AwaitConnection, 500);
        return then(1, m_queue.takeFirst());
    case 1:
        m_observer->SlotsCleared();
        if (!link.connected)
            return scanFailed(link);
        return then(2, command(ModuleMessages::SerialCommand));
    case 2:
        if (!link.replied)
            return scanFailed(link);
        m_result.serial = ReplyField(link.reply, 5, 8);
        m_connectionSerial = m_result.serial;
        m_observer->SerialRead(m_result.serial);
        return then(3, command(ModuleMessages::VersionCommand));
    case 3:
        if (!link.replied)
            return scanFailed(link);
        m_result.version = ReplyField(link.reply, 5, 8);
        m_connectionVersion = m_result.version;
        m_observer->VersionRead(m_result.version);
        m_observer->SlotsCleared();
        m_slot = 1;
        return then(4, command(ModuleMessages::SlotReadCommand(m_slot)));
    case 4:
        // A slot that does not answer leaves no line and does not stop the scan.
        if (link.replied) {
            m_result.slotsRead.append({m_slot, ReplyField(link.reply, 5, 32)});
            m_observer->SlotRead(m_slot, m_result.slotsRead.last().data);
        }
        return then(5, action(LinkAction::Kind::Wait, 10));
    case 5:
        if (++m_slot <= ModuleMessages::SlotCount)
            return then(4, command(ModuleMessages::SlotReadCommand(m_slot)));
        if (!m_webPageStep)
            return scanSucceeded();
        m_stage = 6;
        return webPage();
    default:
        return webPage();
    }
}

LinkAction OperationSteps::scanSucceeded()
{
    m_result.outcome = Outcome::Success;
    m_observer->IndicatorChanged(IndicatorColour::Yellow);
    setStatus(FixedTexts::ScanOk);
    m_observer->SetWindowEnabled(true);
    return done();
}

LinkAction OperationSteps::scanFailed(const LinkView &link)
{
    m_result.outcome = link.connected ? Outcome::NoReply : Outcome::NotConnected;
    setStatus(FixedTexts::ScanError);
    m_observer->Beep(BeepLowHz, BeepMs);
    m_observer->IndicatorChanged(IndicatorColour::Red);
    m_observer->SetWindowEnabled(true);
    return done();
}

// The web page: the pane goes to the typed address and reloads it 2000 ms later. Run alone (the
// web-page button, stages 0 and 1) or as the scan's last step (stages 6 and 7).
LinkAction OperationSteps::webPage()
{
    const bool alone = m_result.operation == Operation::WebPage;
    const int first = alone ? 0 : 6;
    if (m_stage == first) {
        m_observer->SetWindowEnabled(false);
        try {
            m_observer->NavigateWeb(m_result.address);
            return then(first + 1, action(LinkAction::Kind::Wait, 2000));
        } catch (const std::exception &) {
            // The browser's own failures are not the technician's concern here: it shows what
            // it can.
        }
    } else {
        try {
            m_observer->RefreshWeb();
        } catch (const std::exception &) {
        }
    }
    m_observer->Beep(BeepHighHz, BeepMs);
    m_observer->IndicatorChanged(IndicatorColour::Yellow);
    m_observer->SetWindowEnabled(true);
    if (!alone)
        return scanSucceeded();
    m_result.outcome = Outcome::Success;
    return done();
}

LinkAction OperationSteps::setTestData(const LinkView &link)
{
    switch (m_stage) {
    case 0:
        return beginOperation(&OperationObserver::SlotsCleared);
    case 1:
        if (!link.connected)
            return reportOutcome(Outcome::NotConnected);
        return then(2, command(ModuleMessages::TestPattern));
    case 2:
        if (!link.replied)
            return reportOutcome(Outcome::NoReply);
        m_result.slotsRead.append({1, ModuleMessages::TestPattern.mid(3)});
        // The module stores the slot before it takes the next command; a plain pause.
        return then(3, action(LinkAction::Kind::Sleep, 50));
    default:
        return reportOutcome(Outcome::Success);
    }
}

LinkAction OperationSteps::clearAllData(const LinkView &link)
{
    switch (m_stage) {
    case 0:
        return beginOperation(&OperationObserver::SlotsCleared);
    case 1:
        if (!link.connected)
            return reportOutcome(Outcome::NotConnected);
        m_slot = 1;
        return then(2, command(ModuleMessages::SlotClearCommand(m_slot)));
    case 2:
        // Slot 1 decides the outcome; the answers for slots 2 to 8 only cost time if missing.
        if (m_slot == 1 && !link.replied)
            return reportOutcome(Outcome::NoReply);
        // The record holds the slots the module said it wrote.
        if (link.replied)
            m_result.slotsRead.append({m_slot, ModuleMessages::SlotClearCommand(m_slot).mid(3)});
        return then(3, action(LinkAction::Kind::Wait, 10));
    case 3:
        if (++m_slot <= ModuleMessages::SlotCount)
            return then(2, command(ModuleMessages::SlotClearCommand(m_slot)));
        return reportOutcome(Outcome::Success);
    default:
        return done();
    }
}

LinkAction OperationSteps::rawTest(const LinkView &link)
{
    const bool reader = m_result.operation == Operation::ReaderTest;
    switch (m_stage) {
    case 0:
        return beginOperation(reader ? &OperationObserver::CardCleared
                                     : &OperationObserver::LoopCleared);
    case 1: {
        if (!link.connected)
            return reportOutcome(Outcome::NotConnected);
        LinkAction watch;
        watch.kind = LinkAction::Kind::Watch;
        watch.bytes = reader ? ModuleMessages::ReaderRequest : ModuleMessages::LoopMessage;
        watch.asBuffer = !reader;
        return then(2, watch);
    }
    default:
        break;
    }
    if (!link.replied)
        return reportOutcome(Outcome::NoReply);
    if (reader) {
        m_result.card = link.reply.size() > 10 ? ReplyField(link.reply, 7, 8) : QByteArray("");
        m_observer->CardRead(m_result.card);
    } else {
        // The reply is shown as text, which ends at its first zero byte.
        const qsizetype zero = link.reply.indexOf('\0');
        m_result.loop = zero < 0 ? link.reply : link.reply.left(zero);
        m_observer->LoopRead(m_result.loop);
    }
    return reportOutcome(Outcome::Success);
}

LinkAction OperationSteps::identify(const LinkView &link)
{
    switch (m_stage) {
    case 0:
        m_queue << action(LinkAction::Kind::AwaitConnection, 500);
        return then(1, open(m_result.address));
    case 1:
        if (!link.connected)
            return done();
        m_result.outcome = Outcome::NoReply;
        return then(2, command(ModuleMessages::SerialCommand));
    case 2:
        if (!link.replied)
            return done();
        m_result.serial = ReplyField(link.reply, 5, 8);
        return then(3, command(ModuleMessages::VersionCommand));
    default:
        if (!link.replied)
            return done();
        m_result.version = ReplyField(link.reply, 5, 8);
        m_result.outcome = Outcome::Success;
        setStatus(FixedTexts::ScanOk);
        return done();
    }
}

LinkAction OperationSteps::slotWrite(const LinkView &link)
{
    switch (m_stage) {
    case 0:
        m_slotWrite.sent = link.connected;
        return then(1,
                    command(ModuleMessages::SlotWriteCommand(m_slotWrite.slot, m_slotWrite.data)));
    case 1:
        m_slotWrite.written = link.replied;
        return then(2, action(LinkAction::Kind::Wait, 10));
    case 2:
        // Read back whether or not the write was answered: the module may have stored it.
        return then(3, command(ModuleMessages::SlotReadCommand(m_slotWrite.slot)));
    case 3:
        if (link.replied)
            m_slotWrite.readBack = ReplyField(link.reply, 5, ModuleMessages::SlotWidth);
        m_result.outcome = !link.connected          ? Outcome::NotConnected
                           : m_slotWrite.verified() ? Outcome::Success
                                                    : Outcome::NoReply;
        return then(4, action(LinkAction::Kind::Wait, 10));
    default:
        return done();
    }
}

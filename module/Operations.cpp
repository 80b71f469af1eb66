#include "Operations.h"

#include "ModuleLink.h"

#include <QCoreApplication>
#include <QThread>

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

ModuleOperations::ModuleOperations(ModuleLink &link, OperationView &view)
    : m_link(link), m_view(view)
{
}

void ModuleOperations::BeginOperation(const std::function<void()> &emptyResultField)
{
    m_view.SetBusyCursor(true);
    m_view.SetWindowEnabled(false);
    if (emptyResultField)
        emptyResultField();
    QCoreApplication::processEvents();
}

void ModuleOperations::ReportOutcome(Outcome outcome, Msg successRow, Msg noReplyRow)
{
    const bool success = outcome == Outcome::Success;
    m_view.SetIndicator(success ? IndicatorColour::Yellow : IndicatorColour::Red);
    const Msg row = success                       ? successRow
                    : outcome == Outcome::NoReply ? noReplyRow
                                                  : Msg::StartScanModule;
    m_view.SetStatusText(CatalogueText(row));
    m_view.Beep(success ? BeepHighHz : BeepLowHz, BeepMs);
    m_view.SetWindowEnabled(true);
    m_view.SetBusyCursor(false);
}

void ModuleOperations::Scan()
{
    m_view.SetWindowEnabled(false);
    m_view.SetStatusText(CatalogueText(Msg::Connecting));
    if (m_link.ConnectedFlag()) {
        m_link.CloseLink();
        m_link.WaitPumping(100);
    }
    m_link.OpenLink(m_view.IpText());
    // The connect event arrives within this wait or not at all for this scan.
    m_link.WaitPumping(500);
    m_view.ClearDataList();
    if (!m_link.ConnectedFlag())
        return scanFailed();

    if (!m_link.SendCommand(ModuleMessages::SerialCommand))
        return scanFailed();
    m_view.SetSerialText(FixedTexts::SerialPrefix +
                         ModuleText(ReplyField(m_link.ReplyBuffer(), 5, 8)));

    if (!m_link.SendCommand(ModuleMessages::VersionCommand))
        return scanFailed();
    m_view.SetVersionText(FixedTexts::VersionPrefix +
                          ModuleText(ReplyField(m_link.ReplyBuffer(), 5, 8)));

    m_view.ClearDataList();
    for (int slot = 1; slot <= 8; ++slot) {
        // A slot that does not answer leaves no line and does not stop the scan.
        if (m_link.SendCommand(ModuleMessages::SlotReadCommand(slot)))
            m_view.AddDataLine(QString::asprintf("(%02d)", slot) + QLatin1Char(' ') +
                               ModuleText(ReplyField(m_link.ReplyBuffer(), 5, 32)));
        m_link.WaitPumping(10);
    }

    if (m_webPageStep)
        ShowWebPage();
    m_view.SetIndicator(IndicatorColour::Yellow);
    m_view.SetStatusText(FixedTexts::ScanOk);
    m_view.SetWindowEnabled(true);
}

void ModuleOperations::scanFailed()
{
    m_view.SetStatusText(FixedTexts::ScanError);
    m_view.Beep(BeepLowHz, BeepMs);
    m_view.SetIndicator(IndicatorColour::Red);
    m_view.SetWindowEnabled(true);
}

void ModuleOperations::SetTestData()
{
    BeginOperation([this] { m_view.ClearDataList(); });
    Outcome outcome = Outcome::NotConnected;
    if (m_link.ConnectedFlag()) {
        outcome = Outcome::NoReply;
        if (m_link.SendCommand(ModuleMessages::TestPattern)) {
            // The module stores the slot before it takes the next command; a plain pause.
            QThread::msleep(50);
            outcome = Outcome::Success;
        }
    }
    ReportOutcome(outcome, Msg::SetDataOk, Msg::SetDataError);
}

void ModuleOperations::ClearAllData()
{
    BeginOperation([this] { m_view.ClearDataList(); });
    Outcome outcome = Outcome::NotConnected;
    if (m_link.ConnectedFlag()) {
        outcome = Outcome::NoReply;
        if (m_link.SendCommand(ModuleMessages::SlotClearCommand(1))) {
            // Slot 1 decides the outcome; the answers for slots 2 to 8 only cost time if missing.
            for (int slot = 2; slot <= 8; ++slot) {
                m_link.WaitPumping(10);
                m_link.SendCommand(ModuleMessages::SlotClearCommand(slot));
            }
            m_link.WaitPumping(10);
            outcome = Outcome::Success;
        }
    }
    ReportOutcome(outcome, Msg::SetDataOk, Msg::SetDataError);
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
        m_link.WaitPumping(3);
        if (m_link.ReplyBuffer().size() > 5)
            replied = true;
    }
    return replied;
}

void ModuleOperations::ReaderTest()
{
    BeginOperation([this] { m_view.SetCardIdText(QString()); });
    Outcome outcome = Outcome::NotConnected;
    if (m_link.ConnectedFlag()) {
        outcome = Outcome::NoReply;
        if (sendRawAndWatch(ModuleMessages::ReaderRequest, false)) {
            const QByteArray &reply = m_link.ReplyBuffer();
            m_view.SetCardIdText(reply.size() > 10 ? ModuleText(ReplyField(reply, 7, 8))
                                                   : FixedTexts::NoCard);
            outcome = Outcome::Success;
        }
    }
    ReportOutcome(outcome, Msg::ReaderCardOk, Msg::ReaderCardError);
}

void ModuleOperations::LoopTest()
{
    BeginOperation([this] { m_view.SetLoopText(QString()); });
    Outcome outcome = Outcome::NotConnected;
    if (m_link.ConnectedFlag()) {
        outcome = Outcome::NoReply;
        if (sendRawAndWatch(ModuleMessages::LoopMessage, true)) {
            // The reply is shown as text, which ends at its first zero byte.
            const QByteArray &reply = m_link.ReplyBuffer();
            const qsizetype zero = reply.indexOf('\0');
            m_view.SetLoopText(ModuleText(zero < 0 ? reply : reply.left(zero)));
            outcome = Outcome::Success;
        }
    }
    ReportOutcome(outcome, Msg::LoopTestOk, Msg::LoopTestError);
}

void ModuleOperations::ShowWebPage()
{
    m_view.SetWindowEnabled(false);
    const QString location = m_view.IpText();
    try {
        m_view.NavigateWeb(location);
        m_link.WaitPumping(2000);
        m_view.RefreshWeb();
    } catch (const std::exception &) {
        // The browser's own failures are not the technician's concern here: it shows what it can.
    }
    m_view.Beep(BeepHighHz, BeepMs);
    m_view.SetIndicator(IndicatorColour::Yellow);
    m_view.SetWindowEnabled(true);
}

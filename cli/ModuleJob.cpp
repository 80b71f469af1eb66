#include "ModuleJob.h"

#include "HostResolver.h"
#include "LinkErrors.h"
#include "MessageCatalogue.h"
#include "Operations.h"

#include <QElapsedTimer>
#include <QHostAddress>

QString CommandName(CliCommand command)
{
    switch (command) {
    case CliCommand::Scan:
        return QStringLiteral("scan");
    case CliCommand::SetTestData:
        return QStringLiteral("set-test-data");
    case CliCommand::Clear:
        return QStringLiteral("clear");
    case CliCommand::ReaderTest:
        return QStringLiteral("reader-test");
    case CliCommand::LoopTest:
        return QStringLiteral("loop-test");
    case CliCommand::Discover:
        return QStringLiteral("discover");
    }
    return QString();
}

QString OutcomeName(ModuleOutcome outcome)
{
    switch (outcome) {
    case ModuleOutcome::Success:
        return QStringLiteral("success");
    case ModuleOutcome::NoReply:
        return QStringLiteral("no-reply");
    case ModuleOutcome::NotConnected:
        return QStringLiteral("not-connected");
    case ModuleOutcome::Error:
        return QStringLiteral("error");
    }
    return QString();
}

// The window without widgets: it keeps what the window would show and takes the link's events
// as the window does.
class HeadlessModuleView : public OperationView, public LinkOwner
{
public:
    explicit HeadlessModuleView(const QString &address) : m_address(address) {}

    QString status = CatalogueText(Msg::StartScanModule);
    IndicatorColour indicator = IndicatorColour::Red;
    QString serial;
    QString version;
    QList<SlotLine> slotLines;
    QString cardId;
    QString loopText;
    QStringList errors;

    [[nodiscard]] QString IpText() const override { return m_address; }
    void SetWindowEnabled(bool) override {}
    void SetBusyCursor(bool) override {}
    void SetStatusText(const QString &text) override { status = text; }
    void SetIndicator(IndicatorColour colour) override { indicator = colour; }
    void Beep(int, int) override {}
    void SetSerialText(const QString &text) override
    {
        serial = text.mid(FixedTexts::SerialPrefix.size());
    }
    void SetVersionText(const QString &text) override
    {
        version = text.mid(FixedTexts::VersionPrefix.size());
    }
    void ClearDataList() override { slotLines.clear(); }
    // Lines read "(03) " and the slot's characters.
    void AddDataLine(const QString &line) override
    {
        slotLines.append({line.mid(1, 2).toInt(), line.mid(5)});
    }
    void SetCardIdText(const QString &text) override { cardId = text; }
    void SetLoopText(const QString &text) override { loopText = text; }
    void NavigateWeb(const QString &) override {}
    void RefreshWeb() override {}

    void LinkConnected() override { status = CatalogueText(Msg::ConnectOk); }
    void LinkDisconnected() override { status = CatalogueText(Msg::Disconnect); }
    void LinkErrorReported(const QString &message) override { errors.append(message); }

private:
    QString m_address;
};

// The platform's lookup of an address text also asks for the address's name, which can take
// seconds on a machine without a name server and runs on a small shared pool of threads; an
// address needs no lookup, so it comes back as it is, from the event loop like an answer.
class AddressFirstResolver : public HostResolver
{
public:
    bool Lookup(const QString &host, QObject *context, Done done) override
    {
        const QHostAddress address(host);
        if (address.isNull())
            return systemResolver().Lookup(host, context, std::move(done));
        QMetaObject::invokeMethod(
            context, [done, address] { done({address}); }, Qt::QueuedConnection);
        return true;
    }
};

static ModuleOutcome operationOutcome(const HeadlessModuleView &view)
{
    if (view.indicator == IndicatorColour::Yellow)
        return ModuleOutcome::Success;
    return view.status == CatalogueText(Msg::StartScanModule) ? ModuleOutcome::NotConnected
                                                              : ModuleOutcome::NoReply;
}

// Up to 500 ms, as the scan's wait after opening, but over as soon as the attempt is decided.
static void waitForConnection(ModuleLink &link, const HeadlessModuleView &view)
{
    for (int i = 0; i < 50 && !link.ConnectedFlag() && view.errors.isEmpty(); ++i)
        link.WaitPumping(10);
}

static void discover(ModuleLink &link, HeadlessModuleView &view, ModuleResult &result)
{
    link.OpenLink(view.IpText());
    waitForConnection(link, view);
    if (!link.ConnectedFlag()) {
        result.outcome = ModuleOutcome::NotConnected;
        return;
    }
    result.outcome = ModuleOutcome::NoReply;
    if (!link.SendCommand(ModuleMessages::SerialCommand))
        return;
    view.serial = ModuleText(ReplyField(link.ReplyBuffer(), 5, 8));
    if (!link.SendCommand(ModuleMessages::VersionCommand))
        return;
    view.version = ModuleText(ReplyField(link.ReplyBuffer(), 5, 8));
    result.found = true;
    result.outcome = ModuleOutcome::Success;
    view.status = FixedTexts::ScanOk;
}

ModuleResult RunModuleJob(const QString &address, const JobOptions &options)
{
    QElapsedTimer clock;
    clock.start();
    ModuleResult result;
    result.address = address;
    result.command = options.command;

    AddressFirstResolver resolver;
    HeadlessModuleView view(address);
    ModuleLink link(&view);
    link.setPort(options.port);
    link.setResolver(&resolver);
    if (options.wire) {
        link.setWireObserver(
            [&options, address](ModuleLink::WireDirection direction, const QByteArray &bytes) {
                options.wire(address, direction, bytes);
            });
    }
    ModuleOperations operations(link, view);
    operations.setWebPageStep(false);

    try {
        if (options.command == CliCommand::Discover) {
            discover(link, view, result);
        } else {
            operations.Scan();
            if (view.status == FixedTexts::ScanOk)
                result.outcome = ModuleOutcome::Success;
            else
                result.outcome =
                    link.ConnectedFlag() ? ModuleOutcome::NoReply : ModuleOutcome::NotConnected;
            result.slotLines = view.slotLines;
            if (options.command != CliCommand::Scan)
                result.scanStatus = view.status;
            switch (options.command) {
            case CliCommand::SetTestData:
                operations.SetTestData();
                break;
            case CliCommand::Clear:
                operations.ClearAllData();
                break;
            case CliCommand::ReaderTest:
                operations.ReaderTest();
                break;
            case CliCommand::LoopTest:
                operations.LoopTest();
                break;
            case CliCommand::Scan:
            case CliCommand::Discover:
                break;
            }
            if (options.command != CliCommand::Scan)
                result.outcome = operationOutcome(view);
        }
    } catch (const LinkError &error) {
        // The window shows it in its error box and ends the operation there.
        view.errors.append(error.message());
        result.outcome = ModuleOutcome::Error;
    }

    result.serial = view.serial;
    result.version = view.version;
    result.cardId = view.cardId;
    result.loopText = view.loopText;
    result.status = view.status;
    // Errors the socket reports later still reach the window before it closes the link.
    link.WaitPumping(0);
    result.errors = view.errors;
    link.CloseLink();
    result.durationMs = clock.elapsed();
    return result;
}

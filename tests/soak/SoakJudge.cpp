#include "SoakJudge.h"

#include "MessageCatalogue.h"
#include "Operations.h"

#include <QFile>
#include <QRegularExpression>

#include <algorithm>

QString SoakOperationName(SoakOperation operation)
{
    switch (operation) {
    case SoakOperation::Scan:
        return QStringLiteral("scan");
    case SoakOperation::SetData:
        return QStringLiteral("set data");
    case SoakOperation::Clear:
        return QStringLiteral("clear data");
    case SoakOperation::Reader:
        return QStringLiteral("reader test");
    case SoakOperation::Loop:
        return QStringLiteral("loop test");
    case SoakOperation::Refresh:
        return QStringLiteral("refresh web");
    }
    return {};
}

QString SoakOutcomeName(SoakOutcome outcome)
{
    switch (outcome) {
    case SoakOutcome::Success:
        return QStringLiteral("success");
    case SoakOutcome::NoReply:
        return QStringLiteral("no reply");
    case SoakOutcome::NotConnected:
        return QStringLiteral("not conn.");
    case SoakOutcome::LinkError:
        return QStringLiteral("link error");
    case SoakOutcome::Inert:
        return QStringLiteral("disabled");
    }
    return {};
}

const char *SoakButtonName(SoakOperation operation)
{
    switch (operation) {
    case SoakOperation::Scan:
        return "btnScan";
    case SoakOperation::SetData:
        return "btnSetData";
    case SoakOperation::Clear:
        return "btnClear";
    case SoakOperation::Reader:
        return "btnReader";
    case SoakOperation::Loop:
        return "btnLoop";
    case SoakOperation::Refresh:
        return "btnRefresh";
    }
    return "";
}

bool SoakNeedsLink(SoakOperation operation)
{
    return operation != SoakOperation::Scan && operation != SoakOperation::Refresh;
}

static const QRegularExpression &asyncErrorPattern()
{
    static const QRegularExpression pattern(QStringLiteral("^Asynchronous socket error -?\\d+$"));
    return pattern;
}

static const QRegularExpression &callErrorPattern()
{
    static const QRegularExpression pattern(
        QStringLiteral("^Windows socket error: .* \\(-?\\d+\\), on API '(send|recv|connect)'$"));
    return pattern;
}

QString SoakErrorKind(const QString &message)
{
    if (asyncErrorPattern().match(message).hasMatch() ||
        callErrorPattern().match(message).hasMatch())
        return message;
    return QStringLiteral("other: ") + message;
}

bool SoakIsSendError(const QString &message)
{
    const QRegularExpressionMatch match = callErrorPattern().match(message);
    return match.hasMatch() && match.captured(1) == QLatin1String("send");
}

static QString colourName(IndicatorColour colour)
{
    return colour == IndicatorColour::Yellow ? QStringLiteral("yellow") : QStringLiteral("red");
}

static QString beepList(const QList<int> &frequencies)
{
    QStringList parts;
    for (int hz : frequencies)
        parts << QString::number(hz);
    return QLatin1Char('[') + parts.join(QLatin1Char(',')) + QLatin1Char(']');
}

// The status rows of a link operation, one per outcome it can report itself.
struct SoakOutcomeRows
{
    QString success;
    QString noReply;
    QString notConnected;
};

class SoakJudgeRun
{
public:
    explicit SoakJudgeRun(const SoakObservation &o) : m_o(o) {}

    SoakVerdict run(const std::optional<SoakExpectation> &expected)
    {
        checkCommon();
        if (SoakNeedsLink(m_o.operation) && !m_o.buttonWasEnabled)
            judgeInert();
        else if (std::any_of(m_o.errors.begin(), m_o.errors.end(), SoakIsSendError))
            judgeLinkError();
        else
            judgeByStatus();
        if (expected)
            compare(*expected);
        return m_verdict;
    }

private:
    void problem(const QString &text) { m_verdict.problems << text; }

    void checkCommon()
    {
        if (!m_o.windowEnabled)
            problem(QStringLiteral("the window still ignores input"));
        if (m_o.busyCursor)
            problem(QStringLiteral("the hourglass cursor is still shown"));
        const QStringList names = {"btnSetData", "btnClear", "btnReader", "btnLoop"};
        for (qsizetype i = 0; i < m_o.operationButtons.size() && i < names.size(); ++i) {
            if (m_o.operationButtons[i] != m_o.connected)
                problem(QStringLiteral("%1 is %2 while the link is %3")
                            .arg(names[i],
                                 m_o.operationButtons[i] ? QStringLiteral("enabled")
                                                         : QStringLiteral("disabled"),
                                 m_o.connected ? QStringLiteral("up") : QStringLiteral("down")));
        }
        for (const QString &error : m_o.errors) {
            if (SoakErrorKind(error).startsWith(QLatin1String("other: ")))
                problem(QStringLiteral("unexpected error box \"%1\"").arg(error));
        }
    }

    void expectUnchangedLook()
    {
        if (m_o.status != m_o.statusBefore)
            problem(QStringLiteral("status changed from \"%1\" to \"%2\"")
                        .arg(m_o.statusBefore, m_o.status));
        if (m_o.indicator != m_o.indicatorBefore)
            problem(QStringLiteral("indicator changed to %1").arg(colourName(m_o.indicator)));
    }

    void expectBeeps(const QList<int> &frequencies)
    {
        // Sizes first: Qt 6.4 compares two empty lists of int with memcmp on null pointers.
        const bool same = m_o.beepFrequencies.size() == frequencies.size() &&
                          std::equal(frequencies.cbegin(), frequencies.cend(),
                                     m_o.beepFrequencies.cbegin());
        if (!same)
            problem(QStringLiteral("beeps %1, expected %2")
                        .arg(beepList(m_o.beepFrequencies), beepList(frequencies)));
    }

    void expectIndicator(IndicatorColour colour)
    {
        if (m_o.indicator != colour)
            problem(QStringLiteral("indicator %1 with status \"%2\", expected %3")
                        .arg(colourName(m_o.indicator), m_o.status, colourName(colour)));
    }

    void judgeInert()
    {
        m_verdict.outcome = SoakOutcome::Inert;
        expectUnchangedLook();
        expectBeeps({});
        if (!m_o.errors.isEmpty())
            problem(QStringLiteral("a disabled button raised an error box"));
    }

    void judgeLinkError()
    {
        m_verdict.outcome = SoakOutcome::LinkError;
        // The refused send ran the disconnect event and ended the operation at that point.
        if (m_o.status != CatalogueText(Msg::Disconnect))
            problem(QStringLiteral("status \"%1\" after a failed send").arg(m_o.status));
        if (m_o.indicator != m_o.indicatorBefore)
            problem(QStringLiteral("indicator changed after a failed send"));
        expectBeeps({});
        if (m_o.connected)
            problem(QStringLiteral("the link is still marked up after a failed send"));
        if (m_o.operation == SoakOperation::Refresh)
            problem(QStringLiteral("the web page step sent something"));
    }

    void judgeByStatus()
    {
        switch (m_o.operation) {
        case SoakOperation::Scan:
            return judgeScan();
        case SoakOperation::Refresh:
            return judgeRefresh();
        case SoakOperation::SetData:
        case SoakOperation::Clear:
            judgeRows({CatalogueText(Msg::SetDataOk), CatalogueText(Msg::SetDataError),
                       CatalogueText(Msg::StartScanModule)});
            if (!m_o.dataLines.isEmpty())
                problem(QStringLiteral("the data list kept %1 lines").arg(m_o.dataLines.size()));
            return;
        case SoakOperation::Reader:
            judgeRows({CatalogueText(Msg::ReaderCardOk), CatalogueText(Msg::ReaderCardError),
                       CatalogueText(Msg::StartScanModule)});
            return judgeResultField(m_o.cardId, QStringLiteral("card number"), 8);
        case SoakOperation::Loop:
            judgeRows({CatalogueText(Msg::LoopTestOk), CatalogueText(Msg::LoopTestError),
                       CatalogueText(Msg::StartScanModule)});
            return judgeResultField(m_o.loopText, QStringLiteral("loop text"), -1);
        }
    }

    void judgeRows(const SoakOutcomeRows &rows)
    {
        if (m_o.status == rows.success) {
            m_verdict.outcome = SoakOutcome::Success;
        } else if (m_o.status == rows.noReply) {
            m_verdict.outcome = SoakOutcome::NoReply;
        } else if (m_o.status == rows.notConnected) {
            m_verdict.outcome = SoakOutcome::NotConnected;
            if (m_o.connected)
                problem(QStringLiteral("\"%1\" while the link is up").arg(m_o.status));
        } else {
            m_verdict.outcome = SoakOutcome::NoReply;
            problem(QStringLiteral("status \"%1\" is none of \"%2\", \"%3\", \"%4\"")
                        .arg(m_o.status, rows.success, rows.noReply, rows.notConnected));
            return;
        }
        expectOutcomeLook(m_verdict.outcome == SoakOutcome::Success);
    }

    void expectOutcomeLook(bool success)
    {
        expectIndicator(success ? IndicatorColour::Yellow : IndicatorColour::Red);
        expectBeeps({success ? ModuleOperations::BeepHighHz : ModuleOperations::BeepLowHz});
    }

    void judgeResultField(const QString &text, const QString &what, int maxLength)
    {
        if (m_verdict.outcome != SoakOutcome::Success) {
            if (!text.isEmpty())
                problem(QStringLiteral("%1 \"%2\" left after a failed test").arg(what, text));
            return;
        }
        // The loop text ends at its first zero byte; the card number is taken by position, so a
        // late loop echo read as a reader reply may put one there.
        if (maxLength < 0 && text.contains(QChar(0)))
            problem(QStringLiteral("%1 shows a zero byte").arg(what));
        if (maxLength > 0 && text != FixedTexts::NoCard &&
            (text.isEmpty() || text.size() > maxLength))
            problem(QStringLiteral("%1 \"%2\" is not 1 to %3 characters")
                        .arg(what, text)
                        .arg(maxLength));
    }

    void judgeScan()
    {
        if (m_o.status == FixedTexts::ScanOk) {
            m_verdict.outcome = SoakOutcome::Success;
            expectOutcomeLook(true);
            if (!m_o.serial.startsWith(FixedTexts::SerialPrefix))
                problem(QStringLiteral("serial panel reads \"%1\"").arg(m_o.serial));
            if (!m_o.version.startsWith(FixedTexts::VersionPrefix))
                problem(QStringLiteral("version panel reads \"%1\"").arg(m_o.version));
            checkDataLines();
        } else if (m_o.status == FixedTexts::ScanError) {
            m_verdict.outcome = SoakOutcome::NoReply;
            expectOutcomeLook(false);
            if (!m_o.dataLines.isEmpty())
                problem(
                    QStringLiteral("a failed scan left %1 data lines").arg(m_o.dataLines.size()));
        } else {
            m_verdict.outcome = SoakOutcome::NoReply;
            problem(QStringLiteral("a scan ended with status \"%1\"").arg(m_o.status));
        }
    }

    void checkDataLines()
    {
        if (m_o.dataLines.size() > 8)
            problem(QStringLiteral("%1 data lines").arg(m_o.dataLines.size()));
        int lastSlot = 0;
        for (const QString &line : m_o.dataLines) {
            const int slot = line.mid(1, 2).toInt();
            if (!line.startsWith(QStringLiteral("(%1) ").arg(slot, 2, 10, QLatin1Char('0'))) ||
                slot <= lastSlot || slot > 8 || line.size() > 5 + 32) {
                problem(QStringLiteral("data line \"%1\" out of shape or order").arg(line));
                return;
            }
            lastSlot = slot;
        }
    }

    void judgeRefresh()
    {
        m_verdict.outcome = SoakOutcome::Success;
        expectIndicator(IndicatorColour::Yellow);
        expectBeeps({ModuleOperations::BeepHighHz});
        // The page step reports nothing itself; only a link event may change the status meanwhile.
        const QStringList allowed = {m_o.statusBefore, CatalogueText(Msg::Disconnect),
                                     CatalogueText(Msg::ConnectOk)};
        if (!allowed.contains(m_o.status))
            problem(QStringLiteral("refresh changed the status to \"%1\"").arg(m_o.status));
    }

    void compare(const SoakExpectation &e)
    {
        if (m_verdict.outcome != e.outcome)
            problem(QStringLiteral("a healthy module gave %1 (status \"%2\"), expected %3")
                        .arg(SoakOutcomeName(m_verdict.outcome), m_o.status,
                             SoakOutcomeName(e.outcome)));
        compareText(QStringLiteral("serial panel"), m_o.serial, e.serial);
        compareText(QStringLiteral("version panel"), m_o.version, e.version);
        compareText(QStringLiteral("card number"), m_o.cardId, e.cardId);
        compareText(QStringLiteral("loop text"), m_o.loopText, e.loopText);
        compareText(QStringLiteral("web location"), m_o.webLocation, e.webLocation);
        if (!e.dataLines.isEmpty() && m_o.dataLines != e.dataLines)
            problem(QStringLiteral("data lines [%1], expected [%2]")
                        .arg(m_o.dataLines.join(QLatin1String(" | ")),
                             e.dataLines.join(QLatin1String(" | "))));
    }

    void compareText(const QString &what, const QString &actual, const QString &expected)
    {
        if (!expected.isEmpty() && actual != expected)
            problem(QStringLiteral("%1 \"%2\", expected \"%3\"").arg(what, actual, expected));
    }

    const SoakObservation &m_o;
    SoakVerdict m_verdict;
};

SoakVerdict JudgeOperation(const SoakObservation &observation,
                           const std::optional<SoakExpectation> &expected)
{
    return SoakJudgeRun(observation).run(expected);
}

qint64 ResidentKilobytes(const QByteArray &procStatus)
{
    for (const QByteArray &line : procStatus.split('\n')) {
        if (!line.startsWith("VmRSS:"))
            continue;
        const QByteArrayList fields = line.mid(6).simplified().split(' ');
        bool ok = false;
        const qint64 kilobytes = fields.value(0).toLongLong(&ok);
        return ok ? kilobytes : -1;
    }
    return -1;
}

qint64 CurrentResidentKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    return ResidentKilobytes(status.readAll());
}

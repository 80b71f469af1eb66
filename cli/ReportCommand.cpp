#include "ReportCommand.h"

#include "Cli.h"
#include "Console.h"
#include "Escape.h"
#include "Journal.h"
#include "JournalTime.h"
#include "Language.h"
#include "ReportReader.h"
#include "ReportRender.h"

#include <QCommandLineParser>
#include <QSaveFile>

static const char kReportDescription[] =
    "velqa-cli report: the journal's records of a period as one self-contained HTML page\n"
    "with charts and tables (--html FILE: no script, nothing fetched, prints well), and/or\n"
    "the same figures as JSON on standard output (--json).\n"
    "\n"
    "Period: --since and --until take a date, or a date and time such as 2024-05-01T08:30,\n"
    "with Z or +02:00 for a zone, otherwise the station's local time; a date alone is the\n"
    "start of that day, and --until is not included (as in history). Without them: the\n"
    "last 30 days, today included. Days are the station's local days.\n"
    "Success share: the outcome success, and changed and unchanged of provisioning. Records\n"
    "without a serial number count as \"unknown module\". Durations: nearest-rank median and\n"
    "95th percentile. Captions are in the station's language (LanguageFlag) unless\n"
    "--language says English, ChineseGB or ChineseBIG5; module bytes are shown escaped.\n"
    "\n"
    "JSON: since, until (UTC), time_zone, station, serial (the filters; null: all), made,\n"
    "records, successes, success_share (0 to 1), modules_seen, records_without_serial,\n"
    "outcomes (the outcome words met), by_source, by_station, by_operation (each: source,\n"
    "station or operation, records, successes, failures, success_share, failure_share),\n"
    "per_day (day, records, outcomes: word and count), firmware_versions (version, modules:\n"
    "each module's latest record; a null version: that record had none), most_failures\n"
    "(serial, null for the unknown module; last_address, failures, last_failure_status,\n"
    "last_failure_time), durations (operation, records, median_ms, p95_ms); with --stale:\n"
    "stale (days, before, modules, list: serial, last_seen, last_address, version).\n"
    "\n"
    "The journal is the first of: --journal URL, VELQA_JOURNAL, the station's JournalUrl\n"
    "setting, the SQLite file in the user's data folder. It is only read.\n"
    "\n"
    "Exit codes: 0 done; 1 the journal cannot be read; 2 usage error, or the page cannot be\n"
    "written.";

static int usageError(Console &console, const QString &message)
{
    return CliUsageError(console, message, QStringLiteral("report"));
}

std::optional<QString> ReportPeriod(const QString &since, const QString &until, ReportQuery &query)
{
    for (const auto &[option, text] : {std::pair{"since", since}, std::pair{"until", until}}) {
        if (!text.isEmpty() && !ParseTypedTime(text))
            return QStringLiteral("--%1 wants a date or a date and time such as "
                                  "2024-05-01T08:30, not %2")
                .arg(QLatin1String(option), CliQuoted(text));
    }
    query.until = until.isEmpty() ? QDateTime::currentDateTimeUtc() : *ParseTypedTime(until);
    if (since.isEmpty())
        SetDefaultPeriod(query, query.until);
    else
        query.since = *ParseTypedTime(since);
    if (query.since >= query.until)
        return QStringLiteral("the period ends before it begins");
    return std::nullopt;
}

static std::optional<int> languageIndex(const QString &text)
{
    const QString name = text.trimmed().toLower();
    if (name == QLatin1String("english") || name == QLatin1String("en"))
        return 0;
    if (name == QLatin1String("chinesegb") || name == QLatin1String("zh-cn"))
        return 1;
    if (name == QLatin1String("chinesebig5") || name == QLatin1String("zh-tw"))
        return 2;
    return std::nullopt;
}

static int runReport(const CliCall &call)
{
    const QCommandLineParser &parser = call.parser;
    Console &console = call.console;
    const auto value = [&parser](const char *name) {
        return parser.value(QString::fromLatin1(name));
    };
    const QString htmlPath = value("html");
    const bool json = parser.isSet(QStringLiteral("json"));
    if (!call.arguments.isEmpty())
        return usageError(console, QStringLiteral("report takes no targets, not %1")
                                       .arg(CliQuoted(call.arguments.first())));
    if (htmlPath.isEmpty() && !json)
        return usageError(console, QStringLiteral("report wants --html FILE, --json or both"));
    ReportQuery query;
    if (const std::optional<QString> error = ReportPeriod(value("since"), value("until"), query))
        return usageError(console, *error);
    query.station = value("station");
    if (parser.isSet(QStringLiteral("serial"))) {
        const QString serial = value("serial");
        for (const QChar c : serial) {
            if (c.unicode() > 0xff)
                return usageError(
                    console,
                    QStringLiteral("--serial: a module sends no %1").arg(CliQuoted(QString(c))));
        }
        query.serial = serial.toLatin1();
    }
    if (parser.isSet(QStringLiteral("stale"))) {
        bool ok = false;
        query.staleDays = value("stale").toInt(&ok);
        if (!ok || query.staleDays < 0 || query.staleDays > 36500)
            return usageError(console, QStringLiteral("--stale wants a number of days from 0 to "
                                                      "36500, not %1")
                                           .arg(CliQuoted(value("stale"))));
    }
    int language = 0;
    if (!parser.isSet(QStringLiteral("language"))) {
        LoadLanguage();
        language = LanguageIndex();
    } else if (const std::optional<int> index = languageIndex(value("language"))) {
        language = *index;
    } else {
        return usageError(console, QStringLiteral("--language wants English, ChineseGB or "
                                                  "ChineseBIG5, not %1")
                                       .arg(CliQuoted(value("language"))));
    }
    // Opened before the journal is read, so an unwritable page costs no queries.
    std::optional<QSaveFile> page;
    if (!htmlPath.isEmpty()) {
        page.emplace(htmlPath);
        if (!page->open(QIODevice::WriteOnly))
            return usageError(console, QStringLiteral("cannot write %1: %2")
                                           .arg(CliQuoted(htmlPath), page->errorString()));
    }

    QString error;
    const std::optional<ReportData> report =
        ReadReport(ChooseJournal(value("journal")).url, query, &error);
    if (!report) {
        console.writeErr(QStringLiteral("velqa-cli: %1\n").arg(TerminalText(error, 1024)));
        return 1;
    }
    if (page) {
        const QByteArray html = RenderReportHtml(*report, language);
        if (page->write(html) != html.size() || !page->commit()) {
            console.writeErr(QStringLiteral("velqa-cli: cannot write %1: %2\n")
                                 .arg(CliQuoted(htmlPath), page->errorString()));
            return int(CliExit::UsageError);
        }
    }
    if (json) {
        console.writeOut(QString::fromUtf8(RenderReportJson(*report)));
        console.flush();
        if (!console.outFailure().isEmpty()) {
            console.writeErr(QStringLiteral("velqa-cli: cannot write the report to standard "
                                            "output: %1\n")
                                 .arg(console.outFailure()));
            return int(CliExit::UsageError);
        }
    }
    return 0;
}

CliCommandRow ReportCommand()
{
    CliCommandRow row;
    row.name = QStringLiteral("report");
    row.summary = QStringLiteral("a period of the journal as a page with charts (--html) or as "
                                 "figures (--json)");
    row.description = QString::fromLatin1(kReportDescription);
    row.options = {
        {QStringLiteral("journal"), QStringLiteral("The journal to read."), QStringLiteral("URL")},
        {QStringLiteral("since"),
         QStringLiteral("Records from this time on: 2024-05-01, 2024-05-01T08:30, with Z or "
                        "+02:00 for a zone (otherwise local time)."),
         QStringLiteral("TIME")},
        {QStringLiteral("until"),
         QStringLiteral("Only records before this time, written as for --since."),
         QStringLiteral("TIME")},
        {QStringLiteral("station"), QStringLiteral("Only this station (its host name)."),
         QStringLiteral("STATION")},
        {QStringLiteral("serial"), QStringLiteral("Only this serial number."),
         QStringLiteral("SERIAL")},
        {QStringLiteral("stale"),
         QStringLiteral("Also list the modules not seen for DAYS days before the end of the "
                        "period."),
         QStringLiteral("DAYS")},
        {QStringLiteral("language"),
         QStringLiteral("Captions in English, ChineseGB or ChineseBIG5 (default: the "
                        "station's)."),
         QStringLiteral("LANGUAGE")},
        {QStringLiteral("html"), QStringLiteral("Write the page to FILE."), QStringLiteral("FILE")},
        {QStringLiteral("json"), QStringLiteral("Print the figures as JSON.")},
    };
    row.run = runReport;
    return row;
}

#pragma once

#include <QString>

// The report's own captions, in the tool's three languages (the columns of LanguageIndex():
// English, Simplified Chinese, Traditional Chinese). The window's catalogue stays as it is; the
// operations are named with its button captions.
enum class ReportText {
    Title,
    Colon,
    History,
    Reading,
    CannotRead,
    Summary,
    Period,
    TimesIn,
    Made,
    Station,
    AllStations,
    Module,
    AllModules,
    Records,
    ModulesSeen,
    SuccessShare,
    FailureShare,
    RecordsWithoutSerial,
    NoRecords,
    BySource,
    ByStation,
    Source,
    Operation,
    Outcome,
    Failures,
    PerDay,
    Day,
    Operations,
    FailuresPerStation,
    FailuresPerOperation,
    FirmwareVersions,
    Version,
    NoVersion,
    Modules,
    MostFailures,
    Serial,
    LastAddress,
    LastFailureStatus,
    LastFailure,
    UnknownModule,
    Durations,
    Median,
    Percentile95,
    Milliseconds,
    Stale,
    LastSeen,
    None,
    Shown,
    TableOf,
    SourceWindow,
    SourceCli,
    OutcomeSuccess,
    OutcomeNoReply,
    OutcomeNotConnected,
    OutcomeError,
    OutcomeChanged,
    OutcomeUnchanged,
};

// The text in `language` (0 English, 1 Simplified, 2 Traditional Chinese; others: English).
[[nodiscard]] QString ReportString(ReportText text, int language);

// An operation, source or outcome word of the journal in `language`; a word the tool does not
// know is shown by the text rule (Escape.h), like every other text a journal holds.
[[nodiscard]] QString OperationCaption(const QString &operation, int language);
[[nodiscard]] QString SourceCaption(const QString &source, int language);
[[nodiscard]] QString OutcomeCaption(const QString &outcome, int language);

// The HTML lang attribute of `language`.
[[nodiscard]] QString ReportLanguageTag(int language);

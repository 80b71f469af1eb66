#pragma once

#include "Journal.h"

#include <QString>

// A benchmark's window or command line keeps its journal in the benchmark's own scratch folder,
// never in the user's data folder, unless VELQA_JOURNAL already says where (or "off").
inline void KeepJournalIn(const QString &folder)
{
    if (qEnvironmentVariableIsEmpty(JournalEnvironment))
        qputenv(JournalEnvironment, ("sqlite:" + folder + "/journal.sqlite").toUtf8());
}

#pragma once

#include "ReportData.h"

#include <QString>

#include <optional>

// Reads a report's figures from the journal at `url` ("sqlite:PATH" or "postgresql://..."),
// opened for reading only: nothing is created, migrated or written, and a missing file is an
// error. Every figure is aggregated by the database in one read-only transaction, so the
// sections agree with each other while stations go on writing. On failure `error` says why.
[[nodiscard]] std::optional<ReportData> ReadReport(const QString &url, const ReportQuery &query,
                                                   QString *error);

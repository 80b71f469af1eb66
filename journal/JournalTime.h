#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

// Times as a person types and reads them, for every command that picks records by time
// (history's and the report's --since and --until).

// "2024-05-01", "2024-05-01T08:30", "2024-05-01 08:30:15", with "Z" or "+02:00" for a zone;
// without one, the station's local time. A date alone is the start of that day. Null when the
// text is no such time.
[[nodiscard]] std::optional<QDateTime> ParseTypedTime(const QString &text);

// "2024-05-01 16:00:00 +08:00": the station's local time, to the second, with its offset from
// UTC, so that a reader elsewhere can still tell the moment.
[[nodiscard]] QString LocalTimeText(const QDateTime &time);

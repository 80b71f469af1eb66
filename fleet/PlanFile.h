#pragma once

// A plan: the slots a fleet of modules should hold, as a table, one row per module.
//
// A plan file is CSV with a header line, or JSON (an array of objects), in the form `velqa-cli
// export` writes. Columns: a key, `serial` (the module's identity, preferred) or `address`; any of
// `slot1`..`slot8`; `version` (informational); and, in a plan saved after review
// (`velqa-cli plan --out`), `held_slot1`..`held_slot8`: what the module held then. With both
// `serial` and `address`, the serial is the key and the address says where to look for it.
//
// CSV cells are read by the spreadsheet rules of text/Escape.h (one leading "'" dropped, the
// byte rule's escapes undone); JSON strings hold one character per module byte. An empty or
// missing slot cell leaves the slot as it is. A value to be written is 1 to 32 printable ASCII
// characters (0x20..0x7E), padded to 32 with spaces. A cell holding another byte is accepted only
// as an export writes it, the 32 bytes a module held: never written, it says what the slot must
// already hold.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

namespace PlanSlots {
inline constexpr int Count = 8;
inline constexpr int Width = 32;
} // namespace PlanSlots

// A plan file larger than this is refused before it is read.
inline constexpr qint64 MaxPlanFileBytes = 16 * 1024 * 1024;
// At most this many modules in a plan, as the command line takes at most this many targets.
inline constexpr int MaxPlanRows = 65536;

// Slot n at index n - 1; no value where the plan says nothing (or the module sent nothing).
using SlotValues = std::array<std::optional<QByteArray>, PlanSlots::Count>;

enum class PlanKey { Serial, Address };

struct PlanRow
{
    // The line on which the row starts (JSON: its object's opening brace).
    int line = 0;
    // Null when the file has no such column or the cell is empty.
    QByteArray serial;
    QString address;
    QByteArray version;
    SlotValues desired;
    // Saved plans: what the module held when the plan was reviewed.
    SlotValues held;
};

struct Plan
{
    PlanKey key = PlanKey::Serial;
    bool hasAddress = false;
    // Saved after review: a module is written only while it holds what `held` says.
    bool saved = false;
    QList<PlanRow> rows;
};

// Where a plan file is wrong: its line (0: the file as a whole) and column name, when known.
struct PlanError
{
    int line = 0;
    QString column;
    QString message;
};

struct PlanReading
{
    Plan plan;
    // Set when the file is refused; then nothing may be sent to any module.
    std::optional<PlanError> error;
};

// Every column a plan may hold, in the order a saved plan writes them.
[[nodiscard]] QStringList PlanColumns();

[[nodiscard]] PlanReading ReadPlan(const QByteArray &data);
// Reads the file at `path`, refusing one over MaxPlanFileBytes before reading it.
[[nodiscard]] PlanReading ReadPlanFile(const QString &path);

// 1 to 32 printable ASCII characters.
[[nodiscard]] bool IsWritableValue(const QByteArray &value);
// A value as it is written: padded to 32 with spaces.
[[nodiscard]] QByteArray PaddedValue(const QByteArray &value);
// The slot already holds the planned value: the same bytes, or the value padded.
[[nodiscard]] bool SlotHolds(const std::optional<QByteArray> &current, const QByteArray &value);

#pragma once

#include "FleetPlan.h"
#include "Report.h"

#include <QByteArray>
#include <QList>
#include <QString>

enum class FleetCommand { Plan, Apply };

// "plan", "apply".
[[nodiscard]] QString FleetCommandName(FleetCommand command);

// One row per planned module (address, serial, outcome, slots changing, time), its slots as
// `current -> desired` (plan) or `before -> read back` (apply) below it, then a summary line.
// `unplanned` counts the targets that answered with a serial number the plan does not hold.
[[nodiscard]] QString FormatFleetTable(const Plan &plan, const QList<FleetModule> &modules,
                                       FleetCommand command, int unplanned, qint64 wallMs);

// An array with one object per planned module: the fields of a scan's (address, command,
// serial, version, slots, outcome, status, errors, duration_ms) and line (the plan's),
// slots_before, slots_after, written (apply) or to_write (plan), and note when there is one.
[[nodiscard]] QByteArray FormatFleetJson(const QList<FleetModule> &modules, const Plan &plan,
                                         FleetCommand command);

// A test case per planned module: failed unless it ended unchanged or changed (plan: pending).
[[nodiscard]] QList<JunitCase> FleetJunitCases(const QList<FleetModule> &modules, const Plan &plan,
                                               FleetCommand command);

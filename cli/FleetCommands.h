#pragma once

#include "Cli.h"

// Provisioning a fleet, as rows of the command line's table: "export" prints the modules'
// slots as a plan file, "plan" shows what a plan would change, "apply" writes it and reads each
// written slot back.
// Plan's exit code when slots would be written and nothing failed.
inline constexpr int PlanChangesPending = 3;

[[nodiscard]] CliCommandRow ExportCommand();
[[nodiscard]] CliCommandRow PlanCommand();
[[nodiscard]] CliCommandRow ApplyCommand();

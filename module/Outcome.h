#pragma once

#include "OperationResult.h"

// The two colours of the window's outcome lamp.
enum class IndicatorColour { Red, Yellow };

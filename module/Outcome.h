#pragma once

// How an operation ended, and the two colours of the window's outcome lamp.
enum class Outcome { Success, NoReply, NotConnected };
enum class IndicatorColour { Red, Yellow };

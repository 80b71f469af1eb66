#pragma once

#include <QIcon>
#include <QPalette>

// Whether a palette draws its buttons darker than their text, as dark desktop themes do.
[[nodiscard]] bool IsDarkPalette(const QPalette &palette);

// A button picture from the resources (":/icons/NAME.svg"). Under a dark palette a picture that
// would lose its contrast there (the red characters, the dark arrows) comes from its dark variant
// (":/icons/dark/NAME.svg"): the characters on a light plate, the arrows in lighter colours.
[[nodiscard]] QIcon Picture(const QString &name, const QPalette &palette);

#include "Pictures.h"

#include <QFile>

// The pictures live in a static library; naming the resource keeps the linker from dropping it.
static void initPictures()
{
    Q_INIT_RESOURCE(icons);
}

bool IsDarkPalette(const QPalette &palette)
{
    return palette.color(QPalette::ButtonText).lightness() >
           palette.color(QPalette::Button).lightness();
}

QIcon Picture(const QString &name, const QPalette &palette)
{
    static const bool loaded = (initPictures(), true);
    Q_UNUSED(loaded);
    const QString dark = QStringLiteral(":/icons/dark/%1.svg").arg(name);
    if (IsDarkPalette(palette) && QFile::exists(dark))
        return QIcon(dark);
    return QIcon(QStringLiteral(":/icons/%1.svg").arg(name));
}

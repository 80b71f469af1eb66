#pragma once

// The window's drawing conventions: its colours, fonts and picture sizes, and the small widget
// helpers that the layout is built with.

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPalette>
#include <QProxyStyle>
#include <QRect>
#include <QSize>
#include <QStyledItemDelegate>

class QPushButton;

namespace WindowLook {
// Windows-like colours for the caption panels.
inline const QColor ActiveTitleColour(10, 36, 106);
inline const QColor HighlightColour(49, 106, 197);
inline const QColor BannerColour(0, 0, 128);

inline constexpr QSize PictureSize(16, 16);
inline constexpr QSize DoorSize(18, 18);
inline constexpr QSize CharacterPictureSize(34, 16);

// The fonts the layout was drawn with, each followed by a metric-compatible face installed here.
[[nodiscard]] QFont courierFont(bool bold = false);
[[nodiscard]] QFont msSansSerifFont();
[[nodiscard]] QFont microsoftSansSerifFont();
void installFontSubstitutes();

// Buttons and tabs read "&" as an accelerator mark; captions are shown as written.
[[nodiscard]] QString literalCaption(const QString &text);

// A button picture that keeps its contrast under the given palette (see Pictures.h).
[[nodiscard]] QIcon picture(const char *name, const QPalette &palette);
void switchInputMethodOff(QWidget *widget);

template <typename T> T *makeControl(QWidget *parent, const char *name, const QRect &geometry)
{
    auto *control = new T(parent);
    control->setObjectName(QLatin1String(name));
    control->setGeometry(geometry);
    return control;
}

[[nodiscard]] QPushButton *makeButton(QWidget *parent, const char *name, const QRect &geometry,
                                      const QString &text, const QIcon &icon,
                                      const QSize &iconSize);
} // namespace WindowLook

// Keeps every list row 16 pixels high, whatever the font's own line height, with its text at the
// top of the row. The list shows 15 pixels of its fourth row: the text's full height (14.7 pixels
// for Courier New 13) fits there only from the row's top; centred, its lowest half pixel meets the
// frame, and at some scale factors (1.75) the bottom of the descenders is cut.
class FixedRowDelegate : public QStyledItemDelegate
{
public:
    explicit FixedRowDelegate(int rowHeight, QObject *parent = nullptr)
        : QStyledItemDelegate(parent), m_rowHeight(rowHeight)
    {
    }

    [[nodiscard]] QSize sizeHint(const QStyleOptionViewItem &option,
                                 const QModelIndex &index) const override;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override;

private:
    int m_rowHeight = 16;
};

// Sizes and draws the test pages' tabs from the tab bar's own font: narrow padding, so both
// captions fit the 193-pixel page control side by side, and each caption centred in its whole tab.
// The base style only draws the tab's shape. A desktop theme's style is often a proxy itself
// (qt6ct): left to it, the caption is placed with its own wider padding, which never reaches this
// style, and is clipped at both ends ("eader Tes").
class CompactTabStyle : public QProxyStyle
{
public:
    // Over a fresh instance of the application's style, so that a style chosen with -style or
    // QApplication::setStyle() shapes the tabs too.
    CompactTabStyle();

    static constexpr int TextMargin = 5;

    [[nodiscard]] int pixelMetric(PixelMetric metric, const QStyleOption *option,
                                  const QWidget *widget) const override;
    [[nodiscard]] QSize sizeFromContents(ContentsType type, const QStyleOption *option,
                                         const QSize &contents,
                                         const QWidget *widget) const override;
    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget) const override;
};

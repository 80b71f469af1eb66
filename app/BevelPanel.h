#pragma once

#include <QAccessible>
#include <QColor>
#include <QWidget>

enum class Bevel { None, Lowered, Raised };

// A caption panel with the classic 3-D frame: an optional sunken single border, an outer bevel,
// a flat border of the panel colour, an inner bevel, then the centred text. Screen readers see
// the painted text as the panel's name, in the role the window gives it, and hear every setText.
class BevelPanel : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText)

public:
    explicit BevelPanel(QWidget *parent = nullptr);

    [[nodiscard]] QString text() const { return m_text; }
    void setText(const QString &text);

    void setFrame(bool singleBorder, Bevel outer, Bevel inner, int bevelWidth, int borderWidth);
    void setColours(const QColor &background, const QColor &foreground);
    // Draws the flat border between the bevels in the palette's highlight colour: the focus
    // indicator of a panel whose child has the keyboard focus.
    void setHighlighted(bool highlighted);
    [[nodiscard]] bool highlighted() const { return m_highlighted; }

    // What the panel is to assistive technology: a label by default, the status bar for the
    // status line, a pane for a panel that only holds another control.
    void setAccessibleRole(QAccessible::Role role) { m_role = role; }
    [[nodiscard]] QAccessible::Role accessibleRole() const { return m_role; }

    [[nodiscard]] bool singleBorder() const { return m_singleBorder; }
    [[nodiscard]] Bevel bevelOuter() const { return m_outer; }
    [[nodiscard]] Bevel bevelInner() const { return m_inner; }
    [[nodiscard]] QColor background() const { return m_background; }
    [[nodiscard]] QColor foreground() const { return m_foreground; }

    // The area inside every frame line, where the text and any child control sit.
    [[nodiscard]] QRect clientRect() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
    QAccessible::Role m_role = QAccessible::StaticText;
    bool m_singleBorder = false;
    Bevel m_outer = Bevel::Raised;
    Bevel m_inner = Bevel::None;
    int m_bevelWidth = 1;
    int m_borderWidth = 0;
    bool m_highlighted = false;
    QColor m_background;
    QColor m_foreground;
};

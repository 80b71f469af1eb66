#pragma once

#include <QString>
#include <QWidget>

// Has the screen reader speak a short text while the focus stays where it is: each text the
// status line shows and a change of language. Qt 6.8 and later send it as an announcement of the
// window. Before that Qt has no such event, and a screen reader speaks a changed name only for the
// focused object or the active window; but it speaks an object of role notification as soon as it
// is shown, so the text is shown anew, each time, in a notification that takes no room.
class Announcer : public QWidget
{
    Q_OBJECT

public:
    // Holds `text` as its name until the first announcement, without saying it.
    Announcer(QWidget *window, const QString &text);

    void announce(const QString &text);
    [[nodiscard]] QString text() const { return m_text; }

signals:
    void announced(const QString &text);

private:
    QString m_text;
};

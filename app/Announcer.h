#pragma once

#include <QObject>
#include <QString>
#include <QWidget>

#include <array>

// One text to be spoken: a notification that takes no room in the window.
class Notice : public QWidget
{
    Q_OBJECT

public:
    Notice(QWidget *window, const QString &text);

    // Takes the text and is shown anew, which a screen reader speaks.
    void show(const QString &text);
    [[nodiscard]] QString text() const { return m_text; }

private:
    QString m_text;
};

// Has the screen reader speak a short text while the focus stays where it is: each text the
// status line shows and a change of language. Qt 6.8 and later send it as an announcement of the
// window. Before that Qt has no such event, and a screen reader speaks a changed name only for the
// focused object or the active window; but it speaks an object of role notification as soon as it
// is shown. The texts take turns in a few notifications: the reader reads a name when it comes to
// the event, which can be after the next text (a scan shows three in a second), and a notification
// of its own keeps each text until then.
class Announcer : public QObject
{
    Q_OBJECT

public:
    // The notifications hold `text` as their name until they first speak, without saying it.
    Announcer(QWidget *window, const QString &text);

    void announce(const QString &text);

signals:
    void announced(const QString &text);

private:
    // The window announces where Qt can; the notifications speak where it cannot.
    [[maybe_unused]] QWidget *m_window;
    [[maybe_unused]] std::array<Notice *, 4> m_notices{};
    [[maybe_unused]] std::size_t m_next = 0;
};

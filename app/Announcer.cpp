#include "Announcer.h"

#include <QAccessibleWidget>

namespace {

class NotificationAccessible : public QAccessibleWidget
{
public:
    explicit NotificationAccessible(Notice *notice)
        : QAccessibleWidget(notice, QAccessible::Notification)
    {
    }

    [[nodiscard]] QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return static_cast<const Notice *>(widget())->text();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface *noticeAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String("Notice") && object && object->isWidgetType())
        return new NotificationAccessible(static_cast<Notice *>(object));
    return nullptr;
}

} // namespace

Notice::Notice(QWidget *window, const QString &text) : QWidget(window), m_text(text)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(noticeAccessible);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setGeometry(0, 0, 0, 0);
    hide();
}

void Notice::show(const QString &text)
{
    m_text = text;
    // Shown anew each time, so that a repeated text is heard again.
    hide();
    QWidget::show();
}

Announcer::Announcer(QWidget *window, const QString &text) : QObject(window), m_window(window)
{
    setObjectName(QStringLiteral("announcer"));
#if QT_VERSION < QT_VERSION_CHECK(6, 8, 0)
    for (Notice *&notice : m_notices)
        notice = new Notice(window, text);
#else
    Q_UNUSED(text);
#endif
}

void Announcer::announce(const QString &text)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    QAccessibleAnnouncementEvent event(m_window, text);
    QAccessible::updateAccessibility(&event);
#else
    m_notices[m_next]->show(text);
    m_next = (m_next + 1) % m_notices.size();
#endif
    emit announced(text);
}

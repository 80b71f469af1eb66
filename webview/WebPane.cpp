#include "WebPane.h"

#include "HostText.h"

#include "ModulePage.h"
#include "PaneGate.h"

#include <QApplication>
#include <QByteArrayList>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QWebEngineView>

#include <algorithm>

#include <unistd.h>

// Chromium otherwise checks for updates, fetches safe-browsing lists and the like on its own.
// WebRTC's mDNS responder joins a multicast group on every interface, even with WebRTC's UDP kept
// behind the gate; without it the engine sends nothing off loopback for a page.
static const QByteArray kDisabledFeature = QByteArrayLiteral("WebRtcHideLocalIpsWithMdns");

static const char *const kQuietFlags[] = {
    "--disable-background-networking",
    "--disable-component-update",
    "--disable-domain-reliability",
    "--no-pings",
};

// The authority of a typed location ("host", "host:port"), as typed: QUrl would already have
// read a short number such as "192.168.1" as some full address.
static QString typedAuthority(const QString &text)
{
    QString rest = text;
    const qsizetype scheme = rest.indexOf(QLatin1String("://"));
    if (scheme >= 0)
        rest = rest.mid(scheme + 3);
    const qsizetype end = rest.indexOf(QRegularExpression(QStringLiteral("[/?#]")));
    if (end >= 0)
        rest.truncate(end);
    return rest.mid(rest.lastIndexOf(QLatin1Char('@')) + 1);
}

QUrl WebLocation(const QString &typedText)
{
    const QString text = typedText.trimmed();
    if (text.isEmpty())
        return {};
    // A number that is not four decimal parts names no module: the pane goes nowhere rather
    // than to whatever address the browser would make of it.
    if (ParseHostText(typedAuthority(text)).kind == HostText::Kind::NotAnAddress)
        return {};
    return QUrl::fromUserInput(text);
}

void PrepareWebEngine()
{
    // The engine refuses to start as root with its sandbox; a normal user keeps the sandbox.
    if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    // Without it the module's page reaches screen readers as an empty document.
    if (!qEnvironmentVariableIsSet("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY"))
        qputenv("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY", "1");

    // The engine's proxy settings are the pane's gate and no one else's.
    QByteArrayList present;
    for (const QByteArray &flag : qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").split(' ')) {
        if (!flag.isEmpty() && !IsEngineProxyFlag(flag))
            present += flag;
    }
    for (const char *flag : kQuietFlags) {
        if (!present.contains(QByteArray(flag)))
            present += flag;
    }
    // The engine reads one --disable-features: the feature joins the user's list, if any.
    const QByteArray disable = QByteArrayLiteral("--disable-features=");
    auto features = std::find_if(present.begin(), present.end(),
                                 [&disable](const QByteArray &f) { return f.startsWith(disable); });
    if (features == present.end())
        present += disable + kDisabledFeature;
    else if (!features->mid(disable.size()).split(',').contains(kDisabledFeature))
        *features += (features->size() > disable.size() ? "," : "") + kDisabledFeature;
    const QByteArray gate = PaneGate::EngineFlags();
    if (!gate.isEmpty())
        present += gate;
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", present.join(' '));
    PaneGate::Start();
}

bool IsEngineProxyFlag(const QByteArray &flag)
{
    return flag.startsWith("--proxy") || flag.startsWith("--no-proxy") ||
           flag.startsWith("--winhttp-proxy") || flag.startsWith("--force-webrtc-ip-handling");
}

// Any program linking the pane gets a working engine, even one that forgets PrepareWebEngine().
Q_COREAPP_STARTUP_FUNCTION(PrepareWebEngine)

WebPane::WebPane(QWebEngineView *view) : m_view(view)
{
    if (m_view) {
        m_view->setPage(new ModulePage(m_view));
    }
}

void WebPane::Navigate(const QString &typedText)
{
    const QUrl location = WebLocation(typedText);
    if (!m_view || location.isEmpty() || !location.isValid())
        return;
    if (auto *page = qobject_cast<ModulePage *>(m_view->page()))
        page->setModuleLocation(location);
    m_view->load(location);
}

void WebPane::Refresh()
{
    if (m_view)
        m_view->reload();
}

namespace {

// Sees the page's widget arrive: it is shown, and so polished, after it became the focus proxy.
class PageWidgetWatch : public QObject
{
public:
    PageWidgetWatch(QWebEngineView *view, std::function<void()> handler)
        : QObject(view), m_view(view), m_handler(std::move(handler))
    {
        view->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_view && event->type() == QEvent::ChildPolished && m_view->focusProxy() &&
            m_view->focusProxy() != m_known) {
            m_known = m_view->focusProxy();
            m_handler();
        }
        return false;
    }

private:
    QWebEngineView *m_view;
    QPointer<QWidget> m_known;
    std::function<void()> m_handler;
};

} // namespace

void WebPane::onPageWidgetCreated(std::function<void()> handler)
{
    if (m_view)
        new PageWidgetWatch(m_view, std::move(handler));
}

void WebPane::onFocusChanged(std::function<void(bool inside)> handler)
{
    if (!m_view)
        return;
    // The page takes the focus in a child widget of the view.
    QObject::connect(
        qApp, &QApplication::focusChanged, m_view,
        [view = m_view.data(), handler, inside = false](QWidget *, QWidget *now) mutable {
            const bool nowInside = now && (now == view || view->isAncestorOf(now));
            if (nowInside != inside) {
                inside = nowInside;
                handler(inside);
            }
        });
}

QWebEngineView *WebPane::view() const
{
    return m_view;
}

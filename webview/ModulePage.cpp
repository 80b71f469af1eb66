#include "ModulePage.h"

#include "PaneGate.h"

#include <QAuthenticator>
#include <QEvent>
#include <QLabel>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

// A leave-this-page question is asked by the view in a modal box that no page subclass can
// answer, so the page never gets to register the handler that would ask it.
static const char kNoLeaveQuestion[] = R"((function () {
    const add = EventTarget.prototype.addEventListener;
    EventTarget.prototype.addEventListener = function (type, listener, options) {
        if (String(type).toLowerCase() === 'beforeunload')
            return;
        return add.call(this, type, listener, options);
    };
    Object.defineProperty(window, 'onbeforeunload',
                          { get() { return null; }, set(value) {}, configurable: false });
})();)";

namespace {

// Blocks what the page asks for beyond its module; runs for this page only, so the tool's own
// pages elsewhere are never blocked.
class ModuleRequestRule : public QWebEngineUrlRequestInterceptor
{
public:
    explicit ModuleRequestRule(ModulePage *page)
        : QWebEngineUrlRequestInterceptor(page), m_page(page)
    {
    }

    void interceptRequest(QWebEngineUrlRequestInfo &info) override
    {
        if (!m_page->reachesOnlyTheModule(info.requestUrl()))
            info.block(true);
    }

private:
    ModulePage *m_page;
};

int defaultPort(const QString &scheme)
{
    return scheme == QLatin1String("https") || scheme == QLatin1String("wss") ? 443 : 80;
}

} // namespace

ModulePage::ModulePage(QWebEngineView *view)
    : QWebEnginePage(view), m_view(view), m_viewObject(view)
{
    PaneGate::Start();
    setUrlRequestInterceptor(new ModuleRequestRule(this));

    QWebEngineScript noLeaveQuestion;
    noLeaveQuestion.setName(QStringLiteral("velqa-no-leave-question"));
    noLeaveQuestion.setInjectionPoint(QWebEngineScript::DocumentCreation);
    noLeaveQuestion.setWorldId(QWebEngineScript::MainWorld);
    noLeaveQuestion.setRunsOnSubFrames(true);
    noLeaveQuestion.setSourceCode(QString::fromLatin1(kNoLeaveQuestion));
    scripts().insert(noLeaveQuestion);

    // A null authenticator declines the log-in instead of asking the technician for one.
    connect(this, &QWebEnginePage::authenticationRequired, this,
            [](const QUrl &, QAuthenticator *authenticator) { *authenticator = QAuthenticator(); });
    connect(this, &QWebEnginePage::proxyAuthenticationRequired, this,
            [](const QUrl &, QAuthenticator *authenticator, const QString &) {
                *authenticator = QAuthenticator();
            });
    connect(this, &QWebEnginePage::loadStarted, this, &ModulePage::onLoadStarted);
    // A refused navigation ends as a failed load of the page that asked for it.
    connect(this, &QWebEnginePage::loadFinished, this, [this] { m_refusing = false; });

    if (m_view) {
        m_notice = new QLabel(m_view);
        m_notice->setObjectName(QStringLiteral("webNotice"));
        m_notice->setTextFormat(Qt::PlainText);
        m_notice->setWordWrap(true);
        m_notice->setAutoFillBackground(true);
        m_notice->setStyleSheet(QStringLiteral(
            "QLabel{background:#ffffe1;color:#000;border:1px solid #808080;padding:3px}"));
        m_notice->setToolTip(QStringLiteral("Click to hide"));
        m_notice->hide();
        m_notice->installEventFilter(this);
        m_view->installEventFilter(this);
    }
}

ModulePage::~ModulePage()
{
    PaneGate::Forget(this);
}

void ModulePage::setModuleLocation(const QUrl &location)
{
    const QString scheme = location.scheme().toLower();
    const bool web = scheme == QLatin1String("http") || scheme == QLatin1String("https");
    m_moduleHost = web ? location.host(QUrl::FullyEncoded).toLower() : QString();
    m_modulePort = web ? location.port(defaultPort(scheme)) : -1;
    PaneGate::Allow(this, m_moduleHost, quint16(qMax(m_modulePort, 0)));
}

bool ModulePage::reachesOnlyTheModule(const QUrl &url) const
{
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("data") || scheme == QLatin1String("blob") ||
        scheme == QLatin1String("about"))
        return true;
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https") &&
        scheme != QLatin1String("ws") && scheme != QLatin1String("wss"))
        return false;
    return !m_moduleHost.isEmpty() && url.host(QUrl::FullyEncoded).toLower() == m_moduleHost &&
           url.port(defaultPort(scheme)) == m_modulePort;
}

bool ModulePage::acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame)
{
    if (reachesOnlyTheModule(url))
        return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
    if (isMainFrame)
        m_refusing = true;
    showNotice(NoticeText(
        QStringLiteral("The page tried to open %1: the pane shows only the module's own pages.")
            .arg(url.toString(QUrl::FullyEncoded | QUrl::RemoveUserInfo))));
    return false;
}

QString ModulePage::NoticeText(const QString &message)
{
    QString text = message.left(TextLimit + 1);
    // The marks and overrides that reorder text would let a page show one address and name
    // another.
    static const QString reordering =
        QStringLiteral("\u061c\u200e\u200f\u202a\u202b\u202c\u202d\u202e\u2066\u2067\u2068\u2069");
    for (QChar &ch : text) {
        if (ch.category() == QChar::Other_Control || ch.category() == QChar::Separator_Line ||
            ch.category() == QChar::Separator_Paragraph || reordering.contains(ch)) {
            ch = QLatin1Char(' ');
        }
    }
    if (text.size() > TextLimit) {
        text.truncate(TextLimit - 1);
        text += QChar(0x2026);
    }
    return text;
}

void ModulePage::javaScriptAlert(const QUrl &, const QString &msg)
{
    onDialog(msg);
}

bool ModulePage::javaScriptConfirm(const QUrl &, const QString &msg)
{
    onDialog(msg);
    return false;
}

bool ModulePage::javaScriptPrompt(const QUrl &, const QString &msg, const QString &, QString *)
{
    onDialog(msg);
    return false;
}

QStringList ModulePage::chooseFiles(FileSelectionMode, const QStringList &, const QStringList &)
{
    // The tool reads no files, and a file dialog would hold the window.
    return {};
}

void ModulePage::onDialog(const QString &message)
{
    if (m_stopping) {
        return;
    }
    if (++m_dialogs > DialogLimit) {
        stop();
        return;
    }
    showNotice(NoticeText(message));
}

// Each dialog call arrives from the page's renderer while it waits for the answer, so the page is
// left once the call has returned.
void ModulePage::stop()
{
    m_stopping = true;
    showNotice(QStringLiteral("The page was stopped: it kept opening dialogs."));
    QMetaObject::invokeMethod(
        this,
        [this] {
            triggerAction(QWebEnginePage::Stop);
            setUrl(QUrl(QStringLiteral("about:blank")));
            emit stoppedForDialogs();
        },
        Qt::QueuedConnection);
}

void ModulePage::onLoadStarted()
{
    m_dialogs = 0;
    if (m_stopping) {
        // The empty page that replaces a stopped one keeps the notice saying why.
        m_stopping = false;
        return;
    }
    // The engine may announce the load of a navigation it has just been refused.
    if (m_refusing)
        return;
    if (m_notice) {
        m_notice->hide();
    }
}

void ModulePage::showNotice(const QString &text)
{
    if (!m_notice) {
        return;
    }
    m_notice->setText(text);
    placeNotice();
    m_notice->show();
    m_notice->raise();
}

// Across the top of the pane, never taller than a third of it.
void ModulePage::placeNotice()
{
    if (!m_notice || !m_view) {
        return;
    }
    const int width = m_view->width();
    const int height = qMin(m_notice->heightForWidth(width), qMax(m_view->height() / 3, 1));
    m_notice->setGeometry(0, 0, width, qMax(height, m_notice->fontMetrics().height() + 8));
}

bool ModulePage::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_notice && event->type() == QEvent::MouseButtonPress) {
        m_notice->hide();
        return true;
    }
    // Compared by address only: the view may be half destroyed when its last events come.
    if (event->type() == QEvent::Resize && watched == m_viewObject && m_notice &&
        m_notice->isVisible()) {
        placeNotice();
    }
    return QWebEnginePage::eventFilter(watched, event);
}

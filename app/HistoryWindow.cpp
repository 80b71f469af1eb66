#include "HistoryWindow.h"

#include "Journal.h"
#include "Language.h"
#include "MainWindow.h"
#include "ReportReader.h"
#include "ReportRender.h"
#include "ReportTexts.h"

#include <QAction>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QShortcut>
#include <QSysInfo>
#include <QThread>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

namespace {

constexpr char kPageName[] = "report.html";

// The report page may load itself and nothing else.
class OwnFileOnly : public QWebEngineUrlRequestInterceptor
{
public:
    OwnFileOnly(const QUrl &page, QObject *parent)
        : QWebEngineUrlRequestInterceptor(parent), m_page(page)
    {
    }

    void interceptRequest(QWebEngineUrlRequestInfo &info) override
    {
        if (info.requestUrl().adjusted(QUrl::RemoveFragment) != m_page)
            info.block(true);
    }

private:
    QUrl m_page;
};

// Its links (there are none) and anything else that would leave the page go nowhere.
class ReportPage : public QWebEnginePage
{
public:
    ReportPage(const QUrl &page, QWebEngineProfile *profile, QObject *parent)
        : QWebEnginePage(profile, parent), m_page(page)
    {
        setUrlRequestInterceptor(new OwnFileOnly(page, this));
        settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
        settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
        settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
        settings()->setAttribute(QWebEngineSettings::AutoLoadImages, false);
    }

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType, bool isMainFrame) override
    {
        return isMainFrame && url.adjusted(QUrl::RemoveFragment) == m_page;
    }

private:
    QUrl m_page;
};

} // namespace

HistoryWindow::HistoryWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmHistory"));
    resize(1040, 760);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("lblHistoryStatus"));
    // Messages quote a journal's address and a server's words: never markup.
    m_status->setTextFormat(Qt::PlainText);
    m_status->setWordWrap(true);
    m_status->setMargin(12);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_view = new QWebEngineView(this);
    m_view->setObjectName(QStringLiteral("webHistory"));
    // A profile of its own that keeps nothing on disk, apart from the module page's.
    auto *profile = new QWebEngineProfile(this);
    const QUrl page = QUrl::fromLocalFile(m_folder.filePath(QLatin1String(kPageName)));
    m_view->setPage(new ReportPage(page, profile, m_view));
    connect(m_view, &QWebEngineView::loadFinished, this, [this](bool ok) {
        m_status->setVisible(!ok);
        emit reportReady(ok);
    });
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_status);
    layout->addWidget(m_view, 1);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
}

HistoryWindow::~HistoryWindow() = default;

void HistoryWindow::showReport(const HistoryRequest &request)
{
    m_language = request.language;
    const QString station = request.station.isEmpty()
                                ? ReportString(ReportText::AllStations, m_language)
                                : request.station;
    setWindowTitle(
        QStringLiteral("%1 \u2013 %2").arg(ReportString(ReportText::History, m_language), station));
    m_status->setText(ReportString(ReportText::Reading, m_language));
    m_status->show();
    const quint64 asked = ++m_asked;
    if (request.journalUrl.isEmpty()) {
        showFailure(QStringLiteral("%1=%2").arg(QLatin1String(JournalEnvironment),
                                                QLatin1String(JournalOff)));
        return;
    }
    ReportQuery query;
    SetDefaultPeriod(query, QDateTime::currentDateTimeUtc());
    query.station = request.station;
    query.serial = request.serial;
    const QString url = request.journalUrl;
    const int language = m_language;
    QPointer<HistoryWindow> self(this);
    // The thread ends on its own when the journal answers or gives up; a window gone by then no
    // longer hears of it.
    QThread *reader = QThread::create([self, asked, url, query, language] {
        QString error;
        const std::optional<ReportData> report = ReadReport(url, query, &error);
        const QByteArray html = report ? RenderReportHtml(*report, language) : QByteArray();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, asked, html, error, ok = report.has_value()] {
                if (!self || asked != self->m_asked)
                    return;
                if (ok)
                    self->showPage(html);
                else
                    self->showFailure(error);
            },
            Qt::QueuedConnection);
    });
    connect(reader, &QThread::finished, reader, &QObject::deleteLater);
    reader->start();
}

void HistoryWindow::showFailure(const QString &message)
{
    m_status->setText(ReportString(ReportText::CannotRead, m_language).arg(message));
    m_status->show();
    emit reportReady(false);
}

void HistoryWindow::showPage(const QByteArray &html)
{
    QFile file(m_folder.filePath(QLatin1String(kPageName)));
    if (!m_folder.isValid() || !file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(html) != html.size() || !file.flush()) {
        showFailure(file.errorString());
        return;
    }
    file.close();
    m_view->load(QUrl::fromLocalFile(file.fileName()));
}

HistoryHook::HistoryHook(TfrmMain *window) : QObject(window), m_window(window)
{
    m_action = new QAction(this);
    m_action->setObjectName(QStringLiteral("actHistory"));
    m_action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    m_action->setShortcutContext(Qt::WindowShortcut);
    connect(m_action, &QAction::triggered, this, &HistoryHook::open);
    window->addAction(m_action);
    window->setContextMenuPolicy(Qt::ActionsContextMenu);
    window->installEventFilter(this);
    // The module's page pane offers the window's menu too, not the browser engine's own.
    if (auto *web = window->findChild<QWebEngineView *>(QStringLiteral("webMain"))) {
        web->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(web, &QWidget::customContextMenuRequested, this, [this, web](const QPoint &at) {
            if (!m_window->WindowEnabled())
                return;
            retranslate();
            QMenu menu;
            menu.addAction(m_action);
            menu.exec(web->mapToGlobal(at));
        });
    }
    connect(window, &TfrmMain::operationFinished, this, &HistoryHook::noteResult);
    retranslate();
}

bool HistoryHook::eventFilter(QObject *watched, QEvent *event)
{
    // The menu's entry in the language of the moment.
    if (watched == m_window && event->type() == QEvent::ContextMenu)
        retranslate();
    return QObject::eventFilter(watched, event);
}

void HistoryHook::retranslate()
{
    m_action->setText(ReportString(ReportText::History, LanguageIndex()) + QChar(0x2026));
}

void HistoryHook::noteResult(const OperationResult &result)
{
    if (result.operation == Operation::Scan && result.outcome == Outcome::Success &&
        !result.serial.isEmpty())
        m_serial = result.serial;
}

void HistoryHook::open()
{
    if (!m_window->WindowEnabled())
        return;
    if (!m_history) {
        m_history = new HistoryWindow(m_window);
        m_history->setAttribute(Qt::WA_DeleteOnClose);
        // A small screen (1024 x 768) shows the window whole, its title bar and frame too.
        if (const QScreen *screen = m_window->screen()) {
            const QSize room = screen->availableGeometry().size() - QSize(16, 48);
            m_history->resize(m_history->size().boundedTo(room));
        }
    }
    const JournalChoice journal = ChooseJournal();
    HistoryRequest request;
    request.journalUrl = IsJournalOff(journal.url) ? QString() : journal.url;
    request.station = QSysInfo::machineHostName();
    request.serial = m_serial;
    request.language = LanguageIndex();
    m_history->showReport(request);
    m_history->show();
    m_history->raise();
    m_history->activateWindow();
}

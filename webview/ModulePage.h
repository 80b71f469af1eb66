#pragma once

#include <QPointer>
#include <QWebEnginePage>

class QLabel;
class QWebEngineView;

// The module's web page as the pane holds it. The page comes from the module and is not
// trusted: nothing it does may block the window around it. Its alert, confirm and prompt
// dialogs appear as a notice across the top of the pane that takes no input away from the
// window, confirm and prompt are answered "cancel", a file chooser or a log-in request is
// declined and a leave-this-page question is never asked. A document that keeps opening
// dialogs is stopped and replaced by an empty page.
//
// The page reaches only the module: every request it makes (navigations, frames, images,
// scripts, forms, prefetches, beacons, WebSockets) must go to the host and port of the location
// the tool opened, or carry no network at all (data:, blob:, about:); anything else is blocked,
// and a refused navigation is told in the notice. Redirects that the engine would follow before
// asking are stopped by the pane's gate (PaneGate), which the page tells where its module is.
class ModulePage : public QWebEnginePage
{
    Q_OBJECT

public:
    // Dialogs one document may open; the next one stops it.
    static constexpr int DialogLimit = 20;
    // Longest dialog text the notice shows, in characters.
    static constexpr int TextLimit = 300;

    explicit ModulePage(QWebEngineView *view);
    ~ModulePage() override;

    // The location the tool opens: its host and port (the scheme's own when none is given) are
    // the only ones the page may reach from now on. An empty location reaches nothing.
    void setModuleLocation(const QUrl &location);
    // Whether a request for `url` stays with the module or needs no network.
    [[nodiscard]] bool reachesOnlyTheModule(const QUrl &url) const;

    // The dialog text as the notice shows it: control characters and the bidirectional marks,
    // embeddings, overrides and isolates as spaces, at most TextLimit
    // characters, an ellipsis where it was cut.
    [[nodiscard]] static QString NoticeText(const QString &message);

signals:
    void stoppedForDialogs();

protected:
    void javaScriptAlert(const QUrl &securityOrigin, const QString &msg) override;
    bool javaScriptConfirm(const QUrl &securityOrigin, const QString &msg) override;
    bool javaScriptPrompt(const QUrl &securityOrigin, const QString &msg,
                          const QString &defaultValue, QString *result) override;
    QStringList chooseFiles(FileSelectionMode mode, const QStringList &oldFiles,
                            const QStringList &acceptedMimeTypes) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;

private:
    void onDialog(const QString &message);
    void onLoadStarted();
    void showNotice(const QString &text);
    void placeNotice();
    void stop();

    QPointer<QWebEngineView> m_view;
    const QObject *m_viewObject = nullptr;
    QPointer<QLabel> m_notice;
    QString m_moduleHost;
    int m_modulePort = -1;
    int m_dialogs = 0;
    bool m_stopping = false;
    // A main-frame navigation was refused and its load has not yet ended.
    bool m_refusing = false;
};

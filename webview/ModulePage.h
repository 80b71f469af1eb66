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
class ModulePage : public QWebEnginePage
{
    Q_OBJECT

public:
    // Dialogs one document may open; the next one stops it.
    static constexpr int DialogLimit = 20;
    // Longest dialog text the notice shows, in characters.
    static constexpr int TextLimit = 300;

    explicit ModulePage(QWebEngineView *view);

    // The dialog text as the notice shows it: control characters as spaces, at most TextLimit
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

private:
    void onDialog(const QString &message);
    void onLoadStarted();
    void showNotice(const QString &text);
    void placeNotice();
    void stop();

    QPointer<QWebEngineView> m_view;
    const QObject *m_viewObject = nullptr;
    QPointer<QLabel> m_notice;
    int m_dialogs = 0;
    bool m_stopping = false;
};

#pragma once

#include <QPointer>
#include <QString>
#include <QUrl>

class QWebEngineView;

// The web location for the IP field's text as typed, completed the way a browser completes an
// address bar entry ("127.0.0.1" -> http://127.0.0.1); empty text gives an empty URL.
[[nodiscard]] QUrl WebLocation(const QString &typedText);

// Sets up the environment the web engine reads when it starts: no sandbox when running as root
// (the engine refuses to start otherwise) and no background traffic to outside services. Call it
// first thing in main(); it also runs by itself when the application object is created.
void PrepareWebEngine();

// The browser pane's two operations. Neither raises or reports: whatever the engine makes of an
// unreachable address is what the pane shows. The pane shows the module's page through a
// ModulePage, so nothing the page does can block the window.
class WebPane
{
public:
    explicit WebPane(QWebEngineView *view);

    void Navigate(const QString &typedText);
    void Refresh();

    [[nodiscard]] QWebEngineView *view() const;

private:
    QPointer<QWebEngineView> m_view;
};

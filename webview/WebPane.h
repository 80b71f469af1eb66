#pragma once

#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>

class QWebEngineView;

// The web location for the IP field's text as typed, completed the way a browser completes an
// address bar entry ("127.0.0.1" -> http://127.0.0.1); empty text gives an empty URL.
[[nodiscard]] QUrl WebLocation(const QString &typedText);

// Sets up the environment the web engine reads when it starts: no sandbox when running as root
// (the engine refuses to start otherwise), no background traffic to outside services, and every
// connection through the pane's gate (PaneGate; proxy flags of the user's are dropped). Call it
// first thing in main(); it also runs by itself when the application object is created.
void PrepareWebEngine();

// Whether a web engine flag would change where the engine's connections go (its proxy, WebRTC's
// route).
[[nodiscard]] bool IsEngineProxyFlag(const QByteArray &flag);

// The browser pane's two operations. Neither raises or reports: whatever the engine makes of an
// unreachable address is what the pane shows. The pane shows the module's page through a
// ModulePage, so nothing the page does can block the window.
class WebPane
{
public:
    explicit WebPane(QWebEngineView *view);

    void Navigate(const QString &typedText);
    void Refresh();

    // Called with true when the keyboard focus enters the browser (or the page in it) and with
    // false when it leaves, so that the window can show where the focus is.
    void onFocusChanged(std::function<void(bool inside)> handler);
    // Called once the engine has made the widget that shows the page: it takes the view's keyboard
    // focus, and takes its own place at the end of the window's tab order, so the window puts it
    // back where the view belongs.
    void onPageWidgetCreated(std::function<void()> handler);

    [[nodiscard]] QWebEngineView *view() const;

private:
    QPointer<QWebEngineView> m_view;
};

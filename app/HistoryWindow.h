#pragma once

#include <QByteArray>
#include <QPointer>
#include <QString>
#include <QTemporaryDir>
#include <QWidget>

class QLabel;
class QWebEngineView;
class TfrmMain;
struct OperationResult;

// What the History window reports on: the journal, the station and, when there is one, the
// module. An empty journal URL: the journal is off.
struct HistoryRequest
{
    QString journalUrl;
    QString station;
    QByteArray serial;
    int language = 0;
};

// The journal's report in a window of its own, drawn by the browser engine from a file of its
// own folder: no script runs and nothing else is fetched. The journal is read on a thread of its
// own, so the tool's window goes on working while a server is slow or does not answer; a
// report that arrives after the window was closed or asked again is dropped. Escape closes it.
class HistoryWindow : public QWidget
{
    Q_OBJECT
public:
    explicit HistoryWindow(QWidget *parent = nullptr);
    ~HistoryWindow() override;

    // Reads the journal again for `request` and shows the report when it is ready.
    void showReport(const HistoryRequest &request);

    [[nodiscard]] QWebEngineView *view() const { return m_view; }

signals:
    // The report page is loaded, or the journal could not be read (`ok` false).
    void reportReady(bool ok);

private:
    void showFailure(const QString &message);
    void showPage(const QByteArray &html);

    QLabel *m_status = nullptr;
    QWebEngineView *m_view = nullptr;
    QTemporaryDir m_folder;
    int m_language = 0;
    // Which request's answer is awaited; earlier answers are dropped.
    quint64 m_asked = 0;
};

// The main window's way into the History window: Ctrl+H and an entry in the window's context
// menu (right click) open it for this station, filtered to the serial number of the last
// successful scan. Neither works while an operation holds the window's input.
class HistoryHook : public QObject
{
    Q_OBJECT
public:
    explicit HistoryHook(TfrmMain *window);

    void open();
    [[nodiscard]] HistoryWindow *historyWindow() const { return m_history; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void noteResult(const OperationResult &result);
    void retranslate();

    TfrmMain *m_window;
    QPointer<HistoryWindow> m_history;
    QByteArray m_serial;
    class QAction *m_action = nullptr;
};

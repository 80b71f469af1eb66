#pragma once

#include "MessageCatalogue.h"
#include "ModuleLink.h"
#include "Operations.h"
#include "WebPane.h"

#include <QWidget>

#include <memory>

class Announcer;
class BevelPanel;
class IndicatorShape;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabWidget;
class QWebEngineView;
class WindowInputBlocker;
class WindowJournal;

// The tool's one window: a fixed 758 x 546 client area holding every control at its place. It
// owns the module link and shows what the link and the module operations report; every
// operation it runs ends with operationFinished and the operation's result.
class TfrmMain : public QWidget, public LinkOwner, public OperationObserver
{
    Q_OBJECT

public:
    explicit TfrmMain(QWidget *parent = nullptr);
    ~TfrmMain() override;

    static constexpr int ClientWidth = 758;
    static constexpr int ClientHeight = 546;

    // Re-labels the captioned controls from the catalogue in the current language; the status,
    // serial and version panels, the list and the result fields keep their texts.
    void ApplyCaptions();

    // Whether mouse and keyboard input reach the window (off while an operation runs).
    [[nodiscard]] bool WindowEnabled() const;
    [[nodiscard]] ModuleLink &link() { return m_link; }

    // LinkOwner
    void LinkConnected() override;
    void LinkDisconnected() override;
    void LinkErrorReported(const QString &message) override;

    // OperationObserver: the operations' values formatted for the window's fields.
    void SetWindowEnabled(bool enabled) override;
    void SetBusyCursor(bool busy) override;
    void StatusChanged(const QString &text) override;
    void IndicatorChanged(IndicatorColour colour) override;
    void Beep(int frequencyHz, int durationMs) override;
    void SerialRead(const QByteArray &serial) override;
    void VersionRead(const QByteArray &version) override;
    void SlotsCleared() override;
    void SlotRead(int slot, const QByteArray &data) override;
    void CardCleared() override;
    void CardRead(const QByteArray &card) override;
    void LoopCleared() override;
    void LoopRead(const QByteArray &loop) override;
    void NavigateWeb(const QString &location) override;
    void RefreshWeb() override;
    void ShowError(const QString &message) override;

signals:
    void operationFinished(const OperationResult &result);

public slots:
    void btnScanClick();
    void btnExitClick();
    void btnSetDataClick();
    void btnClearClick();
    void btnRefreshClick();
    void btnReaderClick();
    void btnLoopClick();
    void btnEngClick();
    void btnGBClick();
    void btnBIG5Click();
    void FormCreate();
    void FormShow();
    void FormClose();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void createControls();
    void setTabOrders();
    void connectHandlers();
    // Keys for the buttons; each presses its button as a click would (see README).
    void createShortcuts();
    // The button pictures for the current palette: dark palettes get variants that keep their
    // contrast.
    void applyPictures();
    void centreOnScreen();
    void setOperationButtonsEnabled(bool enabled);
    // The status line's text, also said by the screen reader (each time, even when it repeats).
    void showStatus(const QString &text);
    // Accessible names and descriptions in the current language (ApplyCaptions).
    void applySpokenTexts();
    void languageChosen(Language language, const char *name);
    // Runs a handler; an error raised in it ends it there and is shown in the error box, after
    // which the window takes input again and the cursor is restored.
    template <typename Handler> void guarded(Handler handler);
    // The journal of the window's operations (WindowJournal.cpp).
    void openJournal();

    QLabel *lblRemote = nullptr;
    QLineEdit *edIP = nullptr;
    BevelPanel *pnKAVRO = nullptr;
    QPushButton *btnEng = nullptr;
    QPushButton *btnGB = nullptr;
    QPushButton *btnBIG5 = nullptr;
    QPushButton *btnExit = nullptr;
    BevelPanel *pnWeb = nullptr;
    QWebEngineView *webMain = nullptr;
    QPushButton *btnSetData = nullptr;
    QPushButton *btnClear = nullptr;
    QPushButton *btnRefresh = nullptr;
    BevelPanel *pnMsg = nullptr;
    IndicatorShape *shComm = nullptr;
    QListWidget *lstData = nullptr;
    BevelPanel *pnSerial = nullptr;
    BevelPanel *pnVersion = nullptr;
    QPushButton *btnScan = nullptr;
    QTabWidget *pcMain = nullptr;
    QWidget *gbReader = nullptr;
    QPushButton *btnReader = nullptr;
    QLineEdit *edCardID = nullptr;
    QWidget *gbLoop = nullptr;
    QPushButton *btnLoop = nullptr;
    QLineEdit *edLoop = nullptr;

    ModuleLink m_link{this};
    ModuleOperations m_ops{m_link, this};
    std::unique_ptr<WebPane> m_web;
    WindowInputBlocker *m_inputBlocker = nullptr;
    Announcer *m_announcer = nullptr;
    bool m_busyCursor = false;
    bool m_shown = false;
    std::unique_ptr<WindowJournal> m_journal;
};

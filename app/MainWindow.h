#pragma once

#include <QWidget>

class BevelPanel;
class IndicatorShape;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabWidget;
class QWebEngineView;

// The tool's one window: a fixed 758 x 546 client area holding every control at its place.
class TfrmMain : public QWidget
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

private:
    void createControls();
    void setTabOrders();
    void connectHandlers();
    void centreOnScreen();

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

    bool m_shown = false;
};

#include "MainWindow.h"

#include "Beeper.h"
#include "BevelPanel.h"
#include "ErrorBox.h"
#include "IndicatorShape.h"
#include "Language.h"
#include "LinkErrors.h"
#include "MessageCatalogue.h"

#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QTabBar>
#include <QTabWidget>
#include <QWebEngineView>

// Windows-like colours for the caption panels.
static const QColor ActiveTitleColour(10, 36, 106);
static const QColor HighlightColour(49, 106, 197);
static const QColor BannerColour(0, 0, 128);

static const QSize PictureSize(16, 16);
static const QSize DoorSize(18, 18);
static const QSize CharacterPictureSize(34, 16);

// The fonts the layout was drawn with, each followed by a metric-compatible face installed here.
static QFont makeFont(const QStringList &families, int pixelSize, bool bold)
{
    QFont font;
    font.setFamilies(families);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

static QFont courierFont(bool bold = false)
{
    return makeFont({QStringLiteral("Courier New"), QStringLiteral("Liberation Mono")}, 13, bold);
}

static QFont msSansSerifFont()
{
    return makeFont({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans")}, 16, true);
}

static QFont microsoftSansSerifFont()
{
    return makeFont({QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Liberation Sans")}, 11,
                    false);
}

static void installFontSubstitutes()
{
    QFont::insertSubstitution(QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"));
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("Microsoft Sans Serif"),
                              QStringLiteral("Liberation Sans"));
}

// Buttons and tabs read "&" as an accelerator mark; captions are shown as written.
static QString literalCaption(const QString &text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('&'), QLatin1String("&&"));
    return escaped;
}

// Keeps every list row 16 pixels high, whatever the font's own line height.
class FixedRowDelegate : public QStyledItemDelegate
{
public:
    explicit FixedRowDelegate(int rowHeight, QObject *parent = nullptr)
        : QStyledItemDelegate(parent), m_rowHeight(rowHeight)
    {
    }

    [[nodiscard]] QSize sizeHint(const QStyleOptionViewItem &option,
                                 const QModelIndex &index) const override
    {
        return {QStyledItemDelegate::sizeHint(option, index).width(), m_rowHeight};
    }

private:
    int m_rowHeight = 16;
};

// Narrow tab padding, so both test pages' captions fit the 193-pixel page control side by side.
class CompactTabStyle : public QProxyStyle
{
public:
    [[nodiscard]] int pixelMetric(PixelMetric metric, const QStyleOption *option,
                                  const QWidget *widget) const override
    {
        if (metric == PM_TabBarTabHSpace)
            return 10;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

// Keeps mouse and keyboard input away from the window and its controls while an operation runs.
// Unlike QWidget::setEnabled(false) the controls keep their normal look, and painting, socket
// events and other windows (the error box) go on as usual.
class WindowInputBlocker : public QObject
{
public:
    explicit WindowInputBlocker(QWidget *window) : QObject(window), m_window(window)
    {
        qApp->installEventFilter(this);
    }

    [[nodiscard]] bool blocked() const { return m_blocked; }
    void setBlocked(bool blocked) { m_blocked = blocked; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!m_blocked || !isInput(event->type()) || !watched->isWidgetType())
            return false;
        return static_cast<QWidget *>(watched)->window() == m_window;
    }

private:
    static bool isInput(QEvent::Type type)
    {
        switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::InputMethod:
            return true;
        default:
            return false;
        }
    }

    QWidget *m_window;
    bool m_blocked = false;
};

template <typename T>
static T *makeControl(QWidget *parent, const char *name, const QRect &geometry)
{
    auto *control = new T(parent);
    control->setObjectName(QLatin1String(name));
    control->setGeometry(geometry);
    return control;
}

static QPushButton *makeButton(QWidget *parent, const char *name, const QRect &geometry,
                               const QString &text, const QIcon &icon, const QSize &iconSize)
{
    auto *button = makeControl<QPushButton>(parent, name, geometry);
    button->setText(text);
    button->setIcon(icon);
    button->setIconSize(iconSize);
    button->setAutoDefault(false);
    return button;
}

static QIcon picture(const char *name)
{
    return QIcon(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(name)));
}

static void switchInputMethodOff(QWidget *widget)
{
    widget->setAttribute(Qt::WA_InputMethodEnabled, false);
}

TfrmMain::TfrmMain(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowMinimizeButtonHint)
{
    // The pictures live in this static library; naming the resource keeps the linker from
    // dropping it.
    Q_INIT_RESOURCE(icons);
    setObjectName(QStringLiteral("frmMain"));
    installFontSubstitutes();
    createControls();
    setTabOrders();
    connectHandlers();
    m_web = std::make_unique<WebPane>(webMain);
    m_inputBlocker = new WindowInputBlocker(this);
    FormCreate();
}

TfrmMain::~TfrmMain() = default;

void TfrmMain::createControls()
{
    setWindowTitle(QStringLiteral("KAVRO VELQA Module Config V3.21"));
    setWindowIcon(picture("plate"));
    setFixedSize(ClientWidth, ClientHeight);
    setFont(courierFont());
    setAutoFillBackground(true);
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);

    lblRemote = makeControl<QLabel>(this, "lblRemote", {360, 8, 193, 25});
    lblRemote->setText(QStringLiteral("VELQA IP"));
    lblRemote->setAlignment(Qt::AlignCenter);

    edIP = makeControl<QLineEdit>(this, "edIP", {360, 40, 193, 24});
    edIP->setText(QStringLiteral("192.168.1.101"));
    switchInputMethodOff(edIP);

    pnKAVRO = makeControl<BevelPanel>(this, "pnKAVRO", {4, 524, 749, 21});
    pnKAVRO->setFrame(true, Bevel::Raised, Bevel::None, 1, 0);
    pnKAVRO->setColours(BannerColour, Qt::white);
    pnKAVRO->setFont(microsoftSansSerifFont());
    pnKAVRO->setText(QStringLiteral("KAVRO Technology Corp."));

    btnEng = makeButton(this, "btnEng", {559, 125, 62, 24}, QStringLiteral("English"), {}, {});
    btnGB = makeButton(this, "btnGB", {626, 125, 62, 24}, {}, picture("simplified"),
                       CharacterPictureSize);
    btnBIG5 = makeButton(this, "btnBIG5", {692, 125, 62, 24}, {}, picture("traditional"),
                         CharacterPictureSize);

    QIcon door;
    door.addFile(QStringLiteral(":/icons/door.svg"), DoorSize, QIcon::Normal);
    door.addFile(QStringLiteral(":/icons/door-disabled.svg"), DoorSize, QIcon::Disabled);
    btnExit =
        makeButton(this, "btnExit", {560, 152, 193, 33}, QStringLiteral("Exit"), door, DoorSize);
    btnExit->setDefault(true);

    pnWeb = makeControl<BevelPanel>(this, "pnWeb", {2, 188, 751, 333});
    pnWeb->setFrame(false, Bevel::Raised, Bevel::Lowered, 2, 2);
    webMain = makeControl<QWebEngineView>(pnWeb, "webMain", pnWeb->clientRect());

    btnSetData = makeButton(this, "btnSetData", {360, 72, 193, 33}, QStringLiteral("Set Data"),
                            picture("plate"), PictureSize);
    btnSetData->setEnabled(false);
    btnClear = makeButton(this, "btnClear", {360, 112, 193, 33}, QStringLiteral("Clear Data"),
                          picture("eraser"), PictureSize);
    btnClear->setEnabled(false);
    btnRefresh = makeButton(this, "btnRefresh", {360, 152, 193, 33}, QStringLiteral("Refresh Web"),
                            picture("arrows"), PictureSize);

    pnMsg = makeControl<BevelPanel>(this, "pnMsg", {8, 4, 345, 40});
    pnMsg->setFrame(true, Bevel::None, Bevel::Lowered, 1, 1);
    pnMsg->setColours(ActiveTitleColour, Qt::white);
    pnMsg->setFont(msSansSerifFont());
    pnMsg->setText(QStringLiteral("Start Scan Module"));
    shComm = makeControl<IndicatorShape>(pnMsg, "shComm", {310, 8, 23, 20});

    lstData = makeControl<QListWidget>(this, "lstData", {8, 120, 345, 65});
    lstData->setFont(courierFont(true));
    lstData->setItemDelegate(new FixedRowDelegate(16, lstData));
    lstData->setUniformItemSizes(true);
    lstData->setSortingEnabled(false);
    switchInputMethodOff(lstData);

    pnSerial = makeControl<BevelPanel>(this, "pnSerial", {8, 48, 169, 28});
    pnVersion = makeControl<BevelPanel>(this, "pnVersion", {184, 48, 169, 28});
    for (BevelPanel *panel : {pnSerial, pnVersion}) {
        panel->setFrame(true, Bevel::Raised, Bevel::None, 1, 0);
        panel->setColours(HighlightColour, Qt::yellow);
        panel->setFont(msSansSerifFont());
    }
    pnSerial->setText(QStringLiteral("S/N : ________"));
    pnVersion->setText(QStringLiteral("VER : __.__-__"));

    btnScan = makeButton(this, "btnScan", {8, 80, 345, 33}, QStringLiteral("Scan Module"),
                         picture("magnifier"), PictureSize);
    btnScan->setDefault(true);

    pcMain = makeControl<QTabWidget>(this, "pcMain", {560, 2, 193, 119});
    auto *tabStyle = new CompactTabStyle;
    tabStyle->setParent(pcMain);
    pcMain->tabBar()->setStyle(tabStyle);
    pcMain->setUsesScrollButtons(false);
    gbReader = new QWidget;
    gbReader->setObjectName(QStringLiteral("gbReader"));
    pcMain->addTab(gbReader, QStringLiteral("Reader Test"));
    btnReader = makeButton(gbReader, "btnReader", {4, 52, 177, 33}, QStringLiteral("Reader Test"),
                           picture("reader"), PictureSize);
    btnReader->setEnabled(false);
    edCardID = makeControl<QLineEdit>(gbReader, "edCardID", {8, 16, 169, 24});
    edCardID->setReadOnly(true);
    switchInputMethodOff(edCardID);

    gbLoop = new QWidget;
    gbLoop->setObjectName(QStringLiteral("gbLoop"));
    pcMain->addTab(gbLoop, QStringLiteral("Loop Test"));
    btnLoop = makeButton(gbLoop, "btnLoop", {4, 52, 177, 33}, QStringLiteral("Loop Test"),
                         picture("ring"), PictureSize);
    btnLoop->setEnabled(false);
    edLoop = makeControl<QLineEdit>(gbLoop, "edLoop", {8, 16, 169, 24});
    edLoop->setReadOnly(true);
    switchInputMethodOff(edLoop);

    pcMain->setCurrentWidget(gbLoop);
}

void TfrmMain::setTabOrders()
{
    const QList<QWidget *> windowOrder = {
        edIP,     pnKAVRO,    btnEng, btnGB,   btnBIG5,  btnExit,   pnWeb,   webMain, btnSetData,
        btnClear, btnRefresh, pnMsg,  lstData, pnSerial, pnVersion, btnScan, pcMain};
    for (qsizetype i = 1; i < windowOrder.size(); ++i)
        setTabOrder(windowOrder[i - 1], windowOrder[i]);
    setTabOrder(btnReader, edCardID);
    setTabOrder(btnLoop, edLoop);
}

void TfrmMain::connectHandlers()
{
    connect(btnScan, &QPushButton::clicked, this, &TfrmMain::btnScanClick);
    connect(edIP, &QLineEdit::returnPressed, this, &TfrmMain::btnScanClick);
    connect(btnExit, &QPushButton::clicked, this, &TfrmMain::btnExitClick);
    connect(btnSetData, &QPushButton::clicked, this, &TfrmMain::btnSetDataClick);
    connect(btnClear, &QPushButton::clicked, this, &TfrmMain::btnClearClick);
    connect(btnRefresh, &QPushButton::clicked, this, &TfrmMain::btnRefreshClick);
    connect(btnReader, &QPushButton::clicked, this, &TfrmMain::btnReaderClick);
    connect(btnLoop, &QPushButton::clicked, this, &TfrmMain::btnLoopClick);
    connect(btnEng, &QPushButton::clicked, this, &TfrmMain::btnEngClick);
    connect(btnGB, &QPushButton::clicked, this, &TfrmMain::btnGBClick);
    connect(btnBIG5, &QPushButton::clicked, this, &TfrmMain::btnBIG5Click);
}

void TfrmMain::ApplyCaptions()
{
    setWindowTitle(CatalogueText(Msg::Title));
    pnKAVRO->setText(CatalogueText(Msg::Banner));
    btnScan->setText(literalCaption(CatalogueText(Msg::ScanModule)));
    btnExit->setText(literalCaption(CatalogueText(Msg::Exit)));
    btnClear->setText(literalCaption(CatalogueText(Msg::ClearData)));
    btnSetData->setText(literalCaption(CatalogueText(Msg::SetData)));
    btnRefresh->setText(literalCaption(CatalogueText(Msg::RefreshWeb)));
    lblRemote->setText(CatalogueText(Msg::VelqaIp));
    pcMain->setTabText(pcMain->indexOf(gbLoop), literalCaption(CatalogueText(Msg::LoopTest)));
    pcMain->setTabText(pcMain->indexOf(gbReader), literalCaption(CatalogueText(Msg::ReaderTest)));
    btnLoop->setText(literalCaption(CatalogueText(Msg::LoopTest)));
    btnReader->setText(literalCaption(CatalogueText(Msg::ReaderTest)));
}

void TfrmMain::centreOnScreen()
{
    const QScreen *target = screen();
    if (!target)
        return;
    QRect frame = geometry();
    frame.moveCenter(target->availableGeometry().center());
    move(frame.topLeft());
}

void TfrmMain::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    centreOnScreen();
    edIP->setFocus();
    FormShow();
}

void TfrmMain::closeEvent(QCloseEvent *event)
{
    FormClose();
    event->accept();
}

void TfrmMain::FormCreate()
{
    LoadLanguage();
}

void TfrmMain::FormShow()
{
    ApplyCaptions();
}

void TfrmMain::FormClose()
{
    // The disconnect event shows "Disconnect." before the window goes.
    if (m_link.ConnectedFlag())
        m_link.CloseLink();
}

void TfrmMain::btnEngClick()
{
    SelectLanguage(static_cast<int>(Language::English), QString::fromLatin1(LanguageNameEnglish));
    ApplyCaptions();
}

void TfrmMain::btnGBClick()
{
    SelectLanguage(static_cast<int>(Language::ChineseGB), QString::fromLatin1(LanguageNameGB));
    ApplyCaptions();
}

void TfrmMain::btnBIG5Click()
{
    SelectLanguage(static_cast<int>(Language::ChineseBig5), QString::fromLatin1(LanguageNameBig5));
    ApplyCaptions();
}

template <typename Handler> void TfrmMain::guarded(Handler handler)
{
    try {
        handler();
    } catch (const LinkError &error) {
        errorPresenter().ShowError(error.message());
        SetWindowEnabled(true);
        SetBusyCursor(false);
    } catch (const std::exception &error) {
        errorPresenter().ShowError(QString::fromLocal8Bit(error.what()));
        SetWindowEnabled(true);
        SetBusyCursor(false);
    }
}

void TfrmMain::btnScanClick()
{
    guarded([this] { m_ops.Scan(); });
}

void TfrmMain::btnExitClick()
{
    close();
}

void TfrmMain::btnSetDataClick()
{
    guarded([this] { m_ops.SetTestData(); });
}

void TfrmMain::btnClearClick()
{
    guarded([this] { m_ops.ClearAllData(); });
}

void TfrmMain::btnRefreshClick()
{
    guarded([this] { m_ops.ShowWebPage(); });
}

void TfrmMain::btnReaderClick()
{
    guarded([this] { m_ops.ReaderTest(); });
}

void TfrmMain::btnLoopClick()
{
    guarded([this] { m_ops.LoopTest(); });
}

void TfrmMain::setOperationButtonsEnabled(bool enabled)
{
    for (QPushButton *button : {btnSetData, btnClear, btnLoop, btnReader})
        button->setEnabled(enabled);
}

void TfrmMain::LinkConnected()
{
    setOperationButtonsEnabled(true);
    pnMsg->setText(CatalogueText(Msg::ConnectOk));
}

void TfrmMain::LinkDisconnected()
{
    pnMsg->setText(CatalogueText(Msg::Disconnect));
    setOperationButtonsEnabled(false);
}

void TfrmMain::LinkErrorReported(const QString &message)
{
    errorPresenter().ShowError(message);
}

QString TfrmMain::IpText() const
{
    return edIP->text();
}

bool TfrmMain::WindowEnabled() const
{
    return !m_inputBlocker->blocked();
}

void TfrmMain::SetWindowEnabled(bool enabled)
{
    m_inputBlocker->setBlocked(!enabled);
}

void TfrmMain::SetBusyCursor(bool busy)
{
    if (busy == m_busyCursor)
        return;
    m_busyCursor = busy;
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void TfrmMain::SetStatusText(const QString &text)
{
    pnMsg->setText(text);
}

void TfrmMain::SetIndicator(IndicatorColour colour)
{
    shComm->setColour(colour);
}

void TfrmMain::Beep(int frequencyHz, int durationMs)
{
    beeper().Beep(frequencyHz, durationMs);
}

void TfrmMain::SetSerialText(const QString &text)
{
    pnSerial->setText(text);
}

void TfrmMain::SetVersionText(const QString &text)
{
    pnVersion->setText(text);
}

void TfrmMain::ClearDataList()
{
    lstData->clear();
}

void TfrmMain::AddDataLine(const QString &line)
{
    lstData->addItem(line);
}

void TfrmMain::SetCardIdText(const QString &text)
{
    edCardID->setText(text);
}

void TfrmMain::SetLoopText(const QString &text)
{
    edLoop->setText(text);
}

void TfrmMain::NavigateWeb(const QString &location)
{
    m_web->Navigate(location);
}

void TfrmMain::RefreshWeb()
{
    m_web->Refresh();
}

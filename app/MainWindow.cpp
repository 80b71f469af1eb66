#include "MainWindow.h"

#include "Announcer.h"
#include "BevelPanel.h"
#include "ErrorBox.h"
#include "FieldAccessible.h"
#include "HistoryWindow.h"
#include "InputBlocker.h"
#include "Language.h"
#include "MessageCatalogue.h"
#include "SpokenText.h"
#include "WindowJournal.h"
#include "WindowParts.h"

#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTabWidget>
#include <QWebEngineView>

using namespace WindowLook;

// A plain top-level widget reads as a nameless "filler" to screen readers; the tool's window is a
// frame, named by its caption.
static QAccessibleInterface *windowAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String("TfrmMain") && object && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Window);
    return nullptr;
}

TfrmMain::TfrmMain(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowMinimizeButtonHint)
{
    // The pictures live in this static library; naming the resource keeps the linker from
    // dropping it.
    Q_INIT_RESOURCE(icons);
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(windowAccessible);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    // Before any line edit exists: each control's interface is made once, at its first event.
    InstallFieldAccessible();
    setObjectName(QStringLiteral("frmMain"));
    installFontSubstitutes();
    createControls();
    setTabOrders();
    connectHandlers();
    createShortcuts();
    applySpokenTexts();
    m_web = std::make_unique<WebPane>(webMain);
    m_web->onFocusChanged([this](bool inside) { pnWeb->setHighlighted(inside); });
    // The page's widget takes the browser's focus; made after the window, it comes last in the tab
    // order and takes the browser with it. Both belong where the browser pane is, after Exit.
    m_web->onPageWidgetCreated([this] { setTabOrder(btnExit, webMain); });
    for (QLineEdit *field : {edIP, edCardID, edLoop})
        ReadEmptyFieldOnFocus(field);
    m_inputBlocker = new WindowInputBlocker(this);
    m_announcer = new Announcer(this, pnMsg->text());
    m_ops.setFinished([this](const OperationResult &result) { emit operationFinished(result); });
    FormCreate();
    openJournal();
    new HistoryHook(this);
}

TfrmMain::~TfrmMain() = default;

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

void TfrmMain::createShortcuts()
{
    // A key does what a click on its button does, and nothing while the button is disabled or an
    // operation holds the window's input. A test on a hidden page brings its page to the front,
    // where its result appears.
    const auto bind = [this](const QKeySequence &keys, QPushButton *button, QWidget *page) {
        auto *shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, [this, button, page] {
            if (!WindowEnabled() || !button->isEnabled())
                return;
            if (page)
                pcMain->setCurrentWidget(page);
            button->click();
        });
        button->setToolTip(keys.toString(QKeySequence::NativeText));
    };
    bind(QKeySequence(Qt::Key_F5), btnScan, nullptr);
    bind(QKeySequence(Qt::CTRL | Qt::Key_R), btnRefresh, nullptr);
    bind(QKeySequence(Qt::Key_F6), btnSetData, nullptr);
    bind(QKeySequence(Qt::Key_F7), btnClear, nullptr);
    bind(QKeySequence(Qt::Key_F8), btnReader, gbReader);
    bind(QKeySequence(Qt::Key_F9), btnLoop, gbLoop);
    bind(QKeySequence(Qt::CTRL | Qt::Key_1), btnEng, nullptr);
    bind(QKeySequence(Qt::CTRL | Qt::Key_2), btnGB, nullptr);
    bind(QKeySequence(Qt::CTRL | Qt::Key_3), btnBIG5, nullptr);
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
    applySpokenTexts();
}

void TfrmMain::applySpokenTexts()
{
    lstData->setAccessibleName(SpokenText(Spoken::DataSlots));
    edCardID->setAccessibleName(SpokenText(Spoken::CardNumber));
    edLoop->setAccessibleName(SpokenText(Spoken::LoopReply));
    pnWeb->setAccessibleName(SpokenText(Spoken::ModuleWebPage));
    // The picture buttons' descriptions say their language and keep the key that the other
    // buttons' tool tips give.
    const QString withKey = SpokenText(Spoken::WithKey);
    btnGB->setAccessibleDescription(
        withKey.arg(SpokenText(Spoken::SimplifiedChinese), btnGB->toolTip()));
    btnBIG5->setAccessibleDescription(
        withKey.arg(SpokenText(Spoken::TraditionalChinese), btnBIG5->toolTip()));
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

void TfrmMain::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    // A desktop switching between light and dark while the tool runs.
    if (event->type() == QEvent::PaletteChange && btnGB)
        applyPictures();
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
    // The journal is closed with the window, after the record of an operation still in flight.
}

void TfrmMain::languageChosen(Language language, const char *name)
{
    SelectLanguage(static_cast<int>(language), QString::fromLatin1(name));
    ApplyCaptions();
    m_announcer->announce(SpokenText(Spoken::LanguageChosen));
}

void TfrmMain::btnEngClick()
{
    languageChosen(Language::English, LanguageNameEnglish);
}

void TfrmMain::btnGBClick()
{
    languageChosen(Language::ChineseGB, LanguageNameGB);
}

void TfrmMain::btnBIG5Click()
{
    languageChosen(Language::ChineseBig5, LanguageNameBig5);
}

template <typename Handler> void TfrmMain::guarded(Handler handler)
{
    try {
        handler();
    } catch (const std::exception &error) {
        errorPresenter().ShowError(QString::fromLocal8Bit(error.what()));
        SetWindowEnabled(true);
        SetBusyCursor(false);
    }
}

void TfrmMain::btnScanClick()
{
    guarded([this] { m_ops.Scan(edIP->text()); });
}

void TfrmMain::btnExitClick()
{
    close();
}

void TfrmMain::btnSetDataClick()
{
    guarded([this] { m_ops.SetTestData(edIP->text()); });
}

void TfrmMain::btnClearClick()
{
    guarded([this] { m_ops.ClearAllData(edIP->text()); });
}

void TfrmMain::btnRefreshClick()
{
    guarded([this] { m_ops.ShowWebPage(edIP->text()); });
}

void TfrmMain::btnReaderClick()
{
    guarded([this] { m_ops.ReaderTest(edIP->text()); });
}

void TfrmMain::btnLoopClick()
{
    guarded([this] { m_ops.LoopTest(edIP->text()); });
}

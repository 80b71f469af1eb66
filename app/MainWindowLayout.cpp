// The window's controls at their places: a fixed layout, each control named as the handlers and
// the tests know it.

#include "BevelPanel.h"
#include "IndicatorShape.h"
#include "MainWindow.h"
#include "WindowParts.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QWebEngineView>

using namespace WindowLook;

void TfrmMain::createControls()
{
    setWindowTitle(QStringLiteral("KAVRO VELQA Module Config V3.21"));
    setWindowIcon(picture("plate", palette()));
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
    // Screen readers name the field by its caption, in the current language.
    lblRemote->setBuddy(edIP);

    pnKAVRO = makeControl<BevelPanel>(this, "pnKAVRO", {4, 524, 749, 21});
    pnKAVRO->setFrame(true, Bevel::Raised, Bevel::None, 1, 0);
    pnKAVRO->setColours(BannerColour, Qt::white);
    pnKAVRO->setFont(microsoftSansSerifFont());
    pnKAVRO->setText(QStringLiteral("KAVRO Technology Corp."));

    btnEng = makeButton(this, "btnEng", {559, 125, 62, 24}, QStringLiteral("English"), {}, {});
    btnGB = makeButton(this, "btnGB", {626, 125, 62, 24}, {}, {}, CharacterPictureSize);
    btnBIG5 = makeButton(this, "btnBIG5", {692, 125, 62, 24}, {}, {}, CharacterPictureSize);
    // The picture buttons name their language in itself, as "English" does; their descriptions
    // follow the window's language (applySpokenTexts).
    btnGB->setAccessibleName(QStringLiteral("简体中文"));
    btnBIG5->setAccessibleName(QStringLiteral("繁體中文"));

    QIcon door;
    door.addFile(QStringLiteral(":/icons/door.svg"), DoorSize, QIcon::Normal);
    door.addFile(QStringLiteral(":/icons/door-disabled.svg"), DoorSize, QIcon::Disabled);
    btnExit =
        makeButton(this, "btnExit", {560, 152, 193, 33}, QStringLiteral("Exit"), door, DoorSize);

    pnWeb = makeControl<BevelPanel>(this, "pnWeb", {2, 188, 751, 333});
    pnWeb->setFrame(false, Bevel::Raised, Bevel::Lowered, 2, 2);
    pnWeb->setAccessibleRole(QAccessible::Pane);
    webMain = makeControl<QWebEngineView>(pnWeb, "webMain", pnWeb->clientRect());
    // A Tab stop of its own, whose focus the page's widget takes when the engine has made it.
    webMain->setFocusPolicy(Qt::StrongFocus);

    btnSetData = makeButton(this, "btnSetData", {360, 72, 193, 33}, QStringLiteral("Set Data"), {},
                            PictureSize);
    btnSetData->setEnabled(false);
    btnClear = makeButton(this, "btnClear", {360, 112, 193, 33}, QStringLiteral("Clear Data"), {},
                          PictureSize);
    btnClear->setEnabled(false);
    btnRefresh = makeButton(this, "btnRefresh", {360, 152, 193, 33}, QStringLiteral("Refresh Web"),
                            {}, PictureSize);

    pnMsg = makeControl<BevelPanel>(this, "pnMsg", {8, 4, 345, 40});
    pnMsg->setFrame(true, Bevel::None, Bevel::Lowered, 1, 1);
    pnMsg->setColours(ActiveTitleColour, Qt::white);
    pnMsg->setFont(msSansSerifFont());
    pnMsg->setText(QStringLiteral("Start Scan Module"));
    pnMsg->setAccessibleRole(QAccessible::StatusBar);
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
    // Tab stops, so that a screen reader reads them when they get the focus.
    pnSerial->setFocusPolicy(Qt::TabFocus);
    pnVersion->setFocusPolicy(Qt::TabFocus);
    pnSerial->setText(QStringLiteral("S/N : ________"));
    pnVersion->setText(QStringLiteral("VER : __.__-__"));

    btnScan = makeButton(this, "btnScan", {8, 80, 345, 33}, QStringLiteral("Scan Module"), {},
                         PictureSize);

    pcMain = makeControl<QTabWidget>(this, "pcMain", {560, 2, 193, 119});
    auto *tabStyle = new CompactTabStyle;
    tabStyle->setParent(pcMain);
    pcMain->tabBar()->setStyle(tabStyle);
    pcMain->setUsesScrollButtons(false);
    pcMain->setElideMode(Qt::ElideNone);
    gbReader = new QWidget;
    gbReader->setObjectName(QStringLiteral("gbReader"));
    pcMain->addTab(gbReader, QStringLiteral("Reader Test"));
    btnReader = makeButton(gbReader, "btnReader", {4, 52, 177, 33}, QStringLiteral("Reader Test"),
                           {}, PictureSize);
    btnReader->setEnabled(false);
    edCardID = makeControl<QLineEdit>(gbReader, "edCardID", {8, 16, 169, 24});
    edCardID->setReadOnly(true);
    switchInputMethodOff(edCardID);

    gbLoop = new QWidget;
    gbLoop->setObjectName(QStringLiteral("gbLoop"));
    pcMain->addTab(gbLoop, QStringLiteral("Loop Test"));
    btnLoop = makeButton(gbLoop, "btnLoop", {4, 52, 177, 33}, QStringLiteral("Loop Test"), {},
                         PictureSize);
    btnLoop->setEnabled(false);
    edLoop = makeControl<QLineEdit>(gbLoop, "edLoop", {8, 16, 169, 24});
    edLoop->setReadOnly(true);
    switchInputMethodOff(edLoop);

    pcMain->setCurrentWidget(gbLoop);
    applyPictures();
}

void TfrmMain::applyPictures()
{
    const QPalette colours = palette();
    btnGB->setIcon(picture("simplified", colours));
    btnBIG5->setIcon(picture("traditional", colours));
    btnSetData->setIcon(picture("plate", colours));
    btnClear->setIcon(picture("eraser", colours));
    btnRefresh->setIcon(picture("arrows", colours));
    btnScan->setIcon(picture("magnifier", colours));
    btnReader->setIcon(picture("reader", colours));
    btnLoop->setIcon(picture("ring", colours));
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

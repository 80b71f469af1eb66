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

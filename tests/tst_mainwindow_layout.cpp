#include "BevelPanel.h"
#include "IndicatorShape.h"
#include "Language.h"
#include "MainWindow.h"
#include "MessageCatalogue.h"
#include "SpokenText.h"
#include "WebTestSupport.h"

#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSvgRenderer>
#include <QTabBar>
#include <QTabWidget>
#include <QWebEngineView>
#include <QtTest>

// The window as the technician first sees it, its captions in each language and its pictures.
// Controls are found by the objectName the window gives them.
class TestMainWindowLayout : public QObject
{
    Q_OBJECT

public:
    static void initMain()
    {
        PrepareWebTest();
        // Beside the plain screen, one screen per scale factor the window is drawn at.
        if (qgetenv("QT_QPA_PLATFORM") != "offscreen")
            return;
        static QTemporaryFile screens;
        QByteArray json;
        // The platform orders its screens by name, and the first is the primary one.
        for (const int percent : {100, 125, 150, 175, 200})
            json += QStringLiteral(R"(,{"name":"scale%1","x":%2,"y":0,"width":%3,"height":%4,)"
                                   R"("logicalDpi":%5,"logicalBaseDpi":96})")
                        .arg(percent)
                        .arg(percent * 20)
                        .arg(percent * 10)
                        .arg(percent * 8)
                        .arg(percent * 96 / 100)
                        .toLatin1();
        if (screens.open() && screens.write(R"({"screens":[)" + json.mid(1) + "]}") > 0 &&
            screens.flush())
            qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + screens.fileName().toLocal8Bit());
    }

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startState_data();
    void startState();
    void controlsInCreationOrder();
    void fonts_data();
    void fonts();
    void window();
    void tabOrder();
    void tabStops();
    void testPages();
    void tabCaptionsFit_data();
    void tabCaptionsFit();
    void indicator();
    void accessible_data();
    void accessible();
    void picturesInPalette();
    void panelColours();
    void listRowsAre16Pixels();
    void pictures_data();
    void pictures();
    void buttonPictures();
    void languageButtons_data();
    void languageButtons();
    void storedLanguageShownAtStart_data();
    void storedLanguageShownAtStart();
    void scaledWindow_data();
    void scaledWindow();

private:
    [[nodiscard]] TfrmMain *shownWindow(QScreen *screen = nullptr);
    template <typename T> [[nodiscard]] T *control(const char *name) const
    {
        return m_window ? m_window->findChild<T *>(QLatin1String(name)) : nullptr;
    }

    std::unique_ptr<QTemporaryDir> m_store;
    std::unique_ptr<TfrmMain> m_window;
};

void TestMainWindowLayout::initTestCase()
{
    (void)MessageCatalogue::instance();
}

void TestMainWindowLayout::init()
{
    m_store = std::make_unique<QTemporaryDir>();
    QVERIFY(m_store->isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, m_store->path());
    ResetLanguage();
}

void TestMainWindowLayout::cleanup()
{
    m_window.reset();
    ResetLanguage();
    m_store.reset();
}

// The offscreen screen drawn at this scale factor, if the platform has one.
static QScreen *screenAt(qreal scale)
{
    for (QScreen *screen : QGuiApplication::screens()) {
        if (qFuzzyCompare(screen->devicePixelRatio(), scale))
            return screen;
    }
    return nullptr;
}

TfrmMain *TestMainWindowLayout::shownWindow(QScreen *screen)
{
    m_window = std::make_unique<TfrmMain>();
    if (screen) {
        m_window->setScreen(screen);
        m_window->move(screen->availableGeometry().topLeft());
    }
    m_window->show();
    if (!QTest::qWaitForWindowExposed(m_window.get(), 10000))
        return nullptr;
    return m_window.get();
}

void TestMainWindowLayout::startState_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("inputMethod");

    const QString window = QStringLiteral("frmMain");
    auto row = [](const char *name, const char *className, const QString &parent, QRect geometry,
                  const QString &text, bool enabled, bool inputMethod) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(className) << parent
                            << geometry << text << enabled << inputMethod;
    };
    row("lblRemote", "QLabel", window, {360, 8, 193, 25}, "VELQA IP", true, false);
    row("edIP", "QLineEdit", window, {360, 40, 193, 24}, "192.168.1.101", true, false);
    row("pnKAVRO", "BevelPanel", window, {4, 524, 749, 21},
        "KAVRO Technology Corp.   www.example.com", true, false);
    row("btnEng", "QPushButton", window, {559, 125, 62, 24}, "English", true, false);
    row("btnGB", "QPushButton", window, {626, 125, 62, 24}, "", true, false);
    row("btnBIG5", "QPushButton", window, {692, 125, 62, 24}, "", true, false);
    row("btnExit", "QPushButton", window, {560, 152, 193, 33}, "Exit", true, false);
    row("pnWeb", "BevelPanel", window, {2, 188, 751, 333}, "", true, false);
    row("webMain", "QWebEngineView", "pnWeb", {6, 6, 739, 321}, "", true, true);
    row("btnSetData", "QPushButton", window, {360, 72, 193, 33}, "Set Data", false, false);
    row("btnClear", "QPushButton", window, {360, 112, 193, 33}, "Clear Data", false, false);
    row("btnRefresh", "QPushButton", window, {360, 152, 193, 33}, "Refresh Web", true, false);
    row("pnMsg", "BevelPanel", window, {8, 4, 345, 40}, "Start Scan Module", true, false);
    row("shComm", "IndicatorShape", "pnMsg", {310, 8, 23, 20}, "", true, false);
    row("lstData", "QListWidget", window, {8, 120, 345, 65}, "", true, false);
    row("pnSerial", "BevelPanel", window, {8, 48, 169, 28}, "S/N : ________", true, false);
    row("pnVersion", "BevelPanel", window, {184, 48, 169, 28}, "VER : __.__-__", true, false);
    row("btnScan", "QPushButton", window, {8, 80, 345, 33}, "Scan Module", true, false);
    row("pcMain", "QTabWidget", window, {560, 2, 193, 119}, "", true, false);
    row("btnReader", "QPushButton", "gbReader", {4, 52, 177, 33}, "Reader Test", false, false);
    row("edCardID", "QLineEdit", "gbReader", {8, 16, 169, 24}, "", true, false);
    row("btnLoop", "QPushButton", "gbLoop", {4, 52, 177, 33}, "Loop Test", false, false);
    row("edLoop", "QLineEdit", "gbLoop", {8, 16, 169, 24}, "", true, false);
}

void TestMainWindowLayout::startState()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, parentName);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    QFETCH(bool, enabled);
    QFETCH(bool, inputMethod);

    QVERIFY(shownWindow());
    auto *widget = m_window->findChild<QWidget *>(name);
    QVERIFY2(widget, qPrintable(name));
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
    QVERIFY(widget->parentWidget());
    QCOMPARE(widget->parentWidget()->objectName(), parentName);
    QCOMPARE(widget->geometry(), geometry);
    QCOMPARE(widget->property("text").toString(), text);
    QCOMPARE(widget->isEnabled(), enabled);
    if (qobject_cast<QLineEdit *>(widget) || qobject_cast<QListWidget *>(widget))
        QCOMPARE(widget->testAttribute(Qt::WA_InputMethodEnabled), inputMethod);
    if (name.startsWith(QLatin1String("ed")) && name != QLatin1String("edIP"))
        QVERIFY(qobject_cast<QLineEdit *>(widget)->isReadOnly());
}

void TestMainWindowLayout::controlsInCreationOrder()
{
    QVERIFY(shownWindow());
    const QStringList expected = {"lblRemote",  "edIP",    "pnKAVRO", "btnEng",     "btnGB",
                                  "btnBIG5",    "btnExit", "pnWeb",   "btnSetData", "btnClear",
                                  "btnRefresh", "pnMsg",   "lstData", "pnSerial",   "pnVersion",
                                  "btnScan",    "pcMain"};
    QStringList created;
    for (const QObject *child : m_window->children()) {
        if (expected.contains(child->objectName()))
            created << child->objectName();
    }
    QCOMPARE(created, expected);
}

void TestMainWindowLayout::fonts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("pixelSize");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<QString>("standIn");

    QTest::newRow("window") << "frmMain"
                            << "Courier New" << 13 << false << "Liberation Mono";
    QTest::newRow("btnScan") << "btnScan"
                             << "Courier New" << 13 << false << "Liberation Mono";
    QTest::newRow("btnExit") << "btnExit"
                             << "Courier New" << 13 << false << "Liberation Mono";
    QTest::newRow("lblRemote") << "lblRemote"
                               << "Courier New" << 13 << false << "Liberation Mono";
    QTest::newRow("lstData") << "lstData"
                             << "Courier New" << 13 << true << "Liberation Mono";
    QTest::newRow("pnMsg") << "pnMsg"
                           << "MS Sans Serif" << 16 << true << "Liberation Sans";
    QTest::newRow("pnSerial") << "pnSerial"
                              << "MS Sans Serif" << 16 << true << "Liberation Sans";
    QTest::newRow("pnVersion") << "pnVersion"
                               << "MS Sans Serif" << 16 << true << "Liberation Sans";
    QTest::newRow("pnKAVRO") << "pnKAVRO"
                             << "Microsoft Sans Serif" << 11 << false << "Liberation Sans";
}

void TestMainWindowLayout::fonts()
{
    QFETCH(QString, name);
    QFETCH(QString, family);
    QFETCH(int, pixelSize);
    QFETCH(bool, bold);
    QFETCH(QString, standIn);

    QVERIFY(shownWindow());
    const QWidget *widget =
        name == QLatin1String("frmMain") ? m_window.get() : m_window->findChild<QWidget *>(name);
    QVERIFY(widget);
    QCOMPARE(widget->font().families().value(0), family);
    QCOMPARE(widget->font().pixelSize(), pixelSize);
    QCOMPARE(widget->font().bold(), bold);
    // Where the named face is missing, its installed stand-in must be the one drawn.
    const QString drawn = QFontInfo(widget->font()).family();
    QVERIFY2(drawn == family || drawn == standIn, qPrintable(drawn));
}

void TestMainWindowLayout::window()
{
    QVERIFY(shownWindow());
    QCOMPARE(m_window->objectName(), QStringLiteral("frmMain"));
    QCOMPARE(m_window->size(), QSize(758, 546));
    QCOMPARE(m_window->minimumSize(), QSize(758, 546));
    QCOMPARE(m_window->maximumSize(), QSize(758, 546));
    const Qt::WindowFlags flags = m_window->windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowTitleHint));
    QVERIFY(flags.testFlag(Qt::CustomizeWindowHint));
    QVERIFY(!flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("KAVRO VELQA Module Config V3.20-01"));
    QVERIFY(!m_window->windowIcon().isNull());
    // No button is drawn as the default one until it has the focus; then Enter presses it.
    for (const auto *button : m_window->findChildren<QPushButton *>())
        QVERIFY2(!button->isDefault() && button->autoDefault(), qPrintable(button->objectName()));
    QTRY_COMPARE_WITH_TIMEOUT(QApplication::focusWidget(), control<QWidget>("edIP"), 10000);
}

void TestMainWindowLayout::tabOrder()
{
    QVERIFY(shownWindow());
    const QStringList expected = {"edIP",     "pnKAVRO",    "btnEng",  "btnGB",
                                  "btnBIG5",  "btnExit",    "pnWeb",   "btnSetData",
                                  "btnClear", "btnRefresh", "pnMsg",   "lstData",
                                  "pnSerial", "pnVersion",  "btnScan", "pcMain"};
    QStringList chain;
    QWidget *start = control<QWidget>("edIP");
    QWidget *w = start;
    do {
        if (expected.contains(w->objectName()) && !chain.contains(w->objectName()))
            chain << w->objectName();
        w = w->nextInFocusChain();
    } while (w && w != start);
    QCOMPARE(chain, expected);

    QVERIFY(control<QWidget>("btnReader")->nextInFocusChain() == control<QWidget>("edCardID"));
    QVERIFY(control<QWidget>("btnLoop")->nextInFocusChain() == control<QWidget>("edLoop"));
}

void TestMainWindowLayout::tabStops()
{
    QVERIFY(shownWindow());
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    QTRY_COMPARE(QApplication::focusWidget(), control<QWidget>("edIP"));
    // Without a module the operation buttons are disabled. The browser takes the focus after
    // Exit, in the page's widget, and shows it on its frame; Tab leaves the page as it enters it.
    // The S/N and VER panels are stops of their own and show the focus too.
    const QStringList expected =
        QStringLiteral("btnEng btnGB btnBIG5 btnExit webMain btnRefresh lstData pnSerial pnVersion "
                       "btnScan qt_tabwidget_tabbar edLoop edIP")
            .split(u' ');
    auto *web = control<BevelPanel>("pnWeb");
    auto *serial = control<QWidget>("pnSerial");
    QStringList visited;
    QImage unfocused;
    for (qsizetype i = 0; i < expected.size(); ++i) {
        QWidget *from = QApplication::focusWidget();
        if (expected.at(i) == QLatin1String("pnSerial"))
            unfocused = serial->grab().toImage();
        QTest::keyClick(from, Qt::Key_Tab);
        // The page hands the focus back through the browser's own process.
        QTRY_VERIFY(QApplication::focusWidget() != from);
        QWidget *now = QApplication::focusWidget();
        const bool inPage = control<QWidget>("webMain")->isAncestorOf(now);
        visited << (inPage ? QStringLiteral("webMain") : now->objectName());
        QCOMPARE(web->highlighted(), inPage);
        if (now == serial)
            QVERIFY(serial->grab().toImage() != unfocused);
    }
    QCOMPARE(visited, expected);
}

void TestMainWindowLayout::testPages()
{
    QVERIFY(shownWindow());
    auto *pages = control<QTabWidget>("pcMain");
    QVERIFY(pages);
    QCOMPARE(pages->count(), 2);
    QCOMPARE(pages->widget(0)->objectName(), QStringLiteral("gbReader"));
    QCOMPARE(pages->widget(1)->objectName(), QStringLiteral("gbLoop"));
    QCOMPARE(pages->currentWidget()->objectName(), QStringLiteral("gbLoop"));
    QCOMPARE(pages->tabText(0), QStringLiteral("Reader Test"));
    QCOMPARE(pages->tabText(1), QStringLiteral("Loop Test"));
    QVERIFY(control<QWidget>("btnLoop")->isVisible());
    QVERIFY(!control<QWidget>("btnReader")->isVisible());
    // Each page's button must lie wholly inside the page area.
    QVERIFY(pages->widget(1)->rect().contains(control<QWidget>("btnLoop")->geometry()));
}

void TestMainWindowLayout::tabCaptionsFit_data()
{
    QTest::addColumn<QString>("style");
    QTest::addColumn<bool>("chinese");
    QTest::addColumn<qreal>("scale");
    // An empty style keeps the application's own: under QT_QPA_PLATFORMTHEME=qt6ct (the
    // tst_mainwindow_layout_qt6ct entry) that is the desktop theme's style, a proxy of its own.
    QTest::newRow("own style") << QString() << false << 1.0;
    QTest::newRow("Windows, Traditional Chinese") << QStringLiteral("Windows") << true << 1.0;
    QTest::newRow("own style, scale 1.5") << QString() << false << 1.5;
    QTest::newRow("Traditional Chinese, scale 1.75") << QString() << true << 1.75;
}

void TestMainWindowLayout::tabCaptionsFit()
{
    QFETCH(QString, style);
    QFETCH(bool, chinese);
    QFETCH(qreal, scale);
    if (!screenAt(scale))
        QSKIP("the platform has no screen at this scale");
    const QString before = QApplication::style()->name();
    if (!style.isEmpty())
        QApplication::setStyle(style);
    const auto restore = qScopeGuard([&] {
        if (!style.isEmpty())
            QApplication::setStyle(before);
    });
    QVERIFY(shownWindow(screenAt(scale)));
    if (chinese)
        QTest::mouseClick(control<QPushButton>("btnBIG5"), Qt::LeftButton);
    QTabBar *bar = control<QTabWidget>("pcMain")->tabBar();
    const QImage shot = bar->grab().toImage();
    for (int i = 0; i < bar->count(); ++i) {
        // A clipped caption's ink falls short of its advance by a character's width or more.
        const QRect tab = bar->tabRect(i).adjusted(3, 3, -3, -3);
        const QRect pixels(tab.topLeft() * scale, tab.size() * scale);
        const int advance = bar->fontMetrics().horizontalAdvance(bar->tabText(i));
        int first = -1;
        int last = -1;
        for (int x = pixels.left(); x <= pixels.right(); ++x) {
            for (int y = pixels.top(); y <= pixels.bottom() && last != x; ++y)
                last = qGray(shot.pixel(x, y)) < 96 ? x : last;
            first = first < 0 ? last : first;
        }
        QVERIFY2(first >= 0 && (last - first + 1) / scale >= advance - 4,
                 qPrintable(bar->tabText(i)));
    }
}

void TestMainWindowLayout::indicator()
{
    QVERIFY(shownWindow());
    auto *lamp = control<IndicatorShape>("shComm");
    QVERIFY(lamp);
    QCOMPARE(lamp->colour(), IndicatorColour::Red);
    QCOMPARE(lamp->brushColour(), QColor(255, 0, 0));
    QImage shot = lamp->grab().toImage();
    QCOMPARE(QColor(shot.pixel(shot.rect().center())), QColor(255, 0, 0));

    lamp->setColour(IndicatorColour::Yellow);
    QCOMPARE(lamp->colour(), IndicatorColour::Yellow);
    QCOMPARE(lamp->brushColour(), QColor(255, 255, 0));
    shot = lamp->grab().toImage();
    QCOMPARE(QColor(shot.pixel(shot.rect().center())), QColor(255, 255, 0));

    // In words: red at start is not yet a failure; red after an outcome is.
    lamp->setColour(IndicatorColour::Red);
    QCOMPARE(QAccessible::queryAccessibleInterface(lamp)->text(QAccessible::Name),
             QStringLiteral("Status lamp: red, error"));
}

void TestMainWindowLayout::accessible_data()
{
    QTest::addColumn<QString>("language"); // the button pressed first; none: English, as at start
    QTest::newRow("English") << QString();
    QTest::newRow("Simplified Chinese") << "btnGB";
    QTest::newRow("Traditional Chinese") << "btnBIG5";
}

void TestMainWindowLayout::accessible()
{
    QFETCH(QString, language);
    QVERIFY(shownWindow());
    if (!language.isEmpty())
        QTest::mouseClick(control<QPushButton>(qPrintable(language)), Qt::LeftButton);
    QStringList english;
    for (int row = 0; row < SpokenRowCount; ++row)
        english << SpokenText(Spoken(row), 0);
    // Every object a screen reader reaches has a role, and every one but a bare container a name,
    // in the window's language; a button's key stays in its description.
    const QList<QAccessible::Role> containers{QAccessible::Client, QAccessible::Grouping,
                                              QAccessible::ScrollBar, QAccessible::LayeredPane};
    QList<QAccessibleInterface *> pending{QAccessible::queryAccessibleInterface(m_window.get())};
    while (!pending.isEmpty()) {
        QAccessibleInterface *face = pending.takeLast();
        const QByteArray where = face->object() ? face->object()->objectName().toUtf8() : "?";
        QVERIFY2(face->role() != QAccessible::NoRole, where);
        const QString name = face->text(QAccessible::Name);
        const QString description = face->text(QAccessible::Description);
        QVERIFY2(containers.contains(face->role()) || !name.isEmpty(), where);
        QVERIFY2(language.isEmpty() || (!english.contains(name) && !english.contains(description)),
                 where + ": " + name.toUtf8());
        if (const auto *button = qobject_cast<QPushButton *>(face->object()))
            QVERIFY2(description.contains(button->toolTip()), where);
        // A field's text is one run to its end (where a reader stops reading); empty, it says so.
        if (QAccessibleTextInterface *text = face->textInterface()) {
            int start = -1;
            int end = -1;
            text->attributes(qMax(0, text->characterCount() - 1), &start, &end);
            QVERIFY2(start == 0 && end == text->characterCount(), where);
            QVERIFY2(end > 0 || description == SpokenText(Spoken::Empty), where);
        }
        if (!qobject_cast<QWebEngineView *>(face->object())) {
            for (int i = 0; i < face->childCount(); ++i)
                pending << face->child(i);
        }
    }
}

// WCAG contrast ratio of two colours.
static double contrast(QRgb a, QRgb b)
{
    const auto luminance = [](QRgb c) {
        double sum = 0;
        for (const auto &[v, weight] :
             {std::pair{qRed(c), 0.2126}, {qGreen(c), 0.7152}, {qBlue(c), 0.0722}}) {
            const double s = v / 255.0;
            sum += weight * (s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4));
        }
        return sum + 0.05;
    };
    return std::max(luminance(a), luminance(b)) / std::min(luminance(a), luminance(b));
}

void TestMainWindowLayout::picturesInPalette()
{
    const QPalette before = QApplication::palette();
    const auto restore = qScopeGuard([&] { QApplication::setPalette(before); });
    // The colours of a dark desktop scheme (qt6ct's "darker").
    QPalette night(QColor(0x42, 0x42, 0x45), QColor(0x22, 0x20, 0x20));
    for (auto role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
        night.setColor(role, Qt::white);
    QApplication::setPalette(night);
    QVERIFY(shownWindow());
    // Both language buttons draw through one path, the arrows through another: each picture's
    // strongest colour against the button's face.
    for (const char *name : {"btnGB", "btnRefresh"}) {
        auto *target = control<QPushButton>(name);
        const QImage picture = target->icon().pixmap(target->iconSize()).toImage();
        const QRgb face = target->palette().color(QPalette::Button).rgb();
        double best = 1.0;
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x) {
                if (qAlpha(picture.pixel(x, y)) > 200)
                    best = std::max(best, contrast(picture.pixel(x, y), face));
            }
        }
        QVERIFY2(best >= 4.5, name);
    }
}

void TestMainWindowLayout::panelColours()
{
    QVERIFY(shownWindow());
    auto *status = control<BevelPanel>("pnMsg");
    QCOMPARE(status->foreground(), QColor(Qt::white));
    QVERIFY(status->background().lightness() < 100); // a dark title blue
    QCOMPARE(status->bevelInner(), Bevel::Lowered);
    QCOMPARE(status->bevelOuter(), Bevel::None);
    for (const char *name : {"pnSerial", "pnVersion"}) {
        auto *panel = control<BevelPanel>(name);
        QCOMPARE(panel->foreground(), QColor(Qt::yellow));
        QVERIFY(panel->background().blue() > panel->background().red());
    }
    auto *banner = control<BevelPanel>("pnKAVRO");
    QCOMPARE(banner->foreground(), QColor(Qt::white));
    QCOMPARE(banner->background(), QColor(0, 0, 128));
    QCOMPARE(control<BevelPanel>("pnWeb")->clientRect(), QRect(6, 6, 739, 321));
}

void TestMainWindowLayout::listRowsAre16Pixels()
{
    QVERIFY(shownWindow());
    auto *list = control<QListWidget>("lstData");
    QCOMPARE(list->count(), 0);
    list->addItems({QStringLiteral("(01)ABC"), QStringLiteral("(02)DEF")});
    QCOMPARE(list->visualItemRect(list->item(0)).height(), 16);
    QCOMPARE(list->visualItemRect(list->item(1)).top() - list->visualItemRect(list->item(0)).top(),
             16);
    QCOMPARE(list->item(1)->text(), QStringLiteral("(02)DEF")); // unsorted
}

void TestMainWindowLayout::pictures_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QSize>("size");
    for (const char *name : {"plate", "eraser", "arrows", "magnifier", "reader", "ring"})
        QTest::newRow(name) << QString::fromLatin1(name) << QSize(16, 16);
    QTest::newRow("door") << "door" << QSize(18, 18);
    QTest::newRow("door-disabled") << "door-disabled" << QSize(18, 18);
    QTest::newRow("simplified") << "simplified" << QSize(34, 16);
    QTest::newRow("traditional") << "traditional" << QSize(34, 16);
    // Variants for dark palettes.
    QTest::newRow("dark/simplified") << "dark/simplified" << QSize(34, 16);
    QTest::newRow("dark/arrows") << "dark/arrows" << QSize(16, 16);
}

void TestMainWindowLayout::pictures()
{
    QFETCH(QString, file);
    QFETCH(QSize, size);
    Q_INIT_RESOURCE(icons);

    QSvgRenderer renderer(QStringLiteral(":/icons/%1.svg").arg(file));
    QVERIFY(renderer.isValid());
    QCOMPARE(renderer.defaultSize(), size);
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        renderer.render(&painter);
    }
    // A picture that draws nothing (a missing font, a broken path) leaves almost every pixel clear.
    int painted = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            painted += qAlpha(image.pixel(x, y)) > 128 ? 1 : 0;
    }
    QVERIFY2(painted > size.width() * size.height() / 8, qPrintable(QString::number(painted)));
}

void TestMainWindowLayout::buttonPictures()
{
    QVERIFY(shownWindow());
    for (const char *name : {"btnSetData", "btnClear", "btnRefresh", "btnScan", "btnReader",
                             "btnLoop", "btnExit", "btnGB", "btnBIG5"}) {
        auto *button = control<QPushButton>(name);
        QVERIFY2(!button->icon().isNull(), name);
    }
    QCOMPARE(control<QPushButton>("btnGB")->iconSize(), QSize(34, 16));
    QCOMPARE(control<QPushButton>("btnExit")->iconSize(), QSize(18, 18));
    // The door has its own greyed image, not a generated one.
    const QIcon door = control<QPushButton>("btnExit")->icon();
    const QImage normal = door.pixmap(QSize(18, 18), QIcon::Normal).toImage();
    const QImage disabled = door.pixmap(QSize(18, 18), QIcon::Disabled).toImage();
    QVERIFY(normal != disabled);
}

void TestMainWindowLayout::languageButtons_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("name");

    QTest::newRow("btnGB") << "btnGB" << 1 << "ChineseGB";
    QTest::newRow("btnBIG5") << "btnBIG5" << 2 << "ChineseBIG5";
    QTest::newRow("btnEng") << "btnEng" << 0 << "English";
}

void TestMainWindowLayout::languageButtons()
{
    QFETCH(QString, button);
    QFETCH(int, index);
    QFETCH(QString, name);

    QVERIFY(shownWindow());
    if (index == 0) {
        // Start from another language so English has something to change.
        QTest::mouseClick(control<QPushButton>("btnBIG5"), Qt::LeftButton);
        QCOMPARE(control<QPushButton>("btnScan")->text(), QString::fromUtf8(u8"掃描模組"));
    }
    // Texts written by operations stay as they are when the language changes.
    auto *status = control<BevelPanel>("pnMsg");
    status->setText(QStringLiteral("Connect Ok."));
    control<BevelPanel>("pnSerial")->setText(QStringLiteral("S/N : 12345678"));
    control<BevelPanel>("pnVersion")->setText(QStringLiteral("VER : 03.21-07"));
    control<QListWidget>("lstData")->addItem(QStringLiteral("(01)0123456789"));
    control<QLineEdit>("edCardID")->setText(QStringLiteral("No Card !"));
    control<QLineEdit>("edLoop")->setText(QStringLiteral("LOOP"));

    QTest::mouseClick(m_window->findChild<QPushButton *>(button), Qt::LeftButton);

    QCOMPARE(LanguageIndex(), index);
    QCOMPARE(LanguageName(), name);
    const MessageCatalogue &cat = MessageCatalogue::instance();
    QCOMPARE(m_window->windowTitle(), cat.text(Msg::Title, index));
    QCOMPARE(control<BevelPanel>("pnKAVRO")->text(), cat.text(Msg::Banner, index));
    QCOMPARE(control<QPushButton>("btnScan")->text(), cat.text(Msg::ScanModule, index));
    QCOMPARE(control<QPushButton>("btnExit")->text(), cat.text(Msg::Exit, index));
    QCOMPARE(control<QPushButton>("btnClear")->text(), cat.text(Msg::ClearData, index));
    QCOMPARE(control<QPushButton>("btnSetData")->text(), cat.text(Msg::SetData, index));
    QCOMPARE(control<QPushButton>("btnRefresh")->text(), cat.text(Msg::RefreshWeb, index));
    QCOMPARE(control<QLabel>("lblRemote")->text(), cat.text(Msg::VelqaIp, index));
    QCOMPARE(control<QTabWidget>("pcMain")->tabText(1), cat.text(Msg::LoopTest, index));
    QCOMPARE(control<QTabWidget>("pcMain")->tabText(0), cat.text(Msg::ReaderTest, index));
    QCOMPARE(control<QPushButton>("btnLoop")->text(), cat.text(Msg::LoopTest, index));
    QCOMPARE(control<QPushButton>("btnReader")->text(), cat.text(Msg::ReaderTest, index));

    QCOMPARE(status->text(), QStringLiteral("Connect Ok."));
    QCOMPARE(control<BevelPanel>("pnSerial")->text(), QStringLiteral("S/N : 12345678"));
    QCOMPARE(control<BevelPanel>("pnVersion")->text(), QStringLiteral("VER : 03.21-07"));
    QCOMPARE(control<QListWidget>("lstData")->item(0)->text(), QStringLiteral("(01)0123456789"));
    QCOMPARE(control<QLineEdit>("edCardID")->text(), QStringLiteral("No Card !"));
    QCOMPARE(control<QLineEdit>("edLoop")->text(), QStringLiteral("LOOP"));
    QCOMPARE(control<IndicatorShape>("shComm")->colour(), IndicatorColour::Red);
    QCOMPARE(control<QPushButton>("btnGB")->text(), QString());
    for (const auto *b : m_window->findChildren<QPushButton *>())
        QVERIFY2(!b->text().contains(QLatin1Char('&')), qPrintable(b->objectName()));

    // The choice is stored for the next start.
    ResetLanguage();
    LoadLanguage();
    QCOMPARE(LanguageIndex(), index);
    QCOMPARE(LanguageName(), name);
}

void TestMainWindowLayout::storedLanguageShownAtStart_data()
{
    QTest::addColumn<QByteArray>("flag");
    QTest::addColumn<QString>("scanCaption");
    QTest::addColumn<QString>("readerTab");

    QTest::newRow("none") << QByteArray() << "Scan Module"
                          << "Reader Test";
    QTest::newRow("ChineseGB") << QByteArray("ChineseGB") << QString::fromUtf8(u8"扫描模组")
                               << QString::fromUtf8(u8"读卡测试");
    QTest::newRow("ChineseBIG5") << QByteArray("ChineseBIG5") << QString::fromUtf8(u8"掃描模組")
                                 << QString::fromUtf8(u8"讀卡測試");
    QTest::newRow("other case") << QByteArray("Chinesebig5") << "Scan Module"
                                << "Reader Test";
}

void TestMainWindowLayout::storedLanguageShownAtStart()
{
    QFETCH(QByteArray, flag);
    QFETCH(QString, scanCaption);
    QFETCH(QString, readerTab);

    if (!flag.isEmpty()) {
        QVERIFY(QDir(m_store->path()).mkpath(QStringLiteral("KAVRO")));
        QFile file(m_store->filePath(QStringLiteral("KAVRO/LinkConfig.conf")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[General]\nLanguageFlag=" + flag + "\n");
    }
    QVERIFY(shownWindow());
    QCOMPARE(control<QPushButton>("btnScan")->text(), scanCaption);
    QCOMPARE(control<QTabWidget>("pcMain")->tabText(0), readerTab);
    // The status panel keeps its design-time text in every language.
    QCOMPARE(control<BevelPanel>("pnMsg")->text(), QStringLiteral("Start Scan Module"));
    if (!flag.isEmpty())
        QCOMPARE(LanguageName(), QString::fromLatin1(flag));
}

void TestMainWindowLayout::scaledWindow_data()
{
    QTest::addColumn<qreal>("scale");
    for (const qreal scale : {1.0, 1.25, 1.5, 1.75, 2.0})
        QTest::newRow(qPrintable(QStringLiteral("scale %1").arg(scale))) << scale;
}

// At any scale factor the window keeps its logical size and the list its place, and the list shows
// its four lines whole: the fourth one inks as the second does, to its last pixel.
void TestMainWindowLayout::scaledWindow()
{
    QFETCH(qreal, scale);
    if (!screenAt(scale))
        QSKIP("the platform has no screen at this scale");
    QVERIFY(shownWindow(screenAt(scale)));
    QCOMPARE(m_window->devicePixelRatio(), scale);
    QCOMPARE(m_window->size(), QSize(758, 546));
    auto *list = control<QListWidget>("lstData");
    QCOMPARE(list->geometry(), QRect(8, 120, 345, 65));
    for (int i = 0; i < 8; ++i)
        list->addItem(QStringLiteral("(01) |gjpqy_[]{}"));
    list->doItemsLayout();
    const QWidget *rows = list->viewport();
    const QImage shot =
        m_window->grab(QRect(rows->mapTo(m_window.get(), QPoint()), rows->size())).toImage();
    const auto ink = [&](int row) {
        QList<int> dots;
        for (int y = qRound(16 * row * scale); y < qRound(16 * (row + 1) * scale); ++y) {
            int count = 0;
            for (int x = 0; y < shot.height() && x < shot.width(); ++x)
                count += qGray(shot.pixel(x, y)) < 250 ? 1 : 0;
            dots << count;
        }
        return dots;
    };
    QVERIFY(ink(1).count(0) < ink(1).size() / 2);
    QCOMPARE(ink(3), ink(1));
    // No line touches the frame below it.
    QCOMPARE(ink(3).value(shot.height() - 1 - qRound(48 * scale)), 0);
}

QTEST_MAIN(TestMainWindowLayout)
#include "tst_mainwindow_layout.moc"

#include "ErrorBox.h"
#include "Escape.h"
#include "MainWindow.h"
#include "MessageCatalogue.h"
#include "SignalClose.h"
#include "WebPane.h"

#include <QApplication>
#include <QLoggingCategory>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include <sys/stat.h>

namespace {

enum class StartAction { Run, Help, Version, UsageError };

const char kHelp[] =
    "Usage: velqa-config [options]\n"
    "Configures and tests a networked VELQA module over TCP port 5003: serial number,\n"
    "firmware version, data slots, card reader and loop tests, and the module's web page.\n"
    "\n"
    "Options:\n"
    "  -h, --help     Show this help and exit.\n"
    "  -v, --version  Show the version and exit.\n"
    "\n"
    "Qt's own options (-platform, -style, -display, ...) are accepted; options for the\n"
    "web engine follow --webEngineArgs.\n";

// Qt's own window-system options that QApplication takes from the command line.
const char *const kQtValueOptions[] = {
    "platform",     "platformpluginpath", "platformtheme", "plugin",     "qwindowgeometry",
    "qwindowtitle", "qwindowicon",        "style",         "stylesheet", "display",
    "session",      "qmljsdebugger"};
const char *const kQtFlagOptions[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

// Command-line text goes to a terminal escaped and cut, never as it is.
std::string printable(const char *text)
{
    return TerminalText(QString::fromLocal8Bit(text), 256).toLocal8Bit().toStdString();
}

bool listed(const char *name, const char *const *begin, const char *const *end)
{
    for (const char *const *p = begin; p != end; ++p) {
        if (std::strcmp(name, *p) == 0)
            return true;
    }
    return false;
}

// Read before any application object exists, so that --help and --version work without a
// display and an unknown option never opens the window.
StartAction startAction(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (std::strcmp(arg, "--webEngineArgs") == 0) {
            // The web pane's connections go through its gate only (see WebPane.h).
            for (int j = i + 1; j < argc; ++j) {
                if (IsEngineProxyFlag(QByteArray(argv[j]))) {
                    std::fprintf(stderr,
                                 "velqa-config: the web pane's network settings are fixed: "
                                 "'%s'\n",
                                 printable(argv[j]).c_str());
                    return StartAction::UsageError;
                }
            }
            break;
        }
        if (arg[0] != '-' || arg[1] == '\0') {
            std::fprintf(stderr, "velqa-config: unexpected argument '%s'\n",
                         printable(arg).c_str());
            return StartAction::UsageError;
        }
        const char *name = arg + (arg[1] == '-' ? 2 : 1);
        if (std::strcmp(name, "help") == 0 || std::strcmp(name, "h") == 0)
            return StartAction::Help;
        if (std::strcmp(name, "version") == 0 || std::strcmp(name, "v") == 0)
            return StartAction::Version;
        const std::string bare(name, std::strcspn(name, "="));
        if (listed(bare.c_str(), std::begin(kQtFlagOptions), std::end(kQtFlagOptions)))
            continue;
        if (listed(bare.c_str(), std::begin(kQtValueOptions), std::end(kQtValueOptions))) {
            if (bare.size() == std::strlen(name))
                ++i;
            continue;
        }
        std::fprintf(stderr, "velqa-config: unknown option '%s'\n", printable(arg).c_str());
        return StartAction::UsageError;
    }
    return StartAction::Run;
}

bool isSet(const char *variable)
{
    const char *value = std::getenv(variable);
    return value && *value;
}

// Qt ends the process with an abort when its window system cannot be reached, so the window's
// display is looked for before the application object exists. Only the X11 and Wayland
// platforms need one; -platform offscreen, vnc and the like draw elsewhere. Returns false when
// none of the platforms Qt would try has a display.
bool hasDisplay(int argc, char *argv[])
{
    std::string platforms;
    bool displayOption = false;
    for (int i = 1; i < argc && std::strcmp(argv[i], "--webEngineArgs") != 0; ++i) {
        const char *name = argv[i] + (std::strncmp(argv[i], "--", 2) == 0 ? 2 : 1);
        if (std::strcmp(name, "platform") == 0 && i + 1 < argc)
            platforms = argv[++i];
        else if (std::strncmp(name, "platform=", 9) == 0)
            platforms = name + 9;
        else if (std::strcmp(name, "display") == 0 || std::strncmp(name, "display=", 8) == 0)
            displayOption = true;
    }
    if (platforms.empty() && isSet("QT_QPA_PLATFORM"))
        platforms = std::getenv("QT_QPA_PLATFORM");
    if (platforms.empty())
        platforms = "xcb;wayland";

    std::string waylandSocket;
    if (isSet("XDG_RUNTIME_DIR"))
        waylandSocket = std::string(std::getenv("XDG_RUNTIME_DIR")) + "/wayland-0";
    struct stat socketStatus = {};
    const bool wayland =
        isSet("WAYLAND_DISPLAY") || isSet("WAYLAND_SOCKET") ||
        (!waylandSocket.empty() && ::stat(waylandSocket.c_str(), &socketStatus) == 0);
    const bool x11 = displayOption || isSet("DISPLAY");

    for (std::size_t start = 0; start <= platforms.size();) {
        std::size_t end = platforms.find(';', start);
        if (end == std::string::npos)
            end = platforms.size();
        std::string platform = platforms.substr(start, end - start);
        platform = platform.substr(0, platform.find(':'));
        if (platform == "xcb" ? x11 : platform.rfind("wayland", 0) == 0 ? wayland : true)
            return true;
        start = end + 1;
    }
    return false;
}

constexpr char kNoDisplayAdvice[] =
    "set DISPLAY (X11) or WAYLAND_DISPLAY (Wayland), or start it with -platform offscreen";

// While the application object is made, the window system's messages are held back: when it
// cannot start, one line says so and the tool ends with 1 instead of Qt's abort.
QtMessageHandler g_previousHandler = nullptr;
QList<std::pair<QtMsgType, QString>> *g_heldMessages = nullptr;

void startupMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtFatalMsg) {
        QString reason = QStringLiteral("the window system could not be started");
        if (g_heldMessages && !g_heldMessages->isEmpty())
            reason = g_heldMessages->first().second;
        std::fprintf(stderr, "velqa-config: no display: %s; %s\n",
                     TerminalText(reason, 256).toLocal8Bit().constData(), kNoDisplayAdvice);
        std::fflush(stderr);
        std::_Exit(1);
    }
    if (g_heldMessages && context.category && std::strncmp(context.category, "qt.qpa", 6) == 0) {
        g_heldMessages->append({type, message});
        return;
    }
    g_previousHandler(type, context, message);
}

} // namespace

int main(int argc, char *argv[])
{
    switch (startAction(argc, argv)) {
    case StartAction::Help:
        std::fputs(kHelp, stdout);
        return 0;
    case StartAction::Version:
        std::printf("velqa-config %s\n", VELQA_VERSION);
        return 0;
    case StartAction::UsageError:
        std::fputs("Try 'velqa-config --help'.\n", stderr);
        return 2;
    case StartAction::Run:
        break;
    }
    if (!hasDisplay(argc, argv)) {
        std::fprintf(stderr, "velqa-config: no display: %s\n", kNoDisplayAdvice);
        return 1;
    }
    (void)MessageCatalogue::instance();
    PrepareWebEngine();
    // The browser engine reports its start-up parameters at info level; a technician needs none.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
    // The browser pane shares its GL context with the window; Qt needs this before the app exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);

    QList<std::pair<QtMsgType, QString>> held;
    g_heldMessages = &held;
    g_previousHandler = qInstallMessageHandler(startupMessages);
    QApplication app(argc, argv);
    qInstallMessageHandler(g_previousHandler);
    g_heldMessages = nullptr;
    for (const auto &[type, message] : std::as_const(held)) {
        const QMessageLogContext context(nullptr, 0, nullptr, "qt.qpa");
        g_previousHandler(type, context, message);
    }
    QApplication::setApplicationName(ApplicationTitle());

    try {
        TfrmMain window;
        // SIGTERM and SIGINT close the window as Exit does; the operation in flight ends first.
        QObject::connect(&SignalClose::Watch(&window), &SignalClose::received, [](int number) {
            std::fprintf(stderr, "velqa-config: %s received: closing as Exit does\n",
                         number == SIGINT ? "SIGINT" : "SIGTERM");
        });
        window.show();
        return QApplication::exec();
    } catch (const std::exception &error) {
        // Start-up failed: say why, and report the failure to whoever started the tool.
        errorPresenter().ShowError(QString::fromLocal8Bit(error.what()));
        return 1;
    }
}

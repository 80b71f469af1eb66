#include "ErrorBox.h"
#include "Escape.h"
#include "MainWindow.h"
#include "MessageCatalogue.h"
#include "WebPane.h"

#include <QApplication>
#include <QLoggingCategory>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

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
        if (std::strcmp(arg, "--webEngineArgs") == 0)
            break;
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
    (void)MessageCatalogue::instance();
    PrepareWebEngine();
    // The browser engine reports its start-up parameters at info level; a technician needs none.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
    // The browser pane shares its GL context with the window; Qt needs this before the app exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(ApplicationTitle());

    try {
        TfrmMain window;
        window.show();
        return QApplication::exec();
    } catch (const std::exception &error) {
        // Start-up failed: say why, and report the failure to whoever started the tool.
        errorPresenter().ShowError(QString::fromLocal8Bit(error.what()));
        return 1;
    }
}

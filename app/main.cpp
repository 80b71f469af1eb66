#include "ErrorBox.h"
#include "MainWindow.h"
#include "MessageCatalogue.h"
#include "WebPane.h"

#include <QApplication>
#include <QLoggingCategory>

#include <exception>

int main(int argc, char *argv[])
{
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

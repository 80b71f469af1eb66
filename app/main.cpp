#include "MainWindow.h"
#include "MessageCatalogue.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    (void)MessageCatalogue::instance();
    // The browser pane shares its GL context with the window; Qt needs this before the app exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KAVRO VELQA Module Config"));

    TfrmMain window;
    window.show();
    return QApplication::exec();
}

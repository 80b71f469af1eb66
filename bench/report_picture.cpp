// Draws a report page (velqa-cli report --html FILE) with the tool's own browser engine and saves
// the whole page as a PNG picture, for the README and for looking at a report without a browser.
// Usage: report_picture PAGE.html PICTURE.png [WIDTH]
#include "WebPane.h"

#include <QApplication>
#include <QImage>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: report_picture PAGE.html PICTURE.png [WIDTH]\n");
        return 2;
    }
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    PrepareWebEngine();
    QApplication app(argc, argv);
    const int width = argc > 3 ? QByteArray(argv[3]).toInt() : 1040;
    QWebEngineView view;
    view.page()->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    // Tall enough for a whole report, cut to the page's height when it is drawn.
    view.resize(width, 8000);
    view.show();
    int code = 1;
    QObject::connect(&view, &QWebEngineView::loadFinished, &view, [&](bool ok) {
        if (!ok) {
            std::fprintf(stderr, "report_picture: cannot load %s\n", argv[1]);
            app.exit(1);
            return;
        }
        // Time for the engine to draw the page; then the white below it is cut away.
        QTimer::singleShot(2000, &view, [&] {
            const QImage image = view.grab().toImage();
            int bottom = image.height();
            const auto blank = [&image](int y) {
                for (int x = 0; x < image.width() - 20; ++x) {
                    if (image.pixel(x, y) != image.pixel(0, y))
                        return false;
                }
                return true;
            };
            while (bottom > 1 && blank(bottom - 1))
                --bottom;
            code =
                image.copy(0, 0, image.width(), bottom + 24).save(QString::fromLocal8Bit(argv[2]))
                    ? 0
                    : 1;
            app.exit(code);
        });
    });
    view.load(QUrl::fromLocalFile(QString::fromLocal8Bit(argv[1])));
    app.exec();
    return code;
}

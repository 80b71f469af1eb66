#pragma once

#include "WebPane.h"

#include <QCoreApplication>

// For tests whose window holds the browser pane, called from initMain(): the pane shares the
// window's GL context, which Qt needs to know before the application object exists, and the
// engine is prepared as the tool prepares it (no sandbox when running as root).
inline void PrepareWebTest()
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    PrepareWebEngine();
}

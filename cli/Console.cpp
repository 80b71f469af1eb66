#include "Console.h"

#include <QIODevice>

Console::Console(QIODevice *out, QIODevice *err, bool errIsTerminal)
    : m_out(out), m_err(err), m_errIsTerminal(errIsTerminal)
{
}

void Console::writeOut(const QString &text)
{
    const QMutexLocker lock(&m_mutex);
    m_out->write(text.toUtf8());
}

void Console::writeErr(const QString &text)
{
    const QMutexLocker lock(&m_mutex);
    QByteArray bytes;
    if (!m_progress.isEmpty())
        bytes += "\r\x1b[K";
    bytes += text.toUtf8();
    if (!m_progress.isEmpty())
        bytes += m_progress.toUtf8();
    m_err->write(bytes);
}

void Console::showProgress(int done, int total, qint64 elapsedMs)
{
    if (!m_errIsTerminal)
        return;
    const QMutexLocker lock(&m_mutex);
    m_progress = ProgressLine(done, total, elapsedMs);
    m_err->write("\r\x1b[K" + m_progress.toUtf8());
}

void Console::endProgress()
{
    const QMutexLocker lock(&m_mutex);
    if (m_progress.isEmpty())
        return;
    m_progress.clear();
    m_err->write("\r\x1b[K");
}

QString ProgressLine(int done, int total, qint64 elapsedMs, int width)
{
    const int filled = total > 0 ? int(qint64(done) * width / total) : width;
    const int digits = int(QString::number(total).size());
    return QStringLiteral("[%1%2] %3/%4  %5 s")
        .arg(QString(filled, QLatin1Char('#')), QString(width - filled, QLatin1Char('.')))
        .arg(done, digits)
        .arg(total)
        .arg(double(elapsedMs) / 1000.0, 0, 'f', 1);
}

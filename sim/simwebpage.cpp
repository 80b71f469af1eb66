#include "simmodule.h"

#include "simframe.h"
#include "simlistener.h"

#include <QTcpSocket>

// A request head larger than this is answered without waiting for its end.
static constexpr qsizetype kRequestLimit = 16 * 1024;
// Connections beyond this many waiting for their request are turned away at once, so a storm
// of idle connections neither holds every descriptor nor grows the request buffers.
static constexpr qsizetype kHttpConnectionLimit = 64;

// Slot bytes shown as text: control bytes become dots, the rest is read as Latin-1.
static QString displayText(const QByteArray &bytes)
{
    QString text = QString::fromLatin1(bytes);
    for (QChar &ch : text) {
        if (ch.unicode() < 0x20 || ch.unicode() == 0x7F) {
            ch = QLatin1Char('.');
        }
    }
    return text.toHtmlEscaped();
}

QByteArray SimModule::webPage() const
{
    const QString serial = displayText(m_serialNumber);
    QString rows;
    for (int slot = 1; slot <= SimFrame::SlotCount; ++slot) {
        rows += QStringLiteral("<tr><th>%1</th><td class=\"d\">%2</td></tr>\n")
                    .arg(slot)
                    .arg(displayText(slotData(slot)));
    }
    const QString html =
        QStringLiteral(
            "<!DOCTYPE html>\n"
            "<html><head><meta charset=\"utf-8\">\n"
            "<title>VELQA Module %1</title>\n"
            "<style>\n"
            "body{font:12px/1.25 sans-serif;margin:6px 8px;color:#1d2630;background:#f3f5f7}\n"
            "h1{font-size:14px;margin:0 0 4px}\n"
            "p{margin:0 0 6px}\n"
            "table{border-collapse:collapse;background:#fff}\n"
            "th,td{border:1px solid #c9d1d9;padding:1px 6px;text-align:left}\n"
            "th{background:#e6ebf0;font-weight:normal}\n"
            ".d{font-family:monospace;white-space:pre}\n"
            "</style></head>\n"
            "<body>\n"
            "<h1>VELQA Module</h1>\n"
            "<p>Serial number <span class=\"d\" id=\"serial\">%1</span> &middot; "
            "Firmware <span class=\"d\" id=\"version\">%2</span></p>\n"
            "<table>\n<tr><th>Slot</th><th>Data</th></tr>\n%3</table>\n"
            "</body></html>\n")
            .arg(serial, displayText(m_firmwareVersion), rows);
    return html.toUtf8();
}

void SimModule::onHttpConnection()
{
    while (QTcpSocket *socket = m_http->nextPendingConnection()) {
        if (m_httpRequests.size() >= kHttpConnectionLimit) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        socket->setReadBufferSize(kRequestLimit);
        m_httpRequests.insert(socket, QByteArray());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onHttpReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_httpRequests.remove(socket);
            socket->deleteLater();
        });
    }
}

void SimModule::onHttpReadyRead(QTcpSocket *socket)
{
    const auto found = m_httpRequests.find(socket);
    if (found == m_httpRequests.end()) {
        socket->readAll();
        return;
    }
    QByteArray &request = found.value();
    request += socket->read(kRequestLimit - request.size());
    if (!request.contains("\r\n\r\n") && !request.contains("\n\n") &&
        request.size() < kRequestLimit) {
        return;
    }
    const bool head = request.startsWith("HEAD ");
    m_httpRequests.erase(found);

    const QByteArray body = webPage();
    QByteArray response = QByteArrayLiteral("HTTP/1.1 200 OK\r\n"
                                            "Content-Type: text/html; charset=utf-8\r\n"
                                            "Cache-Control: no-store\r\n"
                                            "Connection: close\r\n"
                                            "Content-Length: ") +
                          QByteArray::number(body.size()) + "\r\n\r\n";
    if (!head) {
        response += body;
    }
    socket->write(response);
    socket->disconnectFromHost();
    emit httpRequestServed();
}

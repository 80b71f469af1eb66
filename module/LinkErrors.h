#pragma once

#include <QAbstractSocket>
#include <QString>

#include <stdexcept>

// An error of a call that an operation makes on the link (opening with an empty host, a send
// that the system refuses). It ends that operation; the window shows it in its error box.
class LinkError : public std::runtime_error
{
public:
    explicit LinkError(const QString &message);
    [[nodiscard]] QString message() const { return m_message; }

private:
    QString m_message;
};

// The system's own error number for a socket failure that Qt reports by category
// (ECONNREFUSED for a refused connection on Linux, WSAECONNREFUSED on Windows, ...).
[[nodiscard]] int SystemSocketErrorCode(QAbstractSocket::SocketError error);

// The system's error number for a host name that was not found.
[[nodiscard]] int HostNotFoundCode();

// The system's text for an error number, without trailing spaces, line ends and full stops.
[[nodiscard]] QString SystemErrorText(int code);

// "Windows socket error: <text> (<code>), on API '<api>'"
[[nodiscard]] QString WindowsSocketErrorMessage(int code, const QString &api);

// "Asynchronous socket error <code>"
[[nodiscard]] QString AsyncSocketErrorMessage(int code);

inline const QString NoAddressMessage = QStringLiteral("No address specified");
inline const QString SocketActiveMessage =
    QStringLiteral("Can't change value while socket is active");

#include "LinkErrors.h"

#include <cerrno>
#include <cstring>

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <netdb.h>
#endif

LinkError::LinkError(const QString &message)
    : std::runtime_error(message.toStdString()), m_message(message)
{
}

int SystemSocketErrorCode(QAbstractSocket::SocketError error)
{
#ifdef Q_OS_WIN
#define VELQA_ERR(posix, win) win
#else
#define VELQA_ERR(posix, win) posix
#endif
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return VELQA_ERR(ECONNREFUSED, WSAECONNREFUSED);
    case QAbstractSocket::RemoteHostClosedError:
        return VELQA_ERR(ECONNRESET, WSAECONNRESET);
    case QAbstractSocket::HostNotFoundError:
        return HostNotFoundCode();
    case QAbstractSocket::SocketAccessError:
        return VELQA_ERR(EACCES, WSAEACCES);
    case QAbstractSocket::SocketResourceError:
        return VELQA_ERR(EMFILE, WSAEMFILE);
    case QAbstractSocket::SocketTimeoutError:
        return VELQA_ERR(ETIMEDOUT, WSAETIMEDOUT);
    case QAbstractSocket::DatagramTooLargeError:
        return VELQA_ERR(EMSGSIZE, WSAEMSGSIZE);
    case QAbstractSocket::NetworkError:
        return VELQA_ERR(ENETUNREACH, WSAENETUNREACH);
    case QAbstractSocket::AddressInUseError:
        return VELQA_ERR(EADDRINUSE, WSAEADDRINUSE);
    case QAbstractSocket::SocketAddressNotAvailableError:
        return VELQA_ERR(EADDRNOTAVAIL, WSAEADDRNOTAVAIL);
    case QAbstractSocket::UnsupportedSocketOperationError:
        return VELQA_ERR(EAFNOSUPPORT, WSAEAFNOSUPPORT);
    case QAbstractSocket::TemporaryError:
        return VELQA_ERR(EAGAIN, WSAEWOULDBLOCK);
    case QAbstractSocket::OperationError:
        return VELQA_ERR(EALREADY, WSAEALREADY);
    default:
        return VELQA_ERR(EIO, WSAEINVAL);
    }
#undef VELQA_ERR
}

int HostNotFoundCode()
{
#ifdef Q_OS_WIN
    return WSAHOST_NOT_FOUND;
#else
    return HOST_NOT_FOUND;
#endif
}

QString SystemErrorText(int code)
{
    QString text;
#ifdef Q_OS_WIN
    text = qt_error_string(code);
#else
    // Lookup failures are numbered apart from errno on POSIX systems.
    text = code == HostNotFoundCode() ? QString::fromLocal8Bit(hstrerror(code))
                                      : QString::fromLocal8Bit(std::strerror(code));
#endif
    while (!text.isEmpty() && (text.back() == u' ' || text.back() == u'\r' ||
                               text.back() == u'\n' || text.back() == u'.'))
        text.chop(1);
    return text;
}

QString WindowsSocketErrorMessage(int code, const QString &api)
{
    return QStringLiteral("Windows socket error: %1 (%2), on API '%3'")
        .arg(SystemErrorText(code))
        .arg(code)
        .arg(api);
}

QString AsyncSocketErrorMessage(int code)
{
    return QStringLiteral("Asynchronous socket error %1").arg(code);
}

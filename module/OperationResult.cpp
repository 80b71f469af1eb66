#include "OperationResult.h"

QString OperationName(Operation operation)
{
    switch (operation) {
    case Operation::Scan:
        return QStringLiteral("scan");
    case Operation::SetTestData:
        return QStringLiteral("set-test-data");
    case Operation::ClearAllData:
        return QStringLiteral("clear");
    case Operation::ReaderTest:
        return QStringLiteral("reader-test");
    case Operation::LoopTest:
        return QStringLiteral("loop-test");
    case Operation::WebPage:
        return QStringLiteral("web-page");
    }
    return QString();
}

QString OutcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Success:
        return QStringLiteral("success");
    case Outcome::NoReply:
        return QStringLiteral("no-reply");
    case Outcome::NotConnected:
        return QStringLiteral("not-connected");
    case Outcome::Error:
        return QStringLiteral("error");
    }
    return QString();
}

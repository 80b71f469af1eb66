#include "Operations.h"

#include "Clock.h"
#include "LinkErrors.h"

#include <QCoreApplication>

#include <optional>

ModuleOperations::ModuleOperations(ModuleLink &link, OperationObserver *observer)
    : m_link(link), m_next(link.owner()), m_steps(observer)
{
    m_link.setOwner(this);
}

ModuleOperations::~ModuleOperations()
{
    m_link.setOwner(m_next);
}

OperationResult ModuleOperations::Run(Operation operation, const QString &address)
{
    const Clock &clock = m_link.clock();
    m_steps.Begin(operation, address, QDateTime::currentDateTimeUtc());
    const quint32 start = clock.Milliseconds();
    m_boxMs = 0;
    std::optional<QString> failure;
    try {
        bool replied = false;
        for (;;) {
            const LinkAction action =
                m_steps.Next({m_link.ConnectedFlag(), m_link.ReplyBuffer(), replied});
            if (action.kind == LinkAction::Kind::Done)
                break;
            replied = perform(action);
        }
    } catch (const LinkError &error) {
        failure = error.message();
    }
    const OperationResult result = m_steps.End(clock.Milliseconds() - start - m_boxMs, failure);
    if (m_finished)
        m_finished(result);
    return result;
}

bool ModuleOperations::perform(const LinkAction &action)
{
    switch (action.kind) {
    case LinkAction::Kind::Done:
        break;
    case LinkAction::Kind::Dispatch:
        QCoreApplication::processEvents();
        break;
    case LinkAction::Kind::Close:
        m_link.CloseLink();
        break;
    case LinkAction::Kind::Open:
        m_link.OpenLink(action.address);
        break;
    case LinkAction::Kind::AwaitConnection:
    case LinkAction::Kind::Wait:
        m_link.WaitPumping(action.ms);
        break;
    case LinkAction::Kind::Sleep:
        m_link.clock().Sleep(action.ms);
        break;
    case LinkAction::Kind::Command:
        return m_link.SendCommand(action.bytes);
    case LinkAction::Kind::Watch: {
        m_link.ClearReplyBuffer();
        if (action.asBuffer)
            m_link.SendBuffer(action.bytes.constData(), int(action.bytes.size()));
        else
            m_link.SendText(action.bytes);
        bool replied = false;
        for (int i = 0; i < ReplyRules::WatchWaits; ++i) {
            m_link.WaitPumping(ReplyRules::WatchWaitMs);
            if (ReplyRules::IsReply(m_link.ReplyBuffer()))
                replied = true;
        }
        return replied;
    }
    }
    return false;
}

void ModuleOperations::LinkConnected()
{
    m_steps.LinkConnected();
    m_next->LinkConnected();
}

void ModuleOperations::LinkDisconnected()
{
    m_steps.LinkDisconnected();
    m_next->LinkDisconnected();
}

void ModuleOperations::LinkErrorReported(const QString &message)
{
    m_steps.LinkErrorReported(message);
    // The window's error box opens here, from within a wait, and stays open until it is read.
    const quint32 opened = m_link.clock().Milliseconds();
    m_next->LinkErrorReported(message);
    if (m_steps.running())
        m_boxMs += m_link.clock().Milliseconds() - opened;
}

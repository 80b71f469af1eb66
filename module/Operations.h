#pragma once

#include "ModuleLink.h"
#include "OperationResult.h"
#include "OperationSteps.h"

#include <QString>

#include <functional>

// The window's driver of the operations' rules (OperationSteps): every action on its link and in
// pumped waits, exactly as the window's buttons run them. Each operation returns what happened;
// an observer, when given, sees it as it happens. The operations take the link's events on their
// way to its owner, so connects, disconnects and errors during an operation land in its result.
// An error of the link's own calls (LinkError) ends the operation there with outcome Error.
class ModuleOperations : public LinkOwner
{
public:
    static constexpr int BeepHighHz = OperationSteps::BeepHighHz;
    static constexpr int BeepLowHz = OperationSteps::BeepLowHz;
    static constexpr int BeepMs = OperationSteps::BeepMs;

    explicit ModuleOperations(ModuleLink &link, OperationObserver *observer = nullptr);
    ~ModuleOperations() override;
    ModuleOperations(const ModuleOperations &) = delete;
    ModuleOperations &operator=(const ModuleOperations &) = delete;

    // `address` is the IP field's text as typed.
    OperationResult Run(Operation operation, const QString &address);
    OperationResult Scan(const QString &address) { return Run(Operation::Scan, address); }
    OperationResult SetTestData(const QString &address)
    {
        return Run(Operation::SetTestData, address);
    }
    OperationResult ClearAllData(const QString &address)
    {
        return Run(Operation::ClearAllData, address);
    }
    OperationResult ReaderTest(const QString &address)
    {
        return Run(Operation::ReaderTest, address);
    }
    OperationResult LoopTest(const QString &address) { return Run(Operation::LoopTest, address); }
    OperationResult ShowWebPage(const QString &address) { return Run(Operation::WebPage, address); }

    // Called with every result as its operation ends.
    using Finished = std::function<void(const OperationResult &)>;
    void setFinished(Finished finished) { m_finished = std::move(finished); }

    // On by default: a scan ends by showing the module's web page as the web-page button does.
    // A caller with no browser pane turns it off, and the scan then ends without that step's
    // 2000 ms wait and beep.
    void setWebPageStep(bool on) { m_steps.setWebPageStep(on); }
    [[nodiscard]] bool webPageStep() const { return m_steps.webPageStep(); }

    // LinkOwner: noted in the running operation's result, then passed on to the link's owner.
    void LinkConnected() override;
    void LinkDisconnected() override;
    void LinkErrorReported(const QString &message) override;

private:
    // Does one action; true when a Command or Watch saw a reply.
    bool perform(const LinkAction &action);

    ModuleLink &m_link;
    LinkOwner *m_next;
    OperationSteps m_steps;
    Finished m_finished;
    // Time spent in the link owner's error box while the operation ran: the technician's, not
    // the module's, so it is left out of the operation's duration.
    quint32 m_boxMs = 0;
};

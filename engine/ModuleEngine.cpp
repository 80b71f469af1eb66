#include "ModuleEngine.h"

#include "CommandFrame.h"
#include "HostText.h"
#include "LinkErrors.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <queue>
#include <system_error>
#include <thread>
#include <vector>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Events taken from the kernel in one call.
constexpr int kMaxEvents = 512;
// Lateness below this is the loop's ordinary jitter, not a stall.
constexpr qint64 kStallSlackMs = 5;
// One read takes at most this much; what is left stays for the next read, which replaces it.
constexpr size_t kReadBytes = 64 * 1024;
// On the calling thread, the engine looks at its sockets at least this often.
constexpr qint64 kPumpSliceMs = 25;

struct Shared
{
    const QStringList &hosts;
    const ModuleProcedure &procedure;
    const EngineOptions &options;
    const Clock &clock;
    std::atomic<int> next{0};
    std::atomic<int> done{0};
    std::vector<std::optional<ModuleRun>> runs;

    [[nodiscard]] bool cancelled() const
    {
        return options.cancel && options.cancel->load(std::memory_order_relaxed);
    }
};

enum class WaitFor { Nothing, Connection, Pause, Reply, Watch };
enum class Phase { Operations, Writes };

// One module in flight: its link, its rules and where its procedure stands.
struct Flight
{
    bool active = false;
    int fd = -1;
    // Of the descriptor: events of one already closed are recognised and dropped.
    quint32 generation = 0;
    bool connecting = false;
    bool connected = false;
    QByteArray reply;

    std::unique_ptr<OperationSteps> steps;
    ModuleRun run;
    Phase phase = Phase::Operations;
    int operation = 0;
    QList<SlotWrite> toWrite;
    int write = 0;

    WaitFor waiting = WaitFor::Nothing;
    quint64 timer = 0;
    bool replied = false;
    qint64 started = 0;
    qint64 operationStarted = 0;
};

struct Due
{
    qint64 at;
    quint64 timer;
    int flight;
    bool operator>(const Due &other) const { return at > other.at; }
};
using Heap = std::priority_queue<Due, std::vector<Due>, std::greater<Due>>;

// One engine thread: its epoll set, its deadlines and its share of the modules in flight.
class EngineThread
{
public:
    // `pumped`: the engine runs on the calling thread, and idles in the clock's pumped wait, so
    // that a test clock's virtual time and the thread's own events stay in step with it.
    EngineThread(Shared &shared, int capacity, bool pumped)
        : m_shared(shared), m_clock(shared.clock), m_flights(size_t(capacity)),
          m_buffer(kReadBytes), m_pumped(pumped)
    {
        m_lastReading = m_clock.Milliseconds();
    }
    ~EngineThread()
    {
        for (Flight &f : m_flights) {
            if (f.fd >= 0)
                ::close(f.fd);
        }
        if (m_epoll >= 0)
            ::close(m_epoll);
    }

    void run();

private:
    // The clock's 32-bit milliseconds, widened.
    qint64 clockNow();
    // The engine's time: the clock's, less the engine's own stalls.
    qint64 engineNow() { return clockNow() - m_stalled; }

    void startModules();
    void startModule(int slot, int index);
    void advance(int slot);
    void beginRun(Flight &f);
    void endRun(int slot, const std::optional<QString> &failure = {});
    void finishModule(int slot);

    void open(int slot, const QString &address, std::optional<QString> *failure);
    void connected(Flight &f);
    void connectFailed(Flight &f, int error);
    void closeLink(Flight &f);
    void dropSocket(Flight &f);
    bool send(Flight &f, const QByteArray &bytes, std::optional<QString> *failure);
    // One read: what arrived replaces the reply buffer. False when nothing was there.
    bool readOnce(Flight &f);
    void linkDown(Flight &f);
    void reportError(Flight &f, const QString &message);

    void waitFor(int slot, WaitFor what, quint32 ms);
    // The time of the first wait still running in `heap`, the others dropped on the way.
    std::optional<qint64> firstDue(Heap &heap);
    // Ends the waits of `heap` due by `now`.
    void runDue(Heap &heap, qint64 now);
    void stopWaiting(int slot);
    void settleConnection(Flight &f, quint32 events);
    void resume(int slot);
    void onEvent(int slot, quint32 events);
    void onDeadline(int slot);

    Shared &m_shared;
    const Clock &m_clock;
    std::vector<Flight> m_flights;
    std::vector<char> m_buffer;
    // The budgets of waits for the module, in the engine's time (the clock's less the engine's
    // own stalls), and the fixed pauses between commands, in the clock's: a pause is the
    // module's time, which a stall of the engine has already spent.
    Heap m_budgets;
    Heap m_pauses;
    int m_epoll = -1;
    int m_active = 0;
    quint64 m_timers = 0;
    int m_epollError = 0;
    qint64 m_stalled = 0;
    qint64 m_now = 0;
    quint32 m_lastReading = 0;
    bool m_pumped = false;
};

qint64 EngineThread::clockNow()
{
    const quint32 reading = m_clock.Milliseconds();
    m_now += qint64(quint32(reading - m_lastReading));
    m_lastReading = reading;
    return m_now;
}

void EngineThread::run()
{
    // Without an epoll set (out of descriptors) every module's connect fails with the reason.
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    m_epollError = m_epoll < 0 ? errno : 0;
    std::vector<epoll_event> events(kMaxEvents);
    startModules();
    while (m_active > 0) {
        const qint64 before = clockNow();
        qint64 dueIn = -1;
        if (const std::optional<qint64> at = firstDue(m_budgets))
            dueIn = std::max<qint64>(0, *at - (before - m_stalled));
        if (const std::optional<qint64> at = firstDue(m_pauses))
            dueIn = std::max<qint64>(0, dueIn < 0 ? *at - before : std::min(dueIn, *at - before));
        int ready = 0;
        qint64 asked = dueIn;
        if (m_epoll < 0) {
            // Nothing can be waited for: every module ended in its connect.
        } else if (m_pumped) {
            // The thread's own events first (a simulator in the same thread answers there), then
            // the clock's time moves on only when nothing came.
            ready = ::epoll_wait(m_epoll, events.data(), kMaxEvents, 0);
            if (ready == 0) {
                m_clock.PumpFor(0);
                ready = ::epoll_wait(m_epoll, events.data(), kMaxEvents, 0);
            }
            asked = ready > 0 ? 0 : std::min(dueIn < 0 ? kPumpSliceMs : dueIn, kPumpSliceMs);
            if (ready == 0)
                m_clock.PumpFor(quint32(asked));
        } else {
            ready = ::epoll_wait(m_epoll, events.data(), kMaxEvents, int(dueIn));
        }
        const qint64 woke = clockNow();
        // Back later than asked: the processor was busy elsewhere. The deadlines move on.
        if (asked >= 0 && woke - before - asked > kStallSlackMs)
            m_stalled += woke - before - asked - kStallSlackMs;
        for (int e = 0; e < ready; ++e) {
            const quint64 data = events[size_t(e)].data.u64;
            const int slot = int(data >> 32);
            const Flight &f = m_flights[size_t(slot)];
            if (f.active && f.generation == quint32(data) && f.fd >= 0)
                onEvent(slot, events[size_t(e)].events);
        }
        // A long turn kept the other modules waiting: that is the engine's time, not theirs.
        const auto creditWork = [this](qint64 since) {
            const qint64 now = clockNow();
            if (now - since > kStallSlackMs)
                m_stalled += now - since - kStallSlackMs;
            return now;
        };
        const qint64 read = creditWork(woke);
        // Every reply that arrived is read above before any deadline is judged below.
        runDue(m_budgets, read - m_stalled);
        runDue(m_pauses, read);
        startModules();
        creditWork(read);
    }
}

void EngineThread::startModules()
{
    for (size_t slot = 0; slot < m_flights.size(); ++slot) {
        // A module may end at once (a host that is no address): its slot takes the next one.
        while (!m_flights[slot].active) {
            if (m_shared.cancelled())
                return;
            const int index = m_shared.next.fetch_add(1);
            if (index >= m_shared.hosts.size())
                return;
            startModule(int(slot), index);
        }
    }
}

void EngineThread::startModule(int slot, int index)
{
    Flight &f = m_flights[size_t(slot)];
    f.active = true;
    ++m_active;
    f.connected = false;
    f.connecting = false;
    f.reply.clear();
    f.steps = std::make_unique<OperationSteps>();
    f.steps->setWebPageStep(false);
    f.run = ModuleRun{};
    f.run.host = m_shared.hosts[index];
    f.run.index = index;
    f.phase = Phase::Operations;
    f.operation = 0;
    f.toWrite.clear();
    f.write = 0;
    f.waiting = WaitFor::Nothing;
    f.started = clockNow();
    if (m_shared.procedure.operations.isEmpty() && !m_shared.procedure.identify) {
        finishModule(slot);
        return;
    }
    beginRun(f);
    advance(slot);
}

void EngineThread::beginRun(Flight &f)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    f.operationStarted = clockNow();
    f.replied = false;
    if (f.phase == Phase::Writes) {
        const SlotWrite &w = f.toWrite[f.write];
        f.steps->BeginSlotWrite(w.slot, w.data, now);
    } else if (m_shared.procedure.identify) {
        f.steps->BeginIdentify(f.run.host, now);
    } else {
        f.steps->Begin(m_shared.procedure.operations[f.operation], f.run.host, now);
    }
}

void EngineThread::advance(int slot)
{
    Flight &f = m_flights[size_t(slot)];
    while (f.active && f.waiting == WaitFor::Nothing) {
        const LinkAction action = f.steps->Next({f.connected, f.reply, f.replied});
        std::optional<QString> failure;
        switch (action.kind) {
        case LinkAction::Kind::Done:
            endRun(slot);
            break;
        case LinkAction::Kind::Dispatch:
            break;
        case LinkAction::Kind::Close:
            closeLink(f);
            break;
        case LinkAction::Kind::Open:
            open(slot, action.address, &failure);
            break;
        case LinkAction::Kind::AwaitConnection:
            if (f.connecting)
                waitFor(slot, WaitFor::Connection, action.ms);
            break;
        case LinkAction::Kind::Wait:
        case LinkAction::Kind::Sleep:
            // Bytes that arrive during a pause are read as during a wait: nothing looks at the
            // reply buffer before the next command or message empties it.
            if (action.ms > 0)
                waitFor(slot, WaitFor::Pause, action.ms);
            break;
        case LinkAction::Kind::Command: {
            f.replied = false;
            if (!f.connected)
                break;
            const QByteArray frame = BuildCommandFrame(action.bytes);
            if (frame.isEmpty())
                break;
            f.reply.clear();
            if (send(f, frame, &failure))
                waitFor(slot, WaitFor::Reply, ReplyRules::CommandWaits * ReplyRules::CommandWaitMs);
            break;
        }
        case LinkAction::Kind::Watch:
            f.replied = false;
            f.reply.clear();
            if (f.connected && send(f, action.bytes, &failure))
                waitFor(slot, WaitFor::Watch, ReplyRules::WatchWaits * ReplyRules::WatchWaitMs);
            break;
        }
        if (failure)
            endRun(slot, failure);
    }
}

void EngineThread::endRun(int slot, const std::optional<QString> &failure)
{
    Flight &f = m_flights[size_t(slot)];
    stopWaiting(slot);
    const OperationResult &result = f.steps->End(clockNow() - f.operationStarted, failure);
    if (f.phase == Phase::Writes) {
        f.run.writes << f.steps->lastSlotWrite();
        ++f.write;
    } else {
        f.run.results << result;
        if (m_shared.options.finished && !m_shared.procedure.identify)
            m_shared.options.finished(result);
        const bool more = !m_shared.procedure.identify && result.outcome != Outcome::Error &&
                          ++f.operation < m_shared.procedure.operations.size();
        if (!more) {
            if (m_shared.procedure.decide && !m_shared.procedure.identify)
                f.toWrite = m_shared.procedure.decide(f.run.results.first());
            f.phase = Phase::Writes;
            f.write = 0;
        }
    }
    if (f.phase == Phase::Writes) {
        if (f.write < f.toWrite.size() && m_shared.cancelled())
            f.run.writesLeft = int(f.toWrite.size()) - f.write;
        if (f.write >= f.toWrite.size() || f.run.writesLeft > 0) {
            finishModule(slot);
            return;
        }
    }
    beginRun(f);
}

void EngineThread::finishModule(int slot)
{
    Flight &f = m_flights[size_t(slot)];
    stopWaiting(slot);
    f.run.status = f.steps->status();
    dropSocket(f);
    f.connected = false;
    f.run.durationMs = clockNow() - f.started;
    if (m_shared.options.moduleDone)
        m_shared.options.moduleDone(f.run);
    m_shared.runs[size_t(f.run.index)] = std::move(f.run);
    f.steps.reset();
    f.reply.clear();
    f.toWrite.clear();
    f.active = false;
    --m_active;
    m_shared.done.fetch_add(1, std::memory_order_relaxed);
}

void EngineThread::reportError(Flight &f, const QString &message)
{
    if (f.steps->running())
        f.steps->LinkErrorReported(message);
    else
        f.run.laterErrors << message;
}

static bool socketAddress(const QHostAddress &address, quint16 port, sockaddr_storage *storage,
                          socklen_t *length)
{
    std::memset(storage, 0, sizeof *storage);
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        auto *v4 = reinterpret_cast<sockaddr_in *>(storage);
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        v4->sin_addr.s_addr = htonl(address.toIPv4Address());
        *length = sizeof *v4;
        return true;
    }
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto *v6 = reinterpret_cast<sockaddr_in6 *>(storage);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&v6->sin6_addr, &bytes, sizeof v6->sin6_addr);
        v6->sin6_scope_id = address.scopeId().toUInt();
        *length = sizeof *v6;
        return true;
    }
    return false;
}

// As the window's link opens: an empty or unusable text fails in the call; a text that is no
// address is a host not found, told by the disconnect event and the lookup's error; an address is
// connected to without blocking, and the attempt is decided later.
void EngineThread::open(int slot, const QString &address, std::optional<QString> *failure)
{
    Flight &f = m_flights[size_t(slot)];
    if (f.connected) {
        if (address.compare(f.run.host, Qt::CaseInsensitive) != 0)
            *failure = SocketActiveMessage;
        return;
    }
    dropSocket(f);
    if (address.isEmpty()) {
        f.steps->LinkDisconnected();
        *failure = NoAddressMessage;
        return;
    }
    const HostText host = ParseHostText(address);
    if (host.kind == HostText::Kind::Unusable) {
        f.steps->LinkDisconnected();
        *failure = WindowsSocketErrorMessage(EINVAL, QStringLiteral("WSAASyncGetHostByName"));
        return;
    }
    sockaddr_storage to{};
    socklen_t length = 0;
    if (host.kind != HostText::Kind::Address ||
        !socketAddress(host.address, m_shared.options.port, &to, &length)) {
        f.steps->LinkDisconnected();
        reportError(f,
                    WindowsSocketErrorMessage(HostNotFoundCode(), QStringLiteral("ASync Lookup")));
        return;
    }
    // A connect the system refuses at once is the window's "connect" error, after the
    // disconnect event; so is a socket that cannot be made or watched.
    const auto refused = [&f, this](int error) {
        dropSocket(f);
        f.steps->LinkDisconnected();
        reportError(f, WindowsSocketErrorMessage(error, QStringLiteral("connect")));
    };
    if (m_epoll < 0)
        return refused(m_epollError);
    const int fd = ::socket(to.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return refused(errno);
    f.fd = fd;
    ++f.generation;
    const int result = ::connect(fd, reinterpret_cast<sockaddr *>(&to), length);
    if (result != 0 && errno != EINPROGRESS)
        return refused(errno);
    epoll_event event{};
    event.events = result == 0 ? (EPOLLIN | EPOLLRDHUP) : EPOLLOUT;
    event.data.u64 = (quint64(quint32(slot)) << 32) | f.generation;
    if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event) != 0)
        return refused(errno);
    f.connecting = true;
    if (result == 0)
        connected(f);
}

void EngineThread::connected(Flight &f)
{
    f.connecting = false;
    const int one = 1;
    ::setsockopt(f.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    epoll_event event{};
    event.events = EPOLLIN | EPOLLRDHUP;
    event.data.u64 = (quint64(quint32(&f - m_flights.data())) << 32) | f.generation;
    ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, f.fd, &event);
    f.connected = true;
    f.steps->LinkConnected();
}

// A refused, timed-out or unreachable connection: no disconnect event, only the error.
void EngineThread::connectFailed(Flight &f, int error)
{
    dropSocket(f);
    reportError(f, AsyncSocketErrorMessage(error));
}

void EngineThread::closeLink(Flight &f)
{
    if (!f.connected)
        return;
    f.steps->LinkDisconnected();
    f.connected = false;
    dropSocket(f);
}

void EngineThread::dropSocket(Flight &f)
{
    if (f.fd >= 0) {
        // Closing removes it from the epoll set.
        ::close(f.fd);
        f.fd = -1;
    }
    f.connecting = false;
}

// One send call; what the system does not take is not sent (as the window's link). A send the
// system refuses takes the link down and ends the operation, as in the window.
bool EngineThread::send(Flight &f, const QByteArray &bytes, std::optional<QString> *failure)
{
    const ssize_t sent =
        ::send(f.fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        const int error = errno;
        f.steps->LinkDisconnected();
        f.connected = false;
        dropSocket(f);
        *failure = WindowsSocketErrorMessage(error, QStringLiteral("send"));
        return false;
    }
    if (sent > 0 && m_shared.options.wire)
        m_shared.options.wire(f.run.host, ModuleLink::WireDirection::Sent, bytes.left(sent));
    return true;
}

bool EngineThread::readOnce(Flight &f)
{
    if (f.fd < 0 || !f.connected)
        return false;
    const ssize_t got = ::recv(f.fd, m_buffer.data(), m_buffer.size(), MSG_DONTWAIT);
    if (got > 0) {
        f.reply = QByteArray(m_buffer.data(), qsizetype(got));
        if (m_shared.options.wire)
            m_shared.options.wire(f.run.host, ModuleLink::WireDirection::Received, f.reply);
        return true;
    }
    if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        // A close and a reset by the module take the link down alike; anything else is also
        // reported, as the window's socket reports it.
        const int error = got == 0 ? 0 : errno;
        linkDown(f);
        if (error != 0 && error != ECONNRESET && error != EPIPE)
            reportError(f, AsyncSocketErrorMessage(error));
    }
    return false;
}

void EngineThread::linkDown(Flight &f)
{
    if (f.connected) {
        f.steps->LinkDisconnected();
        f.connected = false;
    }
    dropSocket(f);
}

void EngineThread::waitFor(int slot, WaitFor what, quint32 ms)
{
    Flight &f = m_flights[size_t(slot)];
    f.waiting = what;
    f.timer = ++m_timers;
    if (what == WaitFor::Pause)
        m_pauses.push({clockNow() + qint64(ms), f.timer, slot});
    else
        m_budgets.push({engineNow() + qint64(ms), f.timer, slot});
}

std::optional<qint64> EngineThread::firstDue(Heap &heap)
{
    while (!heap.empty()) {
        const Due &top = heap.top();
        const Flight &f = m_flights[size_t(top.flight)];
        if (f.active && f.timer == top.timer && f.waiting != WaitFor::Nothing)
            return top.at;
        heap.pop();
    }
    return std::nullopt;
}

void EngineThread::runDue(Heap &heap, qint64 now)
{
    while (!heap.empty() && heap.top().at <= now) {
        const Due top = heap.top();
        heap.pop();
        const Flight &f = m_flights[size_t(top.flight)];
        if (f.active && f.timer == top.timer && f.waiting != WaitFor::Nothing)
            onDeadline(top.flight);
    }
}

void EngineThread::stopWaiting(int slot)
{
    m_flights[size_t(slot)].waiting = WaitFor::Nothing;
}

// Settles an attempt still connecting: connected, or refused (reported, no disconnect event).
void EngineThread::settleConnection(Flight &f, quint32 events)
{
    // A failed attempt always comes with EPOLLERR; only then is its reason asked for.
    int error = 0;
    socklen_t length = sizeof error;
    if ((events & (EPOLLERR | EPOLLHUP)) &&
        ::getsockopt(f.fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        error = errno;
    if (error == 0 && (events & EPOLLOUT))
        connected(f);
    else if (error != 0 || (events & (EPOLLERR | EPOLLHUP)))
        connectFailed(f, error != 0 ? error : ECONNREFUSED);
}

void EngineThread::resume(int slot)
{
    stopWaiting(slot);
    advance(slot);
}

void EngineThread::onEvent(int slot, quint32 events)
{
    Flight &f = m_flights[size_t(slot)];
    if (f.connecting) {
        settleConnection(f, events);
        if (f.waiting == WaitFor::Connection && !f.connecting)
            resume(slot);
        return;
    }
    readOnce(f);
    if (f.waiting != WaitFor::Reply && f.waiting != WaitFor::Watch)
        return;
    if (ReplyRules::IsReply(f.reply))
        f.replied = true;
    // A command's wait ends with its reply; a watch runs its course. Once the link is down no
    // reply can come.
    if ((f.waiting == WaitFor::Reply && f.replied) || !f.connected)
        resume(slot);
}

// A wait ran out. What has arrived is read and counted first.
void EngineThread::onDeadline(int slot)
{
    Flight &f = m_flights[size_t(slot)];
    if (f.waiting == WaitFor::Connection && f.connecting) {
        pollfd p{f.fd, POLLOUT, 0};
        if (::poll(&p, 1, 0) > 0)
            settleConnection(f, (p.revents & POLLOUT ? EPOLLOUT : 0u) |
                                    (p.revents & (POLLERR | POLLHUP) ? EPOLLERR : 0u));
    } else if (f.waiting == WaitFor::Reply) {
        while (!f.replied && readOnce(f))
            f.replied = ReplyRules::IsReply(f.reply);
    } else if (f.waiting == WaitFor::Watch) {
        // The watch ends on the buffer as the latest read left it.
        while (readOnce(f)) {
            if (ReplyRules::IsReply(f.reply))
                f.replied = true;
        }
    }
    resume(slot);
}

} // namespace

QList<ModuleRun> RunFleet(const QStringList &hosts, const ModuleProcedure &procedure,
                          const EngineOptions &options,
                          const std::function<void(int done)> &progress)
{
    const Clock &clock = options.clock ? *options.clock : systemClock();
    Shared shared{hosts, procedure, options, clock, {0}, {0}, {}};
    shared.runs.resize(size_t(hosts.size()));
    const int jobs = std::max(1, std::min<int>(options.jobs, int(hosts.size())));
    const auto collect = [&shared] {
        QList<ModuleRun> runs;
        runs.reserve(shared.done.load());
        for (std::optional<ModuleRun> &run : shared.runs) {
            if (run)
                runs.append(std::move(*run));
        }
        return runs;
    };
    if (&clock != &systemClock()) {
        if (!hosts.isEmpty())
            EngineThread(shared, jobs, true).run();
        if (progress)
            progress(shared.done.load());
        return collect();
    }

    const int threads =
        std::min(jobs, std::clamp(options.threads, 1,
                                  std::max(1, int(std::thread::hardware_concurrency()))));
    QEventLoop loop;
    // Counted before any starts, so the first to end cannot take itself for the last.
    std::atomic<int> running{hosts.isEmpty() ? 0 : threads};
    std::vector<std::thread> workers;
    const auto work = [&shared](int capacity) { EngineThread(shared, capacity, false).run(); };
    for (int t = 0; t < threads && !hosts.isEmpty(); ++t) {
        const int capacity = jobs / threads + (t < jobs % threads ? 1 : 0);
        try {
            workers.emplace_back([&, capacity] {
                work(capacity);
                if (--running == 0)
                    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
            });
        } catch (const std::system_error &) {
            // No thread to be had: the threads there are share its modules.
            if (--running == 0)
                QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        }
    }
    if (workers.empty() && !hosts.isEmpty())
        work(jobs);

    QTimer ticker;
    if (progress) {
        QObject::connect(&ticker, &QTimer::timeout, &loop,
                         [&] { progress(shared.done.load(std::memory_order_relaxed)); });
        ticker.start(100);
    }
    if (running.load() > 0 && QCoreApplication::instance())
        loop.exec();
    ticker.stop();
    for (std::thread &worker : workers)
        worker.join();
    if (progress)
        progress(shared.done.load());
    return collect();
}

// The floor for a fleet scan: the time that the connects and the scan's ten exchanges (S01, V01,
// G01..G08) need on this machine, with no fixed wait at all, measured by the plainest client
// there is (non-blocking sockets on epoll, one thread, no Qt). A command-line run is compared
// with it: its wall time over this wall time is the cost of the tool's own rules and work.
//
// Usage: bench_floor --port PORT [--first 127.0.0.1] [--count N] [--jobs N]
// Prints one line: modules answered, wall time, processor time and processor time per module.

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

std::string frameOf(const std::string &command)
{
    unsigned sum = 0x0F;
    for (const char c : command)
        sum ^= static_cast<unsigned char>(c);
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", sum);
    return std::string("QMK\x0F") + command + hex + '\r';
}

double cpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

struct Module
{
    int fd = -1;
    int exchange = 0;
    bool connected = false;
};

} // namespace

int main(int argc, char **argv)
{
    int port = 0;
    int count = 250;
    int jobs = 256;
    std::string first = "127.0.0.1";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--port")
            port = std::atoi(argv[i + 1]);
        else if (option == "--count")
            count = std::atoi(argv[i + 1]);
        else if (option == "--jobs")
            jobs = std::atoi(argv[i + 1]);
        else if (option == "--first")
            first = argv[i + 1];
    }
    in_addr base{};
    if (port <= 0 || count <= 0 || jobs <= 0 || inet_pton(AF_INET, first.c_str(), &base) != 1) {
        std::fprintf(stderr, "usage: bench_floor --port PORT [--first ADDR] [--count N] "
                             "[--jobs N]\n");
        return 2;
    }
    std::vector<std::string> frames{frameOf("S01"), frameOf("V01")};
    for (int slot = 1; slot <= 8; ++slot)
        frames.push_back(frameOf("G0" + std::to_string(slot)));

    const int epoll = epoll_create1(EPOLL_CLOEXEC);
    std::vector<Module> modules(static_cast<size_t>(count));
    int next = 0;
    int running = 0;
    int answered = 0;
    const auto start = [&] {
        while (running < jobs && next < count) {
            Module &m = modules[static_cast<size_t>(next)];
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(static_cast<uint16_t>(port));
            to.sin_addr.s_addr = htonl(ntohl(base.s_addr) + static_cast<uint32_t>(next));
            m.fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            const int one = 1;
            setsockopt(m.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            connect(m.fd, reinterpret_cast<sockaddr *>(&to), sizeof to);
            epoll_event event{};
            event.events = EPOLLIN | EPOLLOUT;
            event.data.u32 = static_cast<uint32_t>(next);
            epoll_ctl(epoll, EPOLL_CTL_ADD, m.fd, &event);
            ++next;
            ++running;
        }
    };
    const auto finish = [&](Module &m) {
        close(m.fd);
        m.fd = -1;
        --running;
    };

    const auto began = std::chrono::steady_clock::now();
    const double cpuBefore = cpuMs();
    start();
    std::vector<epoll_event> events(1024);
    char buffer[4096];
    while (running > 0) {
        const int ready = epoll_wait(epoll, events.data(), int(events.size()), 5000);
        if (ready <= 0)
            break;
        for (int e = 0; e < ready; ++e) {
            Module &m = modules[events[size_t(e)].data.u32];
            if (m.fd < 0)
                continue;
            if (events[size_t(e)].events & (EPOLLERR | EPOLLHUP)) {
                finish(m);
                continue;
            }
            if (!m.connected && (events[size_t(e)].events & EPOLLOUT)) {
                m.connected = true;
                epoll_event event{};
                event.events = EPOLLIN;
                event.data = events[size_t(e)].data;
                epoll_ctl(epoll, EPOLL_CTL_MOD, m.fd, &event);
                send(m.fd, frames[0].data(), frames[0].size(), MSG_NOSIGNAL);
                continue;
            }
            if (events[size_t(e)].events & EPOLLIN) {
                const ssize_t got = recv(m.fd, buffer, sizeof buffer, 0);
                if (got <= 5) {
                    if (got <= 0)
                        finish(m);
                    continue;
                }
                if (++m.exchange == int(frames.size())) {
                    ++answered;
                    finish(m);
                    continue;
                }
                const std::string &frame = frames[size_t(m.exchange)];
                send(m.fd, frame.data(), frame.size(), MSG_NOSIGNAL);
            }
        }
        start();
    }
    const double wallMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began).count();
    const double cpu = cpuMs() - cpuBefore;
    std::printf("floor: %d of %d modules answered 10 exchanges, %d at once: wall %.2f s, cpu "
                "%.2f s, %.3f ms per module\n",
                answered, count, jobs, wallMs / 1000.0, cpu / 1000.0, cpu / count);
    return answered == count ? 0 : 1;
}

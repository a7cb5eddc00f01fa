// The self-pipe behind SignalWatch, and the descriptor limit.

#include "platform/qt/process.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace modburn {

namespace {

// The handler may touch nothing but these.
int pipeFds[2] = {-1, -1};

extern "C" void OnSignal(int number)
{
    const int saved = errno;
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const auto n = ::write(pipeFds[1], &byte, 1);
    errno = saved;
}

void Handle(int number, void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(number, &action, nullptr);
}

}  // namespace

SignalWatch::SignalWatch(std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal))
{
    if (pipeFds[0] >= 0 || ::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;  // the default handling still ends the process
    notifier_ = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { Drain(); });
    Handle(SIGINT, OnSignal);
    Handle(SIGTERM, OnSignal);
}

SignalWatch::~SignalWatch()
{
    if (!notifier_)
        return;
    Handle(SIGINT, SIG_DFL);
    Handle(SIGTERM, SIG_DFL);
    delete notifier_;
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
}

void SignalWatch::Drain()
{
    char bytes[16];
    for (;;) {
        const auto n = ::read(pipeFds[0], bytes, sizeof bytes);
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n; ++i)
            onSignal_(bytes[i]);
    }
}

void RaiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

}  // namespace modburn

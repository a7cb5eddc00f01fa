// Device threads and the fleet that starts, stops and sums them up.

#include "cli/fleet.h"

#include "cli/session.h"
#include "link/qt/qtlinkparts.h"
#include "platform/qt/qtfile.h"

#include <QElapsedTimer>
#include <QMutexLocker>

#include <cmath>
#include <exception>
#include <map>

namespace modburn::cli {

namespace {

std::int64_t NowMs()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer c;
        c.start();
        return c;
    }();
    return clock.elapsed();
}

}  // namespace

DeviceThread::DeviceThread(Target target, QString imagePath, std::function<void(const Event&)> deliver)
    : target_(std::move(target)), imagePath_(std::move(imagePath)), deliver_(std::move(deliver))
{
}

void DeviceThread::RequestStop(Verdict reason)
{
    QMutexLocker lock(&mutex_);
    stopAsked_ = reason;
    if (context_) {
        // Runs on the device thread, inside one of the run's yields.
        Session* session = session_;
        QMetaObject::invokeMethod(
            context_, [session, reason] { session->Stop(reason); }, Qt::QueuedConnection);
    }
}

void DeviceThread::run()
{
    try {
        // Made here, so they belong to this thread and its event queue.
        QtLinkParts device;
        QtFileSystem files;
        QElapsedTimer clock;
        clock.start();
        Session session({device.link, device.control, files, [&clock] { return clock.elapsed(); }}, target_, deliver_);
        QObject context;
        {
            QMutexLocker lock(&mutex_);
            context_ = &context;
            session_ = &session;
            if (stopAsked_)
                session.Stop(*stopAsked_);
        }
        session.Program(imagePath_);
        // A stop queued from now on finds no context; one already queued dies with it.
        QMutexLocker lock(&mutex_);
        context_ = nullptr;
        session_ = nullptr;
    } catch (const std::exception& error) {
        Event end;
        end.kind = EventKind::End;
        end.device = target_.label;
        end.verdict = Verdict::Error;
        end.message = QStringLiteral("internal error: %1").arg(QString::fromLocal8Bit(error.what()));
        deliver_(end);
    }
}

Fleet::Fleet(std::vector<Target> targets, QString imagePath, Reporter& reporter, QObject* parent)
    : QObject(parent), imagePath_(std::move(imagePath)), reporter_(reporter)
{
    for (Target& target : targets) {
        devices_.emplace_back();
        devices_.back().target = std::move(target);
    }
    giveUp_.setSingleShot(true);
    connect(&giveUp_, &QTimer::timeout, this, [this] {
        gaveUp_ = true;
        StopRemaining(Verdict::GaveUp);
    });
}

Fleet::~Fleet()
{
    for (Device& device : devices_) {
        if (device.thread) {
            device.thread->RequestStop(Verdict::Stopped);
            device.thread->wait();
        }
    }
}

void Fleet::Start(std::optional<double> giveUpAfterS)
{
    startedAt_ = NowMs();
    giveUpAfterS_ = giveUpAfterS;
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        auto deliver = [this, i](const Event& event) { Post(i, event); };
        devices_[i].thread = std::make_unique<DeviceThread>(devices_[i].target, imagePath_, deliver);
    }
    QStringList labels;
    for (const Device& device : devices_)
        labels << device.target.label;
    reporter_.Begin(labels);
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        devices_[i].thread->start();
        // A thread the system would not make never reports; its end is said here.
        if (!devices_[i].thread->isRunning() && !devices_[i].thread->isFinished()) {
            Event end;
            end.kind = EventKind::End;
            end.device = devices_[i].target.label;
            end.verdict = Verdict::Error;
            end.message = QStringLiteral("no thread could be started for this device");
            QMetaObject::invokeMethod(
                this, [this, i, end] { OnEvent(i, end); }, Qt::QueuedConnection);
        }
    }
    if (giveUpAfterS) {
        giveUp_.setTimerType(Qt::PreciseTimer);
        giveUp_.start(static_cast<int>(std::min(std::ceil(*giveUpAfterS * 1000.0), 2e9)));
    }
    if (devices_.empty())
        Complete();
}

void Fleet::Interrupt()
{
    interrupted_ = true;
    StopRemaining(Verdict::Interrupted);
}

void Fleet::StopRemaining(Verdict reason)
{
    for (Device& device : devices_) {
        if (device.ended || device.stopReason != Verdict::None)
            continue;
        device.stopReason = reason;
        device.thread->RequestStop(reason);
    }
}

void Fleet::Post(std::size_t index, const Event& event)
{
    bool wake = false;
    {
        QMutexLocker lock(&inboxMutex_);
        wake = inbox_.empty();
        inbox_.emplace_back(index, event);
    }
    if (wake)
        QMetaObject::invokeMethod(this, &Fleet::DrainInbox, Qt::QueuedConnection);
}

void Fleet::DrainInbox()
{
    std::vector<std::pair<std::size_t, Event>> batch;
    {
        QMutexLocker lock(&inboxMutex_);
        batch.swap(inbox_);
    }
    for (auto& [index, event] : batch)
        OnEvent(index, std::move(event));
}

void Fleet::OnEvent(std::size_t index, Event event)
{
    Device* device = &devices_[index];
    if (device->ended)
        return;
    if (event.kind == EventKind::End) {
        // The session says how far it got; the time it was given is known here.
        if (event.verdict == Verdict::GaveUp)
            event.message = QStringLiteral("not done within %1 s; %2").arg(*giveUpAfterS_).arg(event.message);
        device->ended = true;
        device->end = event;
        ++ended_;
    }
    reporter_.OnEvent(event);
    if (ended_ == static_cast<int>(devices_.size()))
        Complete();
}

void Fleet::Complete()
{
    if (done_)
        return;
    done_ = true;
    giveUp_.stop();
    for (Device& device : devices_)
        device.thread->wait();

    std::vector<Event> ends;
    std::map<Verdict, int> count;
    for (const Device& device : devices_) {
        ends.push_back(device.end);
        ++count[device.end.verdict];
    }
    const int programmed = count[Verdict::Programmed];
    const int failed = count[Verdict::Failed];
    const int gaveUp = count[Verdict::GaveUp];
    const int interrupted = count[Verdict::Interrupted];
    const int errors = static_cast<int>(devices_.size()) - programmed - failed - gaveUp - interrupted;
    Event summary;
    summary.kind = EventKind::Summary;
    summary.elapsedMs = NowMs() - startedAt_;
    summary.verdict = interrupted_ ? Verdict::Interrupted
                      : gaveUp > 0 ? Verdict::GaveUp
                      : errors > 0 ? Verdict::Error
                      : failed > 0 ? Verdict::Failed
                                   : Verdict::Programmed;
    summary.message = QStringLiteral("%1 devices: %2 programmed, %3 failed, %4 error, %5 gave up, %6 interrupted")
                          .arg(devices_.size())
                          .arg(programmed)
                          .arg(failed)
                          .arg(errors)
                          .arg(gaveUp)
                          .arg(interrupted);
    reporter_.Finish(ends, summary);
    emit Finished();
}

int Fleet::ExitCode() const
{
    if (interrupted_)
        return 130;
    bool anyGaveUp = false;
    bool allProgrammed = true;
    for (const Device& device : devices_) {
        anyGaveUp = anyGaveUp || device.end.verdict == Verdict::GaveUp;
        allProgrammed = allProgrammed && device.end.verdict == Verdict::Programmed;
    }
    if (anyGaveUp)
        return 3;
    return allProgrammed ? 0 : 1;
}

}  // namespace modburn::cli

// Device threads and the fleet that starts, stops and sums them up.

#include "cli/fleet.h"

#include "link/qt/qtdevice.h"
#include "link/runcontrol.h"
#include "platform/qt/qtfile.h"

#include <QElapsedTimer>
#include <QMutexLocker>

#include <chrono>
#include <exception>
#include <map>

namespace modburn::cli {

namespace {

// The image bytes read and checked up front, served to the run in place of
// its file: what goes out is what was recorded, whatever the file holds by then.
class HeldImage : public IFileSystem {
public:
    HeldImage(QString path, QByteArray bytes) : path_(std::move(path)), bytes_(std::move(bytes)) {}

    QString CurrentDir() const override { return disk_.CurrentDir(); }
    QChar Separator() const override { return disk_.Separator(); }
    std::unique_ptr<IFile> OpenForRead(const QString& path) override
    {
        if (path != path_)
            return disk_.OpenForRead(path);
        return std::make_unique<Bytes>(bytes_);
    }

private:
    class Bytes : public IFile {
    public:
        explicit Bytes(QByteArray bytes) : bytes_(std::move(bytes)) {}
        std::optional<std::uint8_t> ReadByte() override
        {
            if (Eof())
                return std::nullopt;
            return static_cast<std::uint8_t>(bytes_[next_++]);
        }
        bool Eof() const override { return next_ >= bytes_.size(); }
        void Close() override {}

    private:
        QByteArray bytes_;
        qsizetype next_ = 0;
    };

    QtFileSystem disk_;
    QString path_;
    QByteArray bytes_;
};

Event EndWithError(const QString& device, const QString& message)
{
    Event end;
    end.kind = EventKind::End;
    end.device = device;
    end.verdict = Verdict::Error;
    end.message = message;
    return end;
}

}  // namespace

DeviceThread::DeviceThread(Target target, Job job, std::function<void(const Event&)> deliver)
    : target_(std::move(target)), job_(std::move(job)), deliver_(std::move(deliver))
{
}

void DeviceThread::RequestStop()
{
    QMutexLocker lock(&mutex_);
    stopAsked_ = true;
    // The control wakes the device's wait itself, whatever it is waiting for.
    if (control_)
        control_->Stop();
}

void DeviceThread::run()
{
    try {
        // Made here, so they belong to this thread and its event queue.
        QtDevice device;
        HeldImage files(job_.imagePath, job_.image);
        QElapsedTimer clock;
        clock.start();
        Session session({device.link(), device.control(), files, [&clock] { return clock.elapsed(); }}, target_,
                        deliver_);
        {
            QMutexLocker lock(&mutex_);
            control_ = &device.control();
            if (stopAsked_)
                control_->Stop();
        }
        session.Perform(job_);
        // The parts go with this scope: no stop may reach them from now on.
        QMutexLocker lock(&mutex_);
        control_ = nullptr;
    } catch (const std::exception& error) {
        {
            QMutexLocker lock(&mutex_);
            control_ = nullptr;
        }
        deliver_(EndWithError(target_.label,
                              QStringLiteral("internal error: %1").arg(QString::fromLocal8Bit(error.what()))));
    }
}

Fleet::Fleet(std::vector<Target> targets, Job job, Reporter& reporter, QObject* parent)
    : QObject(parent), job_(std::move(job)), reporter_(reporter)
{
    for (Target& target : targets) {
        devices_.emplace_back();
        devices_.back().target = std::move(target);
    }
    giveUp_.setSingleShot(true);
    giveUp_.setTimerType(Qt::PreciseTimer);
    connect(&giveUp_, &QTimer::timeout, this, [this] { StopRemaining(Verdict::GaveUp); });
}

Fleet::~Fleet()
{
    for (Device& device : devices_) {
        if (device.thread) {
            device.thread->RequestStop();
            device.thread->wait();
        }
    }
}

void Fleet::Start(std::optional<double> giveUpAfterS)
{
    clock_.start();
    giveUpAfterS_ = giveUpAfterS;
    QStringList labels;
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        auto deliver = [this, i](const Event& event) { Post(i, event); };
        devices_[i].thread = std::make_unique<DeviceThread>(devices_[i].target, job_, deliver);
        labels << devices_[i].target.label;
    }
    reporter_.Begin(labels);
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        devices_[i].thread->start();
        // A thread the system would not make never reports; its end is said here.
        if (!devices_[i].thread->isRunning() && !devices_[i].thread->isFinished())
            Post(i,
                 EndWithError(devices_[i].target.label, QStringLiteral("no thread could be started for this device")));
    }
    // The options keep it below a million seconds, well inside a timer's range.
    if (giveUpAfterS)
        giveUp_.start(std::chrono::ceil<std::chrono::milliseconds>(std::chrono::duration<double>(*giveUpAfterS)));
    if (devices_.empty())
        Complete();
}

void Fleet::StopRemaining(Verdict reason)
{
    stopReason_ = reason;
    for (Device& device : devices_) {
        if (!device.ended)
            device.thread->RequestStop();
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
    Device& device = devices_[index];
    if (device.ended)
        return;
    if (event.kind == EventKind::End) {
        // Only the fleet stops a job, so a stopped one ended for the fleet's reason.
        if (event.verdict == Verdict::Stopped && stopReason_ != Verdict::None) {
            event.verdict = stopReason_;
            if (stopReason_ == Verdict::GaveUp)
                event.message = QStringLiteral("not done within %1 s; %2").arg(*giveUpAfterS_).arg(event.message);
        }
        device.ended = true;
        device.end = event;
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
    Event summary;
    const int gaveUp = count[Verdict::GaveUp];
    const int interrupted = count[Verdict::Interrupted];
    const Verdict stopped = stopReason_ == Verdict::Interrupted ? Verdict::Interrupted
                            : gaveUp > 0                        ? Verdict::GaveUp
                                                                : Verdict::None;
    if (job_.kind == Job::Kind::Reach) {
        const int reachable = count[Verdict::Reachable];
        const int unreachable = static_cast<int>(devices_.size()) - reachable - gaveUp - interrupted;
        summary.verdict = stopped != Verdict::None ? stopped
                          : unreachable > 0        ? Verdict::Unreachable
                                                   : Verdict::Reachable;
        summary.message = QStringLiteral("%1 devices: %2 reachable, %3 unreachable, %4 gave up, %5 interrupted")
                              .arg(devices_.size())
                              .arg(reachable)
                              .arg(unreachable)
                              .arg(gaveUp)
                              .arg(interrupted);
    } else if (job_.kind != Job::Kind::Program && ends.size() == 1) {
        // A font operation is its device's end.
        summary = ends.front();
    } else {
        const int programmed = count[Verdict::Programmed];
        const int failed = count[Verdict::Failed];
        const int errors = static_cast<int>(devices_.size()) - programmed - failed - gaveUp - interrupted;
        summary.verdict = stopped != Verdict::None ? stopped
                          : errors > 0             ? Verdict::Error
                          : failed > 0             ? Verdict::Failed
                                                   : Verdict::Programmed;
        summary.message = QStringLiteral("%1 devices: %2 programmed, %3 failed, %4 error, %5 gave up, %6 interrupted")
                              .arg(devices_.size())
                              .arg(programmed)
                              .arg(failed)
                              .arg(errors)
                              .arg(gaveUp)
                              .arg(interrupted);
    }
    summary.kind = EventKind::Summary;
    summary.device.clear();
    summary.elapsedMs = clock_.elapsed();
    verdict_ = summary.verdict;
    reporter_.Finish(ends, summary);
    emit Finished();
}

}  // namespace modburn::cli

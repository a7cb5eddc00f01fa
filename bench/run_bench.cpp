// Figures for a whole programming run from the real window against the device
// simulator on loopback: how long each stretch takes and what CPU it costs.
// Runs offscreen unless a display platform is chosen.
//
// Usage: run_bench [extra simulator options, e.g. --realistic]

#include "cputime.h"
#include "launcher.h"
#include "ui/form1.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

using namespace modburn;
using bench::CpuMs;

namespace {

// The window, noting when each status text appears.
class TimedForm : public Form1 {
public:
    void SetStatusText(const QString& text) override
    {
        marks.push_back({clock.elapsed(), text});
        Form1::SetStatusText(text);
    }
    struct Mark {
        qint64 ms;
        QString text;
    };
    QElapsedTimer clock;
    std::vector<Mark> marks;
};

}  // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QFile image(dir.filePath(QStringLiteral("TavimorkAVRMODavr.bin")));
    if (!dir.isValid() || !image.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "no working folder\n");
        return 1;
    }
    image.write(QByteArray(8192, '\x5A'));
    image.close();
    QDir::setCurrent(dir.path());

    devsim::Launcher devsim;
    QString error;
    if (!devsim.Start(QStringLiteral(MODBURN_DEVSIM_PATH), app.arguments().mid(1), &error)) {
        std::fprintf(stderr, "simulator did not start: %s\n", qPrintable(error));
        return 1;
    }

    TimedForm form;
    form.findChild<QLineEdit*>(QStringLiteral("IPaddr"))->setText(QStringLiteral("127.0.0.1"));
    form.findChild<QLineEdit*>(QStringLiteral("Port"))->setText(QString::number(devsim.Port()));
    auto* run = form.findChild<QPushButton*>(QStringLiteral("Run"));

    for (int n = 1; n <= 2; ++n) {
        form.marks.clear();
        const double cpu0 = CpuMs();
        form.clock.start();
        run->click();  // returns when the run has ended
        const qint64 total = form.clock.elapsed();
        const double cpu = CpuMs() - cpu0;

        const auto at = [&form](const QString& prefix) -> qint64 {
            for (const auto& m : form.marks)
                if (m.text.contains(prefix))
                    return m.ms;
            return -1;
        };
        const qint64 enabled = at(QStringLiteral("烧录使能"));
        const qint64 erased = at(QStringLiteral("擦除成功"));
        const qint64 firstPage = at(QStringLiteral("烧录成功"));
        std::printf("run %d: %s\n", n, qPrintable(form.StatusText().section(QStringLiteral("\r\n"), 0, 0).trimmed()));
        std::printf("  link opening and burn-enable  %6lld ms  (settling wait: one Timer1 interval)\n",
                    static_cast<long long>(enabled));
        std::printf("  search, enable, erase         %6lld ms\n", static_cast<long long>(erased - enabled));
        std::printf("  128 pages and lock bytes      %6lld ms  (%.2f ms a page)\n",
                    static_cast<long long>(total - erased), (total - firstPage) / 127.0);
        std::printf("  whole run                     %6lld ms, CPU %.0f ms\n", static_cast<long long>(total), cpu);
    }
    return 0;
}

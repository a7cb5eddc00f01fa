// Figures for a font library download from the real window into the device
// simulator on loopback: page rate, the check, and the CPU it all costs.
// Runs offscreen unless a display platform is chosen.
//
// Usage: font_bench [pages (default 8192, 2 MB)] [extra simulator options, e.g. --realistic]

#include "cputime.h"
#include "launcher.h"
#include "ui/form1.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <numeric>

using namespace modburn;
using bench::CpuMs;

namespace {

// The window, noting when the download's captions change.
class TimedForm : public Form1 {
public:
    void SetOptionCaption(const QString& option, const QString& caption) override
    {
        if (caption.contains(QStringLiteral("下载完成")) && sentAll < 0)
            sentAll = clock.elapsed();
        if (caption.contains(QStringLiteral("校验")))
            checked = clock.elapsed();
        Form1::SetOptionCaption(option, caption);
    }
    QElapsedTimer clock;
    qint64 sentAll = -1;
    qint64 checked = -1;
};

}  // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    bool ok = true;
    const int pages = !args.isEmpty() && !args.first().startsWith(u'-') ? args.takeFirst().toInt(&ok) : 8192;
    if (!ok || pages < 1 || pages > 32768) {
        std::fprintf(stderr, "pages: 1..32768\n");
        return 2;
    }

    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("Hzk24s.bin")));
    if (!dir.isValid() || !file.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "no working folder\n");
        return 1;
    }
    QByteArray bytes(pages * 256, '\0');
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 31 + i / 256);
    file.write(bytes);
    file.close();
    QDir::setCurrent(dir.path());
    const double sum = std::accumulate(bytes.begin(), bytes.end(), 0.0,
                                       [](double s, char b) { return s + static_cast<std::uint8_t>(b); });

    devsim::Launcher devsim;
    QString error;
    if (!devsim.Start(QStringLiteral(MODBURN_DEVSIM_PATH), args, &error)) {
        std::fprintf(stderr, "simulator did not start: %s\n", qPrintable(error));
        return 1;
    }

    TimedForm form;
    form.link().Open(QStringLiteral("127.0.0.1"), QString::number(devsim.Port()));

    const std::int16_t first = 0;
    const auto last = static_cast<std::int16_t>(pages - 1);
    double cpu0 = CpuMs();
    form.clock.start();
    const bool downloaded = form.DownChar(QStringLiteral("Hzk24s"), first, last);
    const qint64 total = form.clock.elapsed();
    const double cpu = CpuMs() - cpu0;

    std::printf("DownChar of %d pages (%d KB): %s\n", pages, pages / 4, downloaded ? "verified" : "FAILED");
    std::printf("  pages              %7lld ms  (%.3f ms a page, %.0f KB/s)\n", static_cast<long long>(form.sentAll),
                static_cast<double>(form.sentAll) / pages, pages / 4.0 / (form.sentAll / 1000.0));
    std::printf("  download check     %7lld ms\n", static_cast<long long>(form.checked - form.sentAll));
    std::printf("  closing wait       %7lld ms  (the reply wait after the check, its outcome ignored)\n",
                static_cast<long long>(total - form.checked));
    std::printf("  whole call         %7lld ms, CPU %.0f ms\n", static_cast<long long>(total), cpu);

    cpu0 = CpuMs();
    form.clock.start();
    const bool checked = form.CheckChar(sum, first, last);
    std::printf("CheckChar of the range: %s in %lld ms, CPU %.1f ms\n", checked ? "matches" : "MISMATCH",
                static_cast<long long>(form.clock.elapsed()), CpuMs() - cpu0);
    return downloaded && checked ? 0 : 1;
}

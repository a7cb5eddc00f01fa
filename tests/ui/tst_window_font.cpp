// The window's font library operations over a real socket to the simulator
// on loopback: a download of a few hundred kilobytes and checks of it.

#include "launcher.h"
#include "platform/qt/progressbarwidget.h"
#include "ui/form1.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <numeric>

using namespace modburn;

namespace {

constexpr std::int16_t FirstPage = 100;
constexpr std::int16_t LastPage = FirstPage + 1199;  // 1200 pages of 256 bytes
constexpr int FileSize = 1200 * 256 - 77;            // the last page is padded

// The sum of the library bytes that go to the first `pages` pages.
double Sum(const QByteArray& bytes, int pages = 1200)
{
    const auto end = bytes.begin() + std::min<qsizetype>(bytes.size(), pages * 256);
    return std::accumulate(bytes.begin(), end, 0.0,
                           [](double sum, char b) { return sum + static_cast<std::uint8_t>(b); });
}

}  // namespace

class WindowFontTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void downloadAndCheck();
    void corruptedPageFailsTheChecks();

private:
    // Writes a random library file and returns its bytes.
    QByteArray WriteLibrary(const QString& name);
    // Starts the simulator and connects the window's link to it.
    void Connect(Form1& form, const QStringList& options);
    QString Caption(Form1& form, const char* option) const
    {
        return form.findChild<QRadioButton*>(QString::fromLatin1(option))->text();
    }

    QTemporaryDir dir_;
    QString oldCurrent_;
    devsim::Launcher devsim_;
};

void WindowFontTest::init()
{
    QVERIFY(dir_.isValid());
    oldCurrent_ = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir_.path()));
}

void WindowFontTest::cleanup()
{
    devsim_.Stop();
    QDir::setCurrent(oldCurrent_);
}

QByteArray WindowFontTest::WriteLibrary(const QString& name)
{
    QByteArray bytes(FileSize, '\0');
    for (char& b : bytes)
        b = static_cast<char>(QRandomGenerator::global()->bounded(256));
    QFile file(dir_.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return {};
    return bytes;
}

void WindowFontTest::Connect(Form1& form, const QStringList& options)
{
    QString error;
    QVERIFY2(devsim_.Start(QStringLiteral(MODBURN_DEVSIM_PATH), options, &error), qPrintable(error));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.link().Open(QStringLiteral("127.0.0.1"), QString::number(devsim_.Port()));
}

void WindowFontTest::downloadAndCheck()
{
    const QByteArray bytes = WriteLibrary(QStringLiteral("Hzk24s.bin"));
    QCOMPARE(bytes.size(), FileSize);
    const double sum = Sum(bytes);
    Form1 form;
    Connect(form, {});
    auto* run = form.findChild<QPushButton*>(QStringLiteral("Run"));

    // RUN during the download: greyed, and a click that comes anyway does nothing.
    bool runGreyed = false;
    bool clicked = false;
    QTimer::singleShot(200, this, [&] {
        clicked = true;
        runGreyed = !run->isEnabled();
        QTest::mouseClick(run, Qt::LeftButton);
    });
    QVERIFY(form.DownChar(QStringLiteral("Hzk24s"), FirstPage, LastPage));
    QVERIFY(clicked);
    QVERIFY(runGreyed);
    QVERIFY(run->isEnabled());
    QCOMPARE(form.StatusText(), QString());
    QCOMPARE(Caption(form, "HZ24S"), QStringLiteral("HZ24S     下载完成   校验成功"));
    QCOMPARE(Caption(form, "HZ12"), QStringLiteral("HZ12"));
    QCOMPARE(form.findChild<ProgressBarWidget*>(QStringLiteral("HZProgressBar"))->Value(), 100.0f);

    QVERIFY(form.CheckChar(sum, FirstPage, LastPage));
    QVERIFY(!form.CheckChar(sum + 1, FirstPage, LastPage));
    QVERIFY(!form.CheckChar(sum, FirstPage, LastPage - 1));
}

void WindowFontTest::corruptedPageFailsTheChecks()
{
    const QByteArray bytes = WriteLibrary(QStringLiteral("Hzk16s.bin"));
    QCOMPARE(bytes.size(), FileSize);
    Form1 form;
    Connect(form, {QStringLiteral("--corrupt-font-page"), QString::number(FirstPage + 600)});

    QVERIFY(!form.DownChar(QStringLiteral("Hzk16s"), FirstPage, LastPage));
    QCOMPARE(Caption(form, "HZ16"), QStringLiteral("HZ16S    下载完成   校验失败"));
    QVERIFY(!form.CheckChar(Sum(bytes), FirstPage, LastPage));
    // The pages before the corrupted one hold what was sent.
    QVERIFY(form.CheckChar(Sum(bytes, 600), FirstPage, FirstPage + 599));
}

QTEST_MAIN(WindowFontTest)
#include "tst_window_font.moc"

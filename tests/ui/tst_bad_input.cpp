// Bad input into the real window against the simulator on loopback, where
// only the real parts show what happens: an address the real socket cannot
// connect to (IPv6 loopback, where nothing listens). The run ends as
// designed, sends nothing, and leaves the window ready for a good run in the
// same window. The rest of the bad inputs are pinned faster, on the fake
// platform or on the real Qt adapters alone.

#include "launcher.h"
#include "platform/qt/progressbarwidget.h"
#include "platform/qt/statusbarwidget.h"
#include "run/windowview.h"
#include "ui/form1.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace modburn;

namespace {

const QString Good = QStringLiteral("       模块编程完毕!\r\n  Lock1:AF  Lock2:DC  Lock3:CC");
const QString Blank = QStringLiteral(" ");
const QString ImageName = QStringLiteral("TavimorkAVRMODavr.bin");

// A run that opens the link waits for the settling and, failing, for the
// connect time-out; a good one then sends the image.
constexpr int RunBoundMs = 15000;
// Frames still on their way over loopback arrive well within this; frames a
// finished run sent are logged already and only need reading.
constexpr int InFlightMs = 150;
constexpr int LoggedMs = 20;

QByteArray RandomBytes(int size)
{
    QByteArray bytes(size, '\0');
    for (char& b : bytes)
        b = static_cast<char>(QRandomGenerator::global()->bounded(256));
    return bytes;
}

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

struct RunResult {
    QString status;
    run::Outcome outcome;
    bool timedOut = false;  // the watchdog had to close the window
};

}  // namespace

class BadInputTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void failedConnectThenTheNextRunWorks();

private:
    // A window of its own for every test: its first settling wait is 1 s.
    std::unique_ptr<Form1> NewWindow();
    // Runs as a click on RUN does with these texts in the boxes, keeping the
    // outcome, which the window only shows; a run still going after
    // RunBoundMs is ended by closing the window.
    RunResult RunOnce(Form1& form, const QString& address, const QString& port);
    // The frames the simulator has received since the last call, one line
    // each, after waiting `ms` for more.
    QStringList TakeFrames(int ms);
    void VerifyAlive(Form1& form);
    // A normal run with good texts and the good image, in the same window.
    void VerifyNextRunWorks(Form1& form);
    void VerifyFlash(const QByteArray& image);

    QTemporaryDir dir_;
    QString oldCurrent_;
    QString flashOut_;
    QByteArray image_;
    devsim::Launcher devsim_;
    QString port_;
};

void BadInputTest::initTestCase()
{
    QVERIFY(dir_.isValid());
    oldCurrent_ = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir_.path()));
    flashOut_ = dir_.filePath(QStringLiteral("flash.bin"));
    // The simulator's transcript tells what each run sent.
    QString error;
    QVERIFY2(devsim_.Start(QStringLiteral(MODBURN_DEVSIM_PATH),
                           {QStringLiteral("--transcript"), QStringLiteral("--flash-out"), flashOut_}, &error),
             qPrintable(error));
    port_ = QString::number(devsim_.Port());
    image_ = RandomBytes(8192);
}

void BadInputTest::init()
{
    QFile::remove(flashOut_);
    QVERIFY(WriteFile(ImageName, image_));
    TakeFrames(LoggedMs);
}

void BadInputTest::cleanupTestCase()
{
    devsim_.Stop();
    QDir::setCurrent(oldCurrent_);
}

std::unique_ptr<Form1> BadInputTest::NewWindow()
{
    auto form = std::make_unique<Form1>();
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get()))
        return nullptr;
    return form;
}

RunResult BadInputTest::RunOnce(Form1& form, const QString& address, const QString& port)
{
    RunResult result;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    connect(&watchdog, &QTimer::timeout, this, [&] {
        if (form.programmingRun().Active()) {
            result.timedOut = true;
            form.close();
        }
    });
    watchdog.start(RunBoundMs);
    // The window's kind of view, on the window's own parts.
    run::WindowView view{form, *form.findChild<StatusBarWidget*>(QStringLiteral("StatusBar1")),
                         *form.findChild<ProgressBarWidget*>(QStringLiteral("PriProgressBar")), form.control()};
    result.outcome = form.programmingRun().Run({address, port, QDir::current().filePath(ImageName)}, view);
    watchdog.stop();
    result.status = form.StatusText();
    return result;
}

QStringList BadInputTest::TakeFrames(int ms)
{
    QTest::qWait(ms);
    QStringList frames;
    for (const QString& line : QString::fromUtf8(devsim_.Process().readAllStandardOutput()).split(u'\n')) {
        if (!line.trimmed().isEmpty())
            frames << line;
    }
    return frames;
}

void BadInputTest::VerifyAlive(Form1& form)
{
    QVERIFY(form.isVisible());
    QVERIFY(!form.programmingRun().Active());
    QVERIFY(form.findChild<QPushButton*>(QStringLiteral("Run"))->isEnabled());
}

void BadInputTest::VerifyNextRunWorks(Form1& form)
{
    QFile::remove(flashOut_);
    const RunResult next = RunOnce(form, QStringLiteral("127.0.0.1"), port_);
    QVERIFY(!next.timedOut);
    QCOMPARE(next.status, Good);
    QCOMPARE(next.outcome.ending, run::Ending::Programmed);
    // The transcript shows a good run's pages, so an empty one means nothing went.
    const QStringList frames = TakeFrames(LoggedMs);
    QVERIFY2(frames.filter(QStringLiteral("<- page ")).size() >= 128, qPrintable(frames.join(u'\n')));
    VerifyFlash(image_);
    VerifyAlive(form);
}

void BadInputTest::VerifyFlash(const QByteArray& image)
{
    QFile flash(flashOut_);
    QVERIFY(flash.open(QIODevice::ReadOnly));
    QByteArray expected = image;
    expected.resize(8192, '\0');  // the image buffer starts zeroed
    QVERIFY(flash.readAll() == expected);
}

void BadInputTest::failedConnectThenTheNextRunWorks()
{
    auto form = NewWindow();
    QVERIFY(form);
    // The simulator listens on 127.0.0.1 only. The connection is refused (or
    // IPv6 is not there at all) before the connect wait ends at the next
    // Timer4 tick: the first send fails.
    const RunResult result = RunOnce(*form, QStringLiteral("::1"), port_);
    QVERIFY(!result.timedOut);
    VerifyAlive(*form);
    QCOMPARE(result.status, Blank);
    QCOMPARE(result.outcome.ending, run::Ending::Unreachable);
    QCOMPARE(TakeFrames(InFlightMs), QStringList());
    // The next run must close the socket the failed one left and connect anew.
    VerifyNextRunWorks(*form);
}

QTEST_MAIN(BadInputTest)
#include "tst_bad_input.moc"

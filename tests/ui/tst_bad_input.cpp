// Bad input into the real window against the simulator on loopback: the
// address and port texts, the image file and the font arguments. Every row
// ends as designed, sends nothing where nothing may go, and leaves the window
// ready for a good run.

#include "launcher.h"
#include "platform/errors.h"
#include "platform/qt/statusbarwidget.h"
#include "ui/form1.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <sys/stat.h>

#include <algorithm>
#include <limits>
#include <memory>

using namespace modburn;

enum class Image { Missing, Empty, Folder, Unreadable, Fifo, Full, OneTooLong, Huge };
enum class FontCall { Download, Check };
Q_DECLARE_METATYPE(Image)
Q_DECLARE_METATYPE(FontCall)

namespace {

const QString Good = QStringLiteral("       模块编程完毕!\r\n  Lock1:AF  Lock2:DC  Lock3:CC");
const QString Blank = QStringLiteral(" ");
const QString ImageName = QStringLiteral("TavimorkAVRMODavr.bin");
const QString LibraryName = QStringLiteral("Hzk16s");
constexpr int LibraryBytes = 1000;  // four font pages, the last one padded

// A run that fails before the link opens takes no settling wait; one that
// opens the link waits for the settling and, failing, for the connect time-out.
constexpr int BeforeOpenMs = 700;
constexpr int RunBoundMs = 15000;
// Frames still on their way over loopback arrive well within this; frames a
// finished run sent are logged already and only need reading.
constexpr int InFlightMs = 150;
constexpr int LoggedMs = 20;

qint64 ResidentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

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

// A host name of `length` characters under the reserved .invalid domain, in
// labels of at most 63 characters so only its length is wrong.
QString LongInvalidName(int length)
{
    const QString tail = QStringLiteral(".invalid");
    QString name;
    while (name.size() < length - tail.size()) {
        if (!name.isEmpty())
            name += u'.';
        name += QString(std::min<qsizetype>(63, length - tail.size() - name.size()), u'a');
    }
    return name.left(length - tail.size()) + tail;
}

struct RunResult {
    QString status;
    run::Outcome outcome;
    qint64 ms = 0;
    bool timedOut = false;  // the watchdog had to close the window
};

}  // namespace

class BadInputTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void portText_data();
    void portText();
    void addressText_data();
    void addressText();
    void imageFile_data();
    void imageFile();
    void fontArguments_data();
    void fontArguments();

private:
    // A window of its own for every row: its first settling wait is 1 s.
    std::unique_ptr<Form1> NewWindow();
    void SetTexts(Form1& form, const QString& address, const QString& port);
    // Clicks RUN; a run still going after `boundMs` is ended by closing the window.
    RunResult ClickRun(Form1& form, int boundMs = RunBoundMs);
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
    // One simulator serves every row; its transcript tells what each row sent.
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

void BadInputTest::cleanup()
{
    // Whatever a row left in place of the image goes.
    QFile(ImageName).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    QDir().rmdir(ImageName);
    QFile::remove(ImageName);
    QFile::remove(LibraryName + QStringLiteral(".bin"));
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

void BadInputTest::SetTexts(Form1& form, const QString& address, const QString& port)
{
    form.findChild<QLineEdit*>(QStringLiteral("IPaddr"))->setText(address);
    form.findChild<QLineEdit*>(QStringLiteral("Port"))->setText(port);
}

RunResult BadInputTest::ClickRun(Form1& form, int boundMs)
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
    QElapsedTimer clock;
    clock.start();
    watchdog.start(boundMs);
    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Run")), Qt::LeftButton);
    watchdog.stop();
    result.ms = clock.elapsed();
    result.status = form.StatusText();
    result.outcome = form.programmingRun().LastOutcome();
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
    QFile(ImageName).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    QDir().rmdir(ImageName);
    QFile::remove(ImageName);  // a FIFO left there would block the write
    QVERIFY(WriteFile(ImageName, image_));
    QFile::remove(flashOut_);
    SetTexts(form, QStringLiteral("127.0.0.1"), port_);
    const RunResult next = ClickRun(form);
    QVERIFY(!next.timedOut);
    QCOMPARE(next.status, Good);
    QCOMPARE(next.outcome.verdict, run::Verdict::Programmed);
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

void BadInputTest::portText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("error");  // err::None: the run programs the module

    const int port = devsim_.Port();
    // The rules themselves are the link's (tst_link); here the window's texts
    // reach them, and a good port still programs.
    QTest::newRow("empty") << QString() << int{err::TypeMismatch};
    QTest::newRow("blanks around the number") << QStringLiteral("  %1  ").arg(port) << int{err::None};
    QTest::newRow("10000 characters of zeros and the port")
        << QString(10000 - QString::number(port).size(), u'0') + QString::number(port) << int{err::None};
}

void BadInputTest::portText()
{
    QFETCH(QString, text);
    QFETCH(int, error);
    auto form = NewWindow();
    QVERIFY(form);
    SetTexts(*form, QStringLiteral("127.0.0.1"), text);

    const RunResult result = ClickRun(*form);
    QVERIFY(!result.timedOut);
    VerifyAlive(*form);
    if (error == err::None) {
        QCOMPARE(result.status, Good);
        VerifyFlash(image_);
        return;  // a run that programmed is its own proof of the next one
    }
    QCOMPARE(result.status, Blank);
    QCOMPARE(result.outcome.verdict, run::Verdict::Error);
    QCOMPARE(int{result.outcome.error}, error);
    QVERIFY2(result.ms < BeforeOpenMs, qPrintable(QStringLiteral("%1 ms").arg(result.ms)));
    QCOMPARE(TakeFrames(InFlightMs), QStringList());
    VerifyNextRunWorks(*form);
}

void BadInputTest::addressText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("error");

    // The simulator listens on 127.0.0.1 only, so nothing answers on ::1.
    QTest::newRow("empty") << QString() << int{err::SocketBadState};
    QTest::newRow("blanks around loopback") << QStringLiteral("  127.0.0.1  ") << int{err::None};
    QTest::newRow("unresolvable name") << QStringLiteral("nosuch.invalid") << int{err::SocketBadState};
    QTest::newRow("IPv6 loopback") << QStringLiteral("::1") << int{err::SocketBadState};
    QTest::newRow("malformed IPv6") << QStringLiteral(":::1") << int{err::SocketBadState};
    QTest::newRow("10000 characters") << LongInvalidName(10000) << int{err::SocketBadState};
}

void BadInputTest::addressText()
{
    QFETCH(QString, text);
    QFETCH(int, error);
    auto form = NewWindow();
    QVERIFY(form);
    SetTexts(*form, text, port_);

    // A link that did not come up fails at the first send, after the connect
    // wait has run to the next Timer4 tick.
    const RunResult result = ClickRun(*form);
    QVERIFY(!result.timedOut);
    VerifyAlive(*form);
    if (error == err::None) {
        QCOMPARE(result.status, Good);
        VerifyFlash(image_);
        return;
    }
    QCOMPARE(result.status, Blank);
    QCOMPARE(result.outcome.verdict, run::Verdict::Error);
    QCOMPARE(int{result.outcome.error}, error);
    QCOMPARE(TakeFrames(InFlightMs), QStringList());
    VerifyNextRunWorks(*form);
}

void BadInputTest::imageFile_data()
{
    QTest::addColumn<Image>("image");
    QTest::addColumn<int>("error");

    QTest::newRow("missing") << Image::Missing << int{err::FileNotFound};
    QTest::newRow("empty, programs zeros") << Image::Empty << int{err::None};
    QTest::newRow("a folder of that name") << Image::Folder << int{err::FileAccess};
    QTest::newRow("unreadable") << Image::Unreadable << int{err::FileAccess};
    QTest::newRow("a FIFO with no writer, never waited on") << Image::Fifo << int{err::FileAccess};
    QTest::newRow("8192 bytes") << Image::Full << int{err::None};
    QTest::newRow("8193 bytes") << Image::OneTooLong << int{err::SubscriptOutOfRange};
    QTest::newRow("50 MB, never read whole") << Image::Huge << int{err::SubscriptOutOfRange};
}

void BadInputTest::imageFile()
{
    QFETCH(Image, image);
    QFETCH(int, error);
    QFile::remove(ImageName);
    QByteArray bytes;
    switch (image) {
    case Image::Missing:
        break;
    case Image::Empty:
        QVERIFY(WriteFile(ImageName, {}));
        break;
    case Image::Folder:
        QVERIFY(QDir().mkdir(ImageName));
        break;
    case Image::Unreadable: {
        QVERIFY(WriteFile(ImageName, image_));
        QVERIFY(QFile(ImageName).setPermissions(QFileDevice::Permissions{}));
        QFile probe(ImageName);
        if (probe.open(QIODevice::ReadOnly))
            QSKIP("permissions do not stop reads here (running as root or with CAP_DAC_OVERRIDE)");
        break;
    }
    case Image::Fifo:
        QCOMPARE(::mkfifo(QFile::encodeName(ImageName).constData(), 0600), 0);
        break;
    case Image::Full:
        bytes = RandomBytes(8192);
        QVERIFY(WriteFile(ImageName, bytes));
        break;
    case Image::OneTooLong:
        QVERIFY(WriteFile(ImageName, RandomBytes(8193)));
        break;
    case Image::Huge: {
        QFile file(ImageName);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(qint64{50} << 20));  // sparse: costs no disk
        break;
    }
    }
    auto form = NewWindow();
    QVERIFY(form);
    SetTexts(*form, QStringLiteral("127.0.0.1"), port_);

    const qint64 rssBefore = ResidentKb();
    const RunResult result = ClickRun(*form);
    const qint64 rssGrowth = ResidentKb() - rssBefore;
    QVERIFY(!result.timedOut);
    VerifyAlive(*form);
    if (error == err::None) {
        QCOMPARE(result.status, Good);
        VerifyFlash(bytes);
        return;
    }
    QCOMPARE(result.status, Blank);
    QCOMPARE(result.outcome.verdict, run::Verdict::Error);
    QCOMPARE(int{result.outcome.error}, error);
    QVERIFY2(result.ms < BeforeOpenMs, qPrintable(QStringLiteral("%1 ms").arg(result.ms)));
    QVERIFY2(rssGrowth < 16 * 1024, qPrintable(QStringLiteral("resident memory grew by %1 kB").arg(rssGrowth)));
    QCOMPARE(TakeFrames(InFlightMs), QStringList());
    VerifyNextRunWorks(*form);
}

void BadInputTest::fontArguments_data()
{
    QTest::addColumn<FontCall>("call");
    QTest::addColumn<bool>("libraryPresent");
    QTest::addColumn<int>("sPage");
    QTest::addColumn<int>("ePage");
    QTest::addColumn<double>("checksum");
    QTest::addColumn<int>("error");  // err::None: the call returns `result`
    QTest::addColumn<bool>("result");
    QTest::addColumn<int>("pageFrames");   // font page frames the simulator receives
    QTest::addColumn<int>("checkFrames");  // check frames it receives

    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double inf = std::numeric_limits<double>::infinity();
    // Page -3 goes out as FFFD, beyond the device's pages: it answers ER.
    QTest::newRow("download, negative pages")
        << FontCall::Download << true << -3 << -1 << 0.0 << int{err::None} << false << 1 << 0;
    // No page to send; the check of the empty range sums to nothing on both sides.
    QTest::newRow("download, reversed pages")
        << FontCall::Download << true << 10 << 5 << 0.0 << int{err::None} << true << 0 << 1;
    QTest::newRow("download, span over 32768 pages")
        << FontCall::Download << true << -20000 << 20000 << 0.0 << int{err::Overflow} << false << 0 << 0;
    QTest::newRow("download, library file missing")
        << FontCall::Download << false << 0 << 3 << 0.0 << int{err::FileNotFound} << false << 0 << 0;
    QTest::newRow("check, NaN checksum") << FontCall::Check << true << 0 << 3 << nan << int{err::Overflow} << false << 0
                                         << 0;
    QTest::newRow("check, infinite checksum")
        << FontCall::Check << true << 0 << 3 << inf << int{err::Overflow} << false << 0 << 0;
    QTest::newRow("check, minus infinite checksum")
        << FontCall::Check << true << 0 << 3 << -inf << int{err::Overflow} << false << 0 << 0;
    QTest::newRow("check, checksum 2^31")
        << FontCall::Check << true << 0 << 3 << 2147483648.0 << int{err::Overflow} << false << 0 << 0;
}

void BadInputTest::fontArguments()
{
    QFETCH(FontCall, call);
    QFETCH(bool, libraryPresent);
    QFETCH(int, sPage);
    QFETCH(int, ePage);
    QFETCH(double, checksum);
    QFETCH(int, error);
    QFETCH(bool, result);
    QFETCH(int, pageFrames);
    QFETCH(int, checkFrames);
    if (libraryPresent)
        QVERIFY(WriteFile(LibraryName + QStringLiteral(".bin"), RandomBytes(LibraryBytes)));
    auto form = NewWindow();
    QVERIFY(form);
    form->link().Open(QStringLiteral("127.0.0.1"), port_);
    TakeFrames(LoggedMs);

    const auto first = static_cast<std::int16_t>(sPage);
    const auto last = static_cast<std::int16_t>(ePage);
    int raised = err::None;
    bool returned = false;
    try {
        returned = call == FontCall::Download ? form->DownChar(LibraryName, first, last)
                                              : form->CheckChar(checksum, first, last);
    } catch (const RuntimeError& e) {
        raised = e.Number();
    }
    QCOMPARE(raised, error);
    if (error == err::None)
        QCOMPARE(returned, result);
    const QStringList frames = TakeFrames(InFlightMs);
    QCOMPARE(frames.filter(QStringLiteral("font page")).size(), pageFrames);
    QCOMPARE(frames.filter(QStringLiteral("check")).size(), checkFrames);
    QCOMPARE(frames.size(), pageFrames + checkFrames);
    if (pageFrames > 0 && !result) {
        const QString panel =
            form->findChild<StatusBarWidget*>(QStringLiteral("StatusBar1"))->PanelText(IStatusBar::FirstPanel);
        QVERIFY2(panel.endsWith(QStringLiteral(" 通讯错误")), qPrintable(panel));
    }
    VerifyAlive(*form);
    VerifyNextRunWorks(*form);
}

QTEST_MAIN(BadInputTest)
#include "tst_bad_input.moc"

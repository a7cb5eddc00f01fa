// The real window, a real socket and the simulator on loopback: a whole run as
// the operator makes it, and Exit in the middle of one.

#include "launcher.h"
#include "ui/form1.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace modburn;

namespace {

const QString Good = QStringLiteral("       模块编程完毕!\r\n  Lock1:AF  Lock2:DC  Lock3:CC");
const QString Searching = QStringLiteral("        系统查找设备!");

QByteArray RandomImage(int size)
{
    QByteArray bytes(size, '\0');
    for (char& b : bytes)
        b = static_cast<char>(QRandomGenerator::global()->bounded(256));
    return bytes;
}

}  // namespace

class WindowRunTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void runProgramsTheSimulatorWithTheImage();
    void exitDuringTheSearchEndsTheProgram();
    void lateReplyToOnePageStillEndsProgrammed();

private:
    // Puts the address of the started simulator into the window's boxes.
    void PointAtSimulator(Form1& form);
    // A random image of `size` bytes in the working folder, as the run reads it.
    QByteArray WriteImage(int size);
    // Starts the simulator with `options`, saving its flash to flashOut().
    void StartSimulator(QStringList options);
    QString FlashOut() const { return dir_.filePath(QStringLiteral("flash.bin")); }
    bool FlashHolds(const QByteArray& image) const;

    QTemporaryDir dir_;
    QString oldCurrent_;
    devsim::Launcher devsim_;
};

void WindowRunTest::init()
{
    QVERIFY(dir_.isValid());
    oldCurrent_ = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir_.path()));
}

void WindowRunTest::cleanup()
{
    devsim_.Stop();
    QDir::setCurrent(oldCurrent_);
}

void WindowRunTest::PointAtSimulator(Form1& form)
{
    form.findChild<QLineEdit*>(QStringLiteral("IPaddr"))->setText(QStringLiteral("127.0.0.1"));
    form.findChild<QLineEdit*>(QStringLiteral("Port"))->setText(QString::number(devsim_.Port()));
}

QByteArray WindowRunTest::WriteImage(int size)
{
    const QByteArray image = RandomImage(size);
    QFile file(dir_.filePath(QStringLiteral("TavimorkAVRMODavr.bin")));
    if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size())
        return {};
    return image;
}

void WindowRunTest::StartSimulator(QStringList options)
{
    options << QStringLiteral("--flash-out") << FlashOut();
    QString error;
    QVERIFY2(devsim_.Start(QStringLiteral(MODBURN_DEVSIM_PATH), options, &error), qPrintable(error));
}

bool WindowRunTest::FlashHolds(const QByteArray& image) const
{
    QFile flash(FlashOut());
    return flash.open(QIODevice::ReadOnly) && flash.readAll() == image;
}

void WindowRunTest::runProgramsTheSimulatorWithTheImage()
{
    const QByteArray image = WriteImage(8192);
    QCOMPARE(image.size(), 8192);
    StartSimulator({});

    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    PointAtSimulator(form);
    auto* run = form.findChild<QPushButton*>(QStringLiteral("Run"));

    // RUN is greyed out while the run is active.
    bool greyedDuringRun = false;
    QTimer probe;
    connect(&probe, &QTimer::timeout, this, [&] { greyedDuringRun = greyedDuringRun || !run->isEnabled(); });
    probe.start(50);

    QTest::mouseClick(run, Qt::LeftButton);  // returns when the run has ended
    probe.stop();

    QCOMPARE(form.StatusText(), Good);
    QVERIFY(greyedDuringRun);
    QVERIFY(run->isEnabled());
    QVERIFY(FlashHolds(image));

    // A second run closes the link the first one left open and starts again;
    // its settling wait lasts the last reply wait's 5000 ms.
    QTest::mouseClick(run, Qt::LeftButton);
    QCOMPARE(form.StatusText(), Good);
}

void WindowRunTest::exitDuringTheSearchEndsTheProgram()
{
    QCOMPARE(WriteImage(100).size(), 100);
    QString error;
    QVERIFY2(devsim_.Start(QStringLiteral(MODBURN_DEVSIM_PATH),
                           {QStringLiteral("--silent-search"), QStringLiteral("1000000")}, &error),
             qPrintable(error));

    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    PointAtSimulator(form);

    // As in the program itself: the event loop runs until the window closes.
    QElapsedTimer sinceExit;
    bool searched = false;
    QTimer probe;
    connect(&probe, &QTimer::timeout, this, [&] {
        if (searched || form.StatusText() != Searching)
            return;
        searched = true;
        sinceExit.start();
        QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton);
    });
    probe.start(20);
    bool gaveUp = false;
    QTimer::singleShot(0, this,
                       [&] { QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Run")), Qt::LeftButton); });
    QTimer::singleShot(60000, this, [&] {
        gaveUp = true;
        QApplication::exit(1);
    });
    const int code = QApplication::exec();

    QVERIFY(searched);
    QVERIFY(!gaveUp);
    QCOMPARE(code, 0);
    QVERIFY(!form.isVisible());
    QVERIFY(!form.programmingRun().Active());
    QCOMPARE(form.StatusText(), Searching);
    qInfo("event loop ended %lld ms after Exit", static_cast<long long>(sinceExit.elapsed()));
}

void WindowRunTest::lateReplyToOnePageStillEndsProgrammed()
{
    // Page 7's first frame is answered 3 ms after its time-out, when the page
    // has gone again; the device takes 3 ms a page. Judged one reply behind,
    // every later page would be misread and the lock bytes with them.
    const QByteArray image = WriteImage(8192);
    QCOMPARE(image.size(), 8192);
    StartSimulator({QStringLiteral("--late-page-reply"), QStringLiteral("7:5003"), QStringLiteral("--page-write-ms"),
                    QStringLiteral("3")});

    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    PointAtSimulator(form);
    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Run")), Qt::LeftButton);

    QCOMPARE(form.StatusText(), Good);
    QVERIFY(FlashHolds(image));
}

QTEST_MAIN(WindowRunTest)
#include "tst_window_run.moc"

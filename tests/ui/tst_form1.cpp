// The main window with real Qt parts: its controls and defaults, the serial
// setting panel, Exit and closing, and the status text the run relies on.

#include "errorof.h"
#include "platform/qt/progressbarwidget.h"
#include "platform/qt/qtsocket.h"
#include "platform/qt/qttimer.h"
#include "platform/qt/statusbarwidget.h"
#include "ui/form1.h"
#include "ui/statustextbox.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <limits>

using namespace modburn;

namespace {

template <typename T = QWidget>
T* Find(const Form1& form, const QString& name)
{
    return form.findChild<T*>(name);
}

bool ShowAndWait(QWidget& window)
{
    window.show();
    return QTest::qWaitForWindowExposed(&window);
}

// Lists as designed, read best as written.
// clang-format off
const QStringList HiddenGroups{"HarWareCheck", "HardProgressBar", "Frame2", "U17", "U23", "U14", "U21", "Mega8",
                               "HzCheck", "DownHZCheck", "HZProgressBar", "Frame3", "HZ12", "HZ16", "HZ24S", "HZ24ST"};

// Tab order as designed, first to last.
const QStringList TabOrder{"Frame1", "StatusBar1", "Run", "Frame2", "HarWareCheck", "DownHZCheck", "Frame3",
                           "PrintDevCheck", "U17", "U23", "U14", "HZ12", "HZ24S", "HZ16", "HZ24ST",
                           "HardProgressBar", "HZProgressBar", "PriProgressBar", "priDownText", "Mega8",
                           "Command1", "HzCheck", "U21", "IPaddr", "Port"};
// clang-format on

}  // namespace

class Form1Test : public QObject {
    Q_OBJECT
private slots:
    void loadStartsTheLinkTimers();
    void closingTheWindowEndsARunningWait();
    void loadSetsTheControlDefaults();
    void everyControlCarriesItsName();
    void buttonsAndTextBoxesLieInFront();
    void controlsSitWhereDesigned_data();
    void controlsSitWhereDesigned();
    void panelClicksCycleTheSettings();
    void panelClickOnOtherTextRestartsAtComm1_data();
    void panelClickOnOtherTextRestartsAtComm1();
    void closingClosesThePort_data();
    void closingClosesThePort();
    void hiddenGroupsNeverShow();
    void tabOrderFollowsTheDesign();
    void runWindowKeepsTextAndSetsControls();
    void fontOperationErrorLeavesRunEnabled_data();
    void fontOperationErrorLeavesRunEnabled();
};

void Form1Test::loadStartsTheLinkTimers()
{
    Form1 form;
    QCOMPARE(form.control().RunEnabled(), true);
    QVERIFY(form.link().Timer1().Enabled());
    QCOMPARE(form.link().Timer1().Interval(), 1000);
    QVERIFY(form.link().Timer4().Enabled());
    QCOMPARE(form.link().Timer4().Interval(), 5000);
    QVERIFY(!form.link().TcpWinsock().Connected());
}

void Form1Test::closingTheWindowEndsARunningWait()
{
    Form1 form;
    QVERIFY(ShowAndWait(form));
    QTimer::singleShot(50, &form, &QWidget::close);

    // A time-out would return without an error; this wait ends by the close.
    QCOMPARE(ErrorOf([&] { form.link().AwaitReply({1, 30000}); }), err::WindowClosed);
    QVERIFY(!form.isVisible());
    QCOMPARE(ErrorOf([&] { form.link().DoEvents(); }), err::WindowClosed);
}

void Form1Test::loadSetsTheControlDefaults()
{
    Form1 form;
    for (const char* name : {"HardProgressBar", "HZProgressBar", "PriProgressBar"}) {
        auto* bar = Find<ProgressBarWidget>(form, name);
        QVERIFY2(bar, name);
        QCOMPARE(bar->Min(), 0.0f);
        QCOMPARE(bar->Max(), 100.0f);
        QCOMPARE(bar->Value(), 5.0f);
    }
    QVERIFY(Find<QCheckBox>(form, "PrintDevCheck")->isChecked());
    QVERIFY(Find<QCheckBox>(form, "DownHZCheck")->isChecked());
    QVERIFY(!Find<QCheckBox>(form, "HarWareCheck")->isChecked());
    QVERIFY(!Find<QCheckBox>(form, "HzCheck")->isChecked());
    QVERIFY(form.StatusText().isEmpty());
    for (const char* name : {"U17", "U14", "U21", "Mega8", "HZ12", "HZ16", "HZ24S", "HZ24ST"})
        QVERIFY2(!Find(form, name)->isEnabled(), name);
    QVERIFY(Find(form, "U23")->isEnabled());

    QCOMPARE(Find<QLineEdit>(form, "IPaddr")->text(), QStringLiteral("192.168.0.150"));
    QCOMPARE(Find<QLineEdit>(form, "Port")->text(), QStringLiteral("4001"));
    auto* run = Find<QPushButton>(form, "Run");
    QCOMPARE(run->text(), QStringLiteral("RUN"));
    QCOMPARE(run->font().pointSize(), 12);
    QCOMPARE(run->font().families().value(0), QStringLiteral("华文彩云"));
    QCOMPARE(form.minimumSize(), QSize(312, 239));
    QCOMPARE(form.maximumSize(), form.minimumSize());
    // None of the four settings, so the first click gives Comm1.
    QVERIFY(Find<StatusBarWidget>(form, "StatusBar1")->PanelText(1).isEmpty());
}

void Form1Test::everyControlCarriesItsName()
{
    Form1 form;
    for (const QString& name : TabOrder + QStringList{"Timer1", "Timer4", "TcpWinsock", "udpWinsock", "MSComm1"})
        QVERIFY2(form.findChild<QObject*>(name), qPrintable(name));
    // The named faceless controls are the ones the link works on.
    QCOMPARE(static_cast<const ITimer*>(Find<QtTimer>(form, "Timer1")), &form.link().Timer1());
    QCOMPARE(static_cast<const ITimer*>(Find<QtTimer>(form, "Timer4")), &form.link().Timer4());
    QCOMPARE(static_cast<const ISocket*>(Find<QtSocket>(form, "TcpWinsock")), &form.link().TcpWinsock());
    QCOMPARE(static_cast<const ISocket*>(Find<QtSocket>(form, "udpWinsock")), &form.link().udpWinsock());
}

void Form1Test::buttonsAndTextBoxesLieInFront()
{
    Form1 form;
    QVERIFY(ShowAndWait(form));
    // RUN and Exit lie over Frame1, the text boxes over the status bar.
    for (const char* name : {"Run", "Command1", "IPaddr", "Port"}) {
        QWidget* widget = Find(form, name);
        QCOMPARE(form.childAt(widget->geometry().center()), widget);
    }
}

void Form1Test::controlsSitWhereDesigned_data()
{
    // QTest rows read best as written, one to a line.
    // clang-format off
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QRect>("geometry");
    QTest::newRow("Frame1 on the window") << "Frame1" << "Form1" << QRect(8, 0, 297, 201);
    QTest::newRow("RUN over Frame1") << "Run" << "Form1" << QRect(24, 144, 121, 41);
    QTest::newRow("Exit over Frame1") << "Command1" << "Form1" << QRect(184, 144, 49, 41);
    QTest::newRow("IPaddr over the status bar") << "IPaddr" << "Form1" << QRect(8, 208, 145, 26);
    QTest::newRow("Port over the status bar") << "Port" << "Form1" << QRect(224, 208, 65, 26);
    QTest::newRow("status bar docked at the bottom") << "StatusBar1" << "Form1" << QRect(0, 206, 312, 33);
    QTest::newRow("PrintDevCheck in Frame1") << "PrintDevCheck" << "Frame1" << QRect(8, 16, 249, 17);
    QTest::newRow("PriProgressBar in Frame1") << "PriProgressBar" << "Frame1" << QRect(112, 24, 169, 17);
    QTest::newRow("priDownText in Frame1") << "priDownText" << "Frame1" << QRect(16, 72, 169, 49);
    QTest::newRow("U21 in Frame2") << "U21" << "Frame2" << QRect(136, 16, 129, 17);
    QTest::newRow("HZ16 in Frame3, top rounded from 350 twips") << "HZ16" << "Frame3" << QRect(8, 23, 225, 17);
    // clang-format on
}

void Form1Test::controlsSitWhereDesigned()
{
    QFETCH(QString, name);
    QFETCH(QString, container);
    QFETCH(QRect, geometry);
    Form1 form;
    QVERIFY(ShowAndWait(form));
    QWidget* widget = Find(form, name);
    QCOMPARE(widget->parentWidget()->objectName(), container);
    QCOMPARE(widget->geometry(), geometry);
}

void Form1Test::panelClicksCycleTheSettings()
{
    Form1 form;
    QVERIFY(ShowAndWait(form));
    auto* bar = Find<StatusBarWidget>(form, "StatusBar1");
    QStringList seen;
    for (int click = 0; click < 5; ++click) {
        QTest::mouseClick(bar->PanelLabel(1), Qt::LeftButton);
        seen << bar->PanelText(1);
    }
    QCOMPARE(seen, (QStringList{"Comm1:9600,N,8,1", "Comm2:9600,N,8,1", "Comm3:9600,N,8,1", "Comm4:9600,N,8,1",
                                "Comm1:9600,N,8,1"}));
}

void Form1Test::panelClickOnOtherTextRestartsAtComm1_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("letter case differs") << "comm2:9600,N,8,1";
    QTest::newRow("error words after the setting") << "Comm2:9600,N,8,1 串口占用";
}

void Form1Test::panelClickOnOtherTextRestartsAtComm1()
{
    QFETCH(QString, text);
    Form1 form;
    QVERIFY(ShowAndWait(form));
    auto* bar = Find<StatusBarWidget>(form, "StatusBar1");
    bar->SetPanelText(1, text);
    QTest::mouseClick(bar->PanelLabel(1), Qt::LeftButton);
    QCOMPARE(bar->PanelText(1), QStringLiteral("Comm1:9600,N,8,1"));
}

void Form1Test::closingClosesThePort_data()
{
    QTest::addColumn<bool>("byExit");
    QTest::addColumn<bool>("portOpen");
    QTest::addColumn<bool>("runEnable");
    QTest::newRow("Exit, serial port closed") << true << false << false;
    QTest::newRow("Exit, serial port open") << true << true << false;
    QTest::newRow("close box leaves RunEnable") << false << true << true;
}

void Form1Test::closingClosesThePort()
{
    QFETCH(bool, byExit);
    QFETCH(bool, portOpen);
    QFETCH(bool, runEnable);
    Form1 form;
    QVERIFY(ShowAndWait(form));
    auto* port = Find<SerialPortControl>(form, "MSComm1");
    port->SetPortOpen(portOpen);

    if (byExit)
        QTest::mouseClick(Find(form, "Command1"), Qt::LeftButton);
    else
        QVERIFY(form.close());
    QVERIFY(!form.isVisible());
    QVERIFY(!port->PortOpen());
    QCOMPARE(form.control().RunEnabled(), runEnable);
    QCOMPARE(ErrorOf([&] { form.CheckChar(0, 0, 0); }), int{err::WindowClosed});  // nothing more starts
}

void Form1Test::hiddenGroupsNeverShow()
{
    // RUN must reach no device: with no image in the working folder the run
    // ends at the load, and a port text of 0 is refused before connecting.
    QTemporaryDir empty;
    const QString previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(empty.path()));
    Form1 form;
    Find<QLineEdit>(form, "IPaddr")->setText(QStringLiteral("127.0.0.1"));
    Find<QLineEdit>(form, "Port")->setText(QStringLiteral("0"));
    QVERIFY(ShowAndWait(form));

    // Every visible control but Exit, which closes the window.
    QTest::mouseClick(Find<StatusBarWidget>(form, "StatusBar1")->PanelLabel(1), Qt::LeftButton);
    for (const QString& name : TabOrder) {
        QWidget* widget = Find(form, name);
        if (name == QLatin1String("Command1") || !widget->isVisible())
            continue;
        QTest::mouseClick(widget, Qt::LeftButton);
        for (const QString& hidden : HiddenGroups)
            QVERIFY2(!Find(form, hidden)->isVisible(), qPrintable(hidden + " after a click on " + name));
    }
    QVERIFY(form.isVisible());
    QVERIFY(QDir::setCurrent(previousDir));
}

void Form1Test::tabOrderFollowsTheDesign()
{
    Form1 form;
    // Frames, progress bars and the status bar take no focus; the rest follow
    // one another in the designed order.
    QStringList expected;
    for (const QString& name : TabOrder) {
        if (Find(form, name)->focusPolicy() != Qt::NoFocus)
            expected << name;
    }
    QCOMPARE(expected.size(), 18);

    QStringList chain;
    QWidget* first = Find(form, expected.first());
    QWidget* widget = first;
    do {
        if (expected.contains(widget->objectName()))
            chain << widget->objectName();
        widget = widget->nextInFocusChain();
    } while (widget != first);
    QCOMPARE(chain, expected);
}

void Form1Test::runWindowKeepsTextAndSetsControls()
{
    Form1 form;
    // The run appends to the text it reads back, so CR LF must survive.
    const QString text = QStringLiteral("        设备已连上!  \r\n        擦除使能!");
    form.SetStatusText(text);
    QCOMPARE(form.StatusText(), text);
    QCOMPARE(form.statusTextBox()->toPlainText(), QStringLiteral("        设备已连上!  \n        擦除使能!"));

    form.SetPrintDevCheck(0);
    QVERIFY(!Find<QCheckBox>(form, "PrintDevCheck")->isChecked());
    form.SetRunButtonEnabled(false);
    QVERIFY(!Find(form, "Run")->isEnabled());
}

void Form1Test::fontOperationErrorLeavesRunEnabled_data()
{
    QTest::addColumn<bool>("download");
    QTest::addColumn<int>("error");
    QTest::newRow("download, library file missing") << true << int{err::FileNotFound};
    QTest::newRow("check, NaN checksum") << false << int{err::Overflow};
}

void Form1Test::fontOperationErrorLeavesRunEnabled()
{
    QFETCH(bool, download);
    QFETCH(int, error);
    Form1 form;
    QVERIFY(ShowAndWait(form));
    // Both fail before anything is sent, so no device is needed.
    QTemporaryDir empty;
    const QString previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(empty.path()));
    const int raised = ErrorOf([&] {
        if (download)
            form.DownChar(QStringLiteral("Hzk16s"), 0, 3);
        else
            form.CheckChar(std::numeric_limits<double>::quiet_NaN(), 0, 3);
    });
    QVERIFY(QDir::setCurrent(previousDir));

    QCOMPARE(raised, error);
    // The window greys RUN for the operation and must undo it on the error's way out.
    QVERIFY(Find(form, "Run")->isEnabled());
    QVERIFY(form.isVisible());
    QVERIFY(!form.link().TcpWinsock().Connected());
}

QTEST_MAIN(Form1Test)
#include "tst_form1.moc"

// The window with real Qt parts: closing it ends a wait that is running.

#include "errorof.h"
#include "ui/form1.h"

#include <QTimer>
#include <QtTest>

using namespace modburn;

class Form1Test : public QObject {
    Q_OBJECT
private slots:
    void loadStartsTheLinkTimers();
    void closingTheWindowEndsARunningWait();
};

void Form1Test::loadStartsTheLinkTimers()
{
    Form1 form;
    QCOMPARE(form.link().RunEnable, FlagTrue);
    QVERIFY(form.link().Timer1.Enabled());
    QCOMPARE(form.link().Timer1.Interval(), 1000);
    QVERIFY(form.link().Timer4.Enabled());
    QCOMPARE(form.link().Timer4.Interval(), 5000);
    QCOMPARE(form.link().TcpWinsock.Protocol(), sock::ProtocolTcp);
    QCOMPARE(form.link().udpWinsock.Protocol(), sock::ProtocolUdp);
    QCOMPARE(form.link().TcpWinsock.State(), sock::Closed);
}

void Form1Test::closingTheWindowEndsARunningWait()
{
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTimer::singleShot(50, &form, &QWidget::close);

    // A time-out would return without an error; this wait ends by the close.
    QCOMPARE(ErrorOf([&] { form.link().GetSerialData(30000, 1); }), err::WindowClosed);
    QVERIFY(!form.isVisible());
    QCOMPARE(ErrorOf([&] { form.link().DoEvents(); }), err::WindowClosed);
}

QTEST_MAIN(Form1Test)
#include "tst_form1.moc"

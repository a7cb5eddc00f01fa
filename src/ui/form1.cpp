// The main window: its controls at their designed places, the load defaults,
// and the wiring of clicks to the run, Exit and the setting panel.

#include "ui/form1.h"

#include "platform/errors.h"
#include "platform/qt/progressbarwidget.h"
#include "platform/qt/statusbarwidget.h"
#include "ui/statustextbox.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>
#include <array>
#include <initializer_list>
#include <utility>

namespace modburn {

namespace {

// Positions are designed in twips, 15 to a pixel at 96 dpi; Qt scales the
// pixels for high-DPI screens itself.
constexpr int Px(int twips)
{
    return (twips * 2 + 15) / 30;
}

QRect Twips(int left, int top, int width, int height)
{
    return {Px(left), Px(top), Px(width), Px(height)};
}

// Controls sit at fixed places in their container, as designed; no layouts.
template <typename W, typename... Args>
W* Place(QWidget* container, const char* name, const QRect& geometry, Args&&... args)
{
    auto* widget = new W(std::forward<Args>(args)..., container);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(geometry);
    return widget;
}

// A check box value as the window's controls take it: 0, 1, or 2 for greyed.
void SetCheckValue(QCheckBox* box, int value)
{
    switch (value) {
    case 0:
        box->setCheckState(Qt::Unchecked);
        break;
    case 1:
        box->setCheckState(Qt::Checked);
        break;
    case 2:
        box->setCheckState(Qt::PartiallyChecked);
        break;
    default:
        throw RuntimeError(err::InvalidPropertyValue, "Invalid property value");
    }
}

constexpr int WindowFontPointSize = 9;
constexpr int RunFontPointSize = 12;
// Room between IPaddr's right edge and the start of the setting text.
constexpr int SettingTextGap = 4;

}  // namespace

Form1::Form1(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("modburn"));
    // Small enough for the designed boxes, which leave little room for text.
    QFont windowFont = font();
    windowFont.setPointSize(WindowFontPointSize);
    setFont(windowFont);
    // The client area is 4680 x 3585 twips and the controls are placed, not laid out.
    setFixedSize(Px(4680), Px(3585));

    CreateControls();
    SetTabOrder();
    SetUpSettingPanel();
    rules_ = std::make_unique<WindowRules>(device_.link, device_.control, MSComm1_, *StatusBar1_);
    const OperationParts parts{device_.link, device_.control, MSComm1_, files_};
    run_ = std::make_unique<run::ProgrammingRun>(parts);
    runView_ = std::make_unique<run::WindowView>(*this, *StatusBar1_, *PriProgressBar_, device_.control);
    font_ = std::make_unique<fontlib::FontTransfer>(parts);
    fontView_ = std::make_unique<fontlib::WindowView>(*this, *StatusBar1_, *HZProgressBar_);
    WireEvents();
    Load();
}

Form1::~Form1()
{
    device_.control.Stop();
}

void Form1::CreateControls()
{
    const std::array<std::pair<QObject*, const char*>, 5> faceless{{
        {&device_.tcp, "TcpWinsock"},
        {&device_.udp, "udpWinsock"},
        {&device_.timer1, "Timer1"},
        {&device_.timer4, "Timer4"},
        {&MSComm1_, "MSComm1"},
    }};
    for (const auto& [object, name] : faceless) {
        object->setObjectName(QString::fromLatin1(name));
        object->setParent(this);
    }

    Frame1_ = Place<QGroupBox>(this, "Frame1", Twips(120, 0, 4455, 3015));
    PrintDevCheck_ =
        Place<QCheckBox>(Frame1_, "PrintDevCheck", Twips(120, 240, 3735, 255), QStringLiteral("打印驱动下载"));
    PriProgressBar_ = Place<ProgressBarWidget>(Frame1_, "PriProgressBar", Twips(1680, 360, 2535, 255));
    priDownText_ = Place<StatusTextBox>(Frame1_, "priDownText", Twips(240, 1080, 2535, 735));
    HarWareCheck_ = Place<QCheckBox>(Frame1_, "HarWareCheck", Twips(120, 360, 2415, 255), QStringLiteral("硬件检测"));
    HardProgressBar_ = Place<ProgressBarWidget>(Frame1_, "HardProgressBar", Twips(1680, 360, 2535, 255));
    Frame2_ = Place<QGroupBox>(Frame1_, "Frame2", Twips(120, 600, 4095, 1095));
    DownHZCheck_ = Place<QCheckBox>(Frame1_, "DownHZCheck", Twips(120, 2040, 3135, 255), QStringLiteral("字库下载"));
    HZProgressBar_ = Place<ProgressBarWidget>(Frame1_, "HZProgressBar", Twips(1680, 2040, 2535, 255));
    Frame3_ = Place<QGroupBox>(Frame1_, "Frame3", Twips(360, 120, 4095, 1095));

    U17_ = Place<QRadioButton>(Frame2_, "U17", Twips(120, 240, 3615, 255), QStringLiteral("U17"));
    U23_ = Place<QRadioButton>(Frame2_, "U23", Twips(120, 480, 3375, 255), QStringLiteral("U23"));
    U14_ = Place<QRadioButton>(Frame2_, "U14", Twips(120, 720, 3255, 255), QStringLiteral("U14"));
    U21_ = Place<QRadioButton>(Frame2_, "U21", Twips(2040, 240, 1935, 255), QStringLiteral("U21"));
    Mega8_ = Place<QRadioButton>(Frame2_, "Mega8", Twips(2040, 480, 1935, 255), QStringLiteral("Mega8"));
    HzCheck_ = Place<QCheckBox>(Frame2_, "HzCheck", Twips(2040, 720, 1695, 255), QStringLiteral("HzCheck"));

    HZ12_ = Place<QRadioButton>(Frame3_, "HZ12", Twips(120, 120, 3255, 255), QStringLiteral("HZ12"));
    HZ16_ = Place<QRadioButton>(Frame3_, "HZ16", Twips(120, 350, 3375, 255), QStringLiteral("HZ16"));
    HZ24S_ = Place<QRadioButton>(Frame3_, "HZ24S", Twips(120, 580, 3495, 255), QStringLiteral("HZ24S"));
    HZ24ST_ = Place<QRadioButton>(Frame3_, "HZ24ST", Twips(120, 810, 3255, 255), QStringLiteral("HZ24ST"));

    // The hardware-check and font-library groups exist for the font
    // operations only and are never shown.
    for (QWidget* hidden : std::initializer_list<QWidget*>{HarWareCheck_, HardProgressBar_, Frame2_, DownHZCheck_,
                                                           HZProgressBar_, Frame3_})
        hidden->hide();

    Run_ = Place<QPushButton>(this, "Run", Twips(360, 2160, 1815, 615), QStringLiteral("RUN"));
    QFont runFont = font();
    // The designed face is rare outside its home systems; the CJK fallback keeps the caption's size.
    runFont.setFamilies({QStringLiteral("华文彩云"), QStringLiteral("STCaiyun"), QStringLiteral("Noto Sans CJK SC")});
    runFont.setPointSize(RunFontPointSize);
    runFont.setWeight(QFont::Normal);
    Run_->setFont(runFont);
    Command1_ = Place<QPushButton>(this, "Command1", Twips(2760, 2160, 735, 615), QStringLiteral("Exit"));

    // Docked to the bottom edge across the full width of the fixed-size window.
    StatusBar1_ = Place<StatusBarWidget>(this, "StatusBar1", Twips(0, 3090, 4680, 495), 1);
    IPaddr_ = Place<QLineEdit>(this, "IPaddr", Twips(120, 3120, 2175, 390), QStringLiteral("192.168.0.150"));
    Port_ = Place<QLineEdit>(this, "Port", Twips(3360, 3120, 975, 390), QStringLiteral("4001"));

    // The buttons lie over Frame1 and the text boxes over the status bar.
    for (QWidget* front : std::initializer_list<QWidget*>{Run_, Command1_, IPaddr_, Port_})
        front->raise();
}

void Form1::SetTabOrder()
{
    // The designed order reads best as one list.
    // clang-format off
    const std::array<QWidget*, 25> order{
        Frame1_, StatusBar1_, Run_, Frame2_, HarWareCheck_, DownHZCheck_, Frame3_, PrintDevCheck_,
        U17_, U23_, U14_, HZ12_, HZ24S_, HZ16_, HZ24ST_, HardProgressBar_, HZProgressBar_,
        PriProgressBar_, priDownText_, Mega8_, Command1_, HzCheck_, U21_, IPaddr_, Port_,
    };
    // clang-format on
    // Frames, progress bars and the status bar take no focus and setTabOrder
    // ignores them, so the chain links the controls that can take it.
    QWidget* previous = nullptr;
    for (QWidget* widget : order) {
        if (widget->focusPolicy() == Qt::NoFocus)
            continue;
        if (previous)
            setTabOrder(previous, widget);
        previous = widget;
    }
}

void Form1::SetUpSettingPanel()
{
    // IPaddr and Port cover most of the status bar, so the setting text
    // starts just right of IPaddr; Port hides its tail, as designed.
    QLabel* panel = StatusBar1_->PanelLabel(IStatusBar::FirstPanel);
    StatusBar1_->layout()->activate();
    const int textLeft = panel->mapTo(this, panel->contentsRect().topLeft()).x();
    panel->setIndent(std::max(0, IPaddr_->geometry().right() + 1 + SettingTextGap - textLeft));
}

void Form1::WireEvents()
{
    connect(Run_, &QPushButton::clicked, this, &Form1::RunClick);
    connect(Command1_, &QPushButton::clicked, this, &Form1::Command1Click);
    StatusBar1_->SetPanelClickHandler([this](int panel) { StatusBar1PanelClick(panel); });
    // The link installs its own socket and timer handlers.
}

void Form1::Load()
{
    // The bars start at 0 of 0 to 100, so this order of calls is always in range.
    const auto loadBar = [](IProgressBar& bar) {
        bar.SetValue(5);
        bar.SetMax(100);
        bar.SetMin(0);
    };
    SetCheckValue(HarWareCheck_, 0);
    loadBar(*HardProgressBar_);
    for (QWidget* option : {U17_, U14_, U21_, Mega8_})
        option->setEnabled(false);
    SetCheckValue(DownHZCheck_, 1);
    loadBar(*HZProgressBar_);
    for (QWidget* option : {HZ12_, HZ24S_, HZ16_, HZ24ST_})
        option->setEnabled(false);
    SetCheckValue(PrintDevCheck_, 1);
    loadBar(*PriProgressBar_);
    SetCheckValue(HzCheck_, 0);
    rules_->Load();
}

void Form1::RunClick()
{
    // The boxes are read at the click; nothing runs between it and the run's
    // connect, so they are what the run opens the link with.
    run_->Run({IPaddr_->text(), Port_->text(), files_.InCurrentDir(run::ImageFileName)}, *runView_);
}

void Form1::Command1Click()
{
    rules_->Exit();
    close();
}

void Form1::StatusBar1PanelClick(int panel)
{
    rules_->PanelClick(panel);
}

QString Form1::StatusText() const
{
    return priDownText_->Text();
}

void Form1::SetStatusText(const QString& text)
{
    priDownText_->SetText(text);
}

void Form1::SetPrintDevCheck(int value)
{
    SetCheckValue(PrintDevCheck_, value);
}

void Form1::SetRunButtonEnabled(bool enabled)
{
    Run_->setEnabled(enabled);
}

void Form1::Unload()
{
    close();
}

bool Form1::DownChar(const QString& dspStr, const std::int16_t& sPage, const std::int16_t& ePage)
{
    return WithRunGreyed([&] { return font_->DownChar(dspStr, sPage, ePage, *fontView_); });
}

bool Form1::CheckChar(const double& aCheckSum, const std::int16_t& sPage, const std::int16_t& ePage)
{
    return WithRunGreyed([&] { return font_->CheckChar(aCheckSum, sPage, ePage, *fontView_); });
}

bool Form1::WithRunGreyed(const std::function<fontlib::FontOutcome()>& fontOperation)
{
    // The window's two operations raise their errors to the caller.
    const auto result = [](const fontlib::FontOutcome& outcome) {
        if (outcome.ending == fontlib::FontEnding::Busy)
            throw RuntimeError(err::LinkBusy, "The link is in use by another operation");
        // A closed window starts nothing, and that carries no error number of its own.
        if (outcome.ending == fontlib::FontEnding::StoppedByOwner)
            throw RuntimeError(err::WindowClosed, "The window has closed");
        if (outcome.error != err::None)
            throw RuntimeError(outcome.error, "The font operation ended in a run-time error");
        return outcome.Verified();
    };
    // During a run the operation fails at once and RUN stays as the run set it.
    if (device_.control.Held())
        return result(fontOperation());
    // RUN does nothing while a font operation holds the link; greyed, it says so.
    Run_->setEnabled(false);
    struct Regrey {
        Form1& form;
        ~Regrey()
        {
            if (!form.device_.control.Stopped())
                form.Run_->setEnabled(true);
        }
    } regrey{*this};
    return result(fontOperation());
}

void Form1::SetOptionCaption(const QString& option, const QString& caption)
{
    for (QRadioButton* button : {HZ12_, HZ16_, HZ24S_, HZ24ST_}) {
        if (button->objectName() == option)
            button->setText(caption);
    }
}

void Form1::closeEvent(QCloseEvent* event)
{
    // Any wait still running unwinds as soon as this handler returns.
    rules_->Unload();
    event->accept();
}

}  // namespace modburn

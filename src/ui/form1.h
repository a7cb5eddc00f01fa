#pragma once

// The main window, which owns the controls and the link for its whole life.

#include "fontlib/fontlib.h"
#include "link/link.h"
#include "link/qt/qtlinkparts.h"
#include "platform/qt/qtfile.h"
#include "run/run.h"
#include "run/windowview.h"
#include "ui/serialportcontrol.h"
#include "ui/windowrules.h"

#include <QWidget>

#include <functional>
#include <memory>

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace modburn {

class ProgressBarWidget;
class StatusBarWidget;
class StatusTextBox;

// The main window. It owns the controls and the link state for its whole
// life, wires their events and hands the work to the link and the run.
// Every control carries its designed name as its objectName.
class Form1 : public QWidget, public run::IRunWindow, public fontlib::IFontWindow {
    Q_OBJECT
public:
    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    Link& link() { return device_.link; }
    RunControl& control() { return device_.control; }
    run::ProgrammingRun& programmingRun() { return *run_; }
    StatusTextBox* statusTextBox() const { return priDownText_; }

    // The window as the run sees it.
    QString StatusText() const override;
    void SetStatusText(const QString& text) override;
    void SetPrintDevCheck(int value) override;
    void SetRunButtonEnabled(bool enabled) override;
    void Unload() override;

    // Font library operations for other code to call; no control starts them.
    // The link must be connected. Errors pass to the caller as RuntimeError.
    bool DownChar(const QString& dspStr, const std::int16_t& sPage, const std::int16_t& ePage);
    bool CheckChar(const double& aCheckSum, const std::int16_t& sPage, const std::int16_t& ePage);

    // The window as the font operations see it.
    void SetOptionCaption(const QString& option, const QString& caption) override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateControls();
    void SetTabOrder();
    void SetUpSettingPanel();
    void WireEvents();
    void Load();

    bool WithRunGreyed(const std::function<fontlib::FontOutcome()>& fontOperation);
    void RunClick();
    void Command1Click();
    void StatusBar1PanelClick(int panel);

    // Controls without a face (the sockets and timers of the link among
    // them); children of the window by name.
    QtLinkParts device_;
    SerialPortControl MSComm1_;
    QtFileSystem files_;

    // Controls with a face; the window owns them as Qt children.
    QGroupBox* Frame1_ = nullptr;
    QPushButton* Run_ = nullptr;
    QPushButton* Command1_ = nullptr;
    QLineEdit* IPaddr_ = nullptr;
    QLineEdit* Port_ = nullptr;
    StatusBarWidget* StatusBar1_ = nullptr;
    QCheckBox* PrintDevCheck_ = nullptr;
    ProgressBarWidget* PriProgressBar_ = nullptr;
    StatusTextBox* priDownText_ = nullptr;
    QCheckBox* HarWareCheck_ = nullptr;
    ProgressBarWidget* HardProgressBar_ = nullptr;
    QGroupBox* Frame2_ = nullptr;
    QCheckBox* DownHZCheck_ = nullptr;
    ProgressBarWidget* HZProgressBar_ = nullptr;
    QGroupBox* Frame3_ = nullptr;
    QRadioButton* U17_ = nullptr;
    QRadioButton* U23_ = nullptr;
    QRadioButton* U14_ = nullptr;
    QRadioButton* U21_ = nullptr;
    QRadioButton* Mega8_ = nullptr;
    QCheckBox* HzCheck_ = nullptr;
    QRadioButton* HZ12_ = nullptr;
    QRadioButton* HZ16_ = nullptr;
    QRadioButton* HZ24S_ = nullptr;
    QRadioButton* HZ24ST_ = nullptr;

    // Made once the controls they work on exist.
    std::unique_ptr<WindowRules> rules_;
    std::unique_ptr<run::ProgrammingRun> run_;
    std::unique_ptr<run::WindowView> runView_;
    std::unique_ptr<fontlib::FontTransfer> font_;
    std::unique_ptr<fontlib::WindowView> fontView_;
};

}  // namespace modburn

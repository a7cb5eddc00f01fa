#pragma once

// The window as a run sees it, recording what the run does to it. Header
// only: it needs the run's interface, which only the run's tests link.

#include "run/windowview.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace modburn::fake {

class FakeRunWindow : public run::IRunWindow {
public:
    QString StatusText() const override { return text; }
    void SetStatusText(const QString& t) override
    {
        text = t;
        texts.push_back(t);
        if (onStatus)
            onStatus(t);
    }
    void SetPrintDevCheck(int value) override { printDevCheck = value; }
    void SetRunButtonEnabled(bool enabled) override { runButton.push_back(enabled); }
    void Unload() override { ++unloads; }

    QString text;
    QStringList texts;
    std::function<void(const QString&)> onStatus;
    int printDevCheck = 0;
    // The address and port boxes.
    QString ip = QStringLiteral(" 127.0.0.1 ");
    QString port = QStringLiteral("4001");
    std::vector<bool> runButton;
    int unloads = 0;
};

}  // namespace modburn::fake

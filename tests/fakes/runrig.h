#pragma once

// A loaded window's parts around a programming run, with the simulated device
// behind the fake socket as the test chooses it: FakeDevice passes every byte
// straight on, FaultyLine loses, delays and scripts. Header only: it needs the
// run and the window rules, which only their tests link.

#include "fakelink.h"
#include "fakeplatform.h"
#include "fakerunwindow.h"

#include "run/run.h"
#include "run/windowview.h"
#include "ui/windowrules.h"

#include <utility>

namespace modburn::fake {

template <typename Peer>
struct RunRig : FakeLinkParts {
    FakeSerialPort MSComm1;
    FakeStatusBar StatusBar1;
    FakeProgressBar PriProgressBar;
    FakeFileSystem files;
    FakeRunWindow window;
    run::ProgrammingRun run{{link, control, MSComm1, files}};
    run::WindowView view{window, StatusBar1, PriProgressBar, control};
    WindowRules rules{link, control, MSComm1, StatusBar1};
    Peer peer;

    // The peer takes the clock, the socket and then `args`.
    template <typename... PeerArgs>
    explicit RunRig(PeerArgs&&... args) : peer(clock, tcp, std::forward<PeerArgs>(args)...)
    {
        rules.Load();
    }

    // RUN clicked, with the address and port boxes as the window holds them.
    run::Outcome Press() { return run.Run({window.ip, window.port, files.InCurrentDir(run::ImageFileName)}, view); }
};

}  // namespace modburn::fake

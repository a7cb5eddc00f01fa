#pragma once

// A loaded window's parts around a programming run, with the simulated device
// behind the fake socket as the test chooses it: FakeDevice passes every byte
// straight on, FaultyLine loses, delays and scripts. Header only: it needs the
// run and the window rules, which only their tests link.

#include "fakelink.h"
#include "fakeplatform.h"
#include "fakerunwindow.h"

#include "run/run.h"
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
    run::ProgrammingRun run{{link, MSComm1, StatusBar1, PriProgressBar, files, window}};
    WindowRules rules{link, MSComm1, StatusBar1};
    Peer peer;

    // The peer takes the clock, the socket and then `args`.
    template <typename... PeerArgs>
    explicit RunRig(PeerArgs&&... args) : peer(clock, tcp, std::forward<PeerArgs>(args)...)
    {
        rules.Load();
    }
};

}  // namespace modburn::fake

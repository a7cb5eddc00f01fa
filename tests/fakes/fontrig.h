#pragma once

// A window's parts around a font operation on a connected link, with the
// peer behind the fake socket as the test chooses it (FakeDevice or
// FaultyLine). Header only: it needs the font code, which only its tests link.

#include "fakelink.h"
#include "fakeplatform.h"

#include "fontlib/fontlib.h"

#include <utility>
#include <vector>

namespace modburn::fake {

// The option buttons, recording every caption set.
class FakeFontWindow : public fontlib::IFontWindow {
public:
    void SetOptionCaption(const QString& option, const QString& caption) override
    {
        captions.emplace_back(option, caption);
    }
    std::vector<std::pair<QString, QString>> captions;
};

struct FontParts {
    FakeSerialPort MSComm1;
    FakeStatusBar StatusBar1;
    FakeProgressBar HZProgressBar;
    FakeFileSystem files;
    FakeFontWindow window;
};

template <typename Peer>
struct FontRig : FakeLinkParts, FontParts {
    fontlib::FontTransfer font{{link, control, MSComm1, files}};
    fontlib::WindowView view{window, StatusBar1, HZProgressBar};
    Peer peer;

    // The peer takes the clock, the socket and then `args`; the link is
    // loaded and opened as a run leaves it.
    template <typename... PeerArgs>
    explicit FontRig(PeerArgs&&... args) : peer(clock, tcp, std::forward<PeerArgs>(args)...)
    {
        LoadLink(link, control);
        link.Open(QStringLiteral("127.0.0.1"), QStringLiteral("4001"));
    }

    auto DownChar(const QString& name, std::int16_t first, std::int16_t last)
    {
        return font.DownChar(name, first, last, view);
    }
    auto CheckChar(double sum, std::int16_t first, std::int16_t last) { return font.CheckChar(sum, first, last, view); }
};

}  // namespace modburn::fake

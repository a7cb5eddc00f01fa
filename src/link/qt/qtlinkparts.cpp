// The load defaults of a device's link on Qt's parts.

#include "link/qt/qtlinkparts.h"

namespace modburn {

void QtLinkParts::Load()
{
    LoadLink(link, control);
}

}  // namespace modburn

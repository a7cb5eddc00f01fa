// Resolving device host names up front and refusing duplicates.

#include "cli/targets.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QSet>

namespace modburn::cli {

std::optional<QString> SystemResolve(const QString& host)
{
    QHostAddress literal;
    if (literal.setAddress(host))
        return literal.toString();
    const QHostInfo info = QHostInfo::fromName(host);
    const QList<QHostAddress> addresses = info.addresses();
    if (info.error() != QHostInfo::NoError || addresses.isEmpty())
        return std::nullopt;
    for (const QHostAddress& address : addresses) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            return address.toString();
    }
    return addresses.front().toString();
}

Targets ResolveDevices(const std::vector<DeviceEntry>& devices, const Resolver& resolve, bool keepUnresolved)
{
    Targets result;
    QSet<QString> seen;
    for (const DeviceEntry& device : devices) {
        std::optional<QString> address = resolve(device.host);
        if (!address && keepUnresolved)
            address = device.host;
        if (!address) {
            result.error = QStringLiteral("device '%1': cannot resolve '%2'").arg(device.Label(), device.host);
            return result;
        }
        const Target target{device.Label(), *address, device.port};
        // The canonical form, so ::1 and 0:0:0:0:0:0:0:1 are the same device.
        const QHostAddress canonical(*address);
        const QString key =
            (canonical.isNull() ? *address : canonical.toString()) + u'#' + QString::number(device.port);
        if (seen.contains(key)) {
            result.error = QStringLiteral("device '%1': listed twice (as address %2 port %3)")
                               .arg(device.Label(), *address)
                               .arg(device.port);
            return result;
        }
        seen.insert(key);
        result.targets.push_back(target);
    }
    return result;
}

}  // namespace modburn::cli

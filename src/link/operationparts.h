#pragma once

// What a run or a font operation works on: one type for both engines.

namespace modburn {

// Only named here, so that an engine's users need not see the link's insides.
class Link;
class RunControl;
class ISerialPort;
class IFileSystem;

// The caller owns all of it, and it outlives the operation.
struct OperationParts {
    Link& link;
    RunControl& control;
    ISerialPort& MSComm1;
    IFileSystem& files;
};

}  // namespace modburn

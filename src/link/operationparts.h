#pragma once

// What a run or a font operation works on: one type for both engines.

#include "link/link.h"
#include "link/runcontrol.h"
#include "platform/file.h"
#include "platform/serialport.h"

namespace modburn {

// The caller owns all of it, and it outlives the operation.
struct OperationParts {
    Link& link;
    RunControl& control;
    ISerialPort& MSComm1;
    IFileSystem& files;
};

}  // namespace modburn

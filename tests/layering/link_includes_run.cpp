// Must not compile: the link sits below the run.
#include "link/link.h"
#include "run/run.h"

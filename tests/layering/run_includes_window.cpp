// Must not compile: the run knows the window only through its own interface.
#include "run/run.h"
#include "ui/form1.h"

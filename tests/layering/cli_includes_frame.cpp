// The command-line tool shows the engines' outcomes; it never reads frames.
#include "frame/frame.h"

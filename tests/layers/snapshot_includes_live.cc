// Built only by the layering test, which expects it not to compile: the
// snapshot layer is handed the log file, clock and code page, never the live
// machine's own.
#include "platform/snapshot/snapshot.h"
#include "platform/live/live.h"

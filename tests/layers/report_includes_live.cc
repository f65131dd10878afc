// Built only by the layering test, which expects it not to compile: a report
// sees the platform interfaces, never the live machine.
#include "network/adapters_report.h"
#include "platform/live/live.h"

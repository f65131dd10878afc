// Our own open probe library: the seven virtual machine probes. On Windows
// they are the exports of vmware.dll (__stdcall); on Linux they are linked in.
// Zero always means nothing was detected; a method that cannot run answers 0.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define HOSTPROBE_PROBE_CALL __stdcall
#else
#define HOSTPROBE_PROBE_CALL
#endif

extern "C" {
int16_t HOSTPROBE_PROBE_CALL IsInsideVPC(void);
int16_t HOSTPROBE_PROBE_CALL IsInsideVMWare(void);
int16_t HOSTPROBE_PROBE_CALL IsInsideVMWare2(void);
int16_t HOSTPROBE_PROBE_CALL IsInsideVMWare3(void);
int16_t HOSTPROBE_PROBE_CALL ldtCheck(void);
int16_t HOSTPROBE_PROBE_CALL mswCheck(void);
int16_t HOSTPROBE_PROBE_CALL vmwareCheck(void);
}

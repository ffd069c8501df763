/* OS abstraction layer: mutexes, condition variables, threads, timers,
 * calendar time and the seed source. Every function returns a signed
 * 32-bit status (0 on success) unless stated otherwise. */
#ifndef KEL_OS_H
#define KEL_OS_H

#include <stdint.h>

#include "kel/export.h"

KEL_BEGIN_DECLS

/* Status codes of this layer. */
#define LINUX_ERR_SEED_OPEN (-5800)
#define LINUX_ERR_THREAD_CREATE (-5801)
#define LINUX_ERR_CREATE (-5802)
#define LINUX_ERR_WAIT (-5803)
#define LINUX_ERR_RELEASE (-5804)
#define LINUX_ERR_FREE (-5805)
#define VRTOS_ERR_ALREADY_LOCKED (-5807)
#define VRTOS_ERR_NOT_LOCKED (-5808)

/* Opaque handles; 0 (NULL) means "no object". */
typedef struct KelMutex *MutexHandle;
typedef struct KelCond *CondHandle;
typedef uint64_t ThreadId;

/* Wall-clock time value: whole seconds, then microseconds. */
typedef struct RtosTime {
  uint32_t seconds;
  uint32_t microseconds;
} RtosTime;

/* UTC calendar time. */
typedef struct GmtDateTime {
  uint8_t yearsSince1970;
  uint8_t month;  /* 1..12 */
  uint8_t day;    /* 1..31 */
  uint8_t hour;   /* 0..23 */
  uint8_t minute; /* 0..59 */
  uint8_t second; /* 0..60 */
} GmtDateTime;

typedef void *(*ThreadEntry)(void *arg);

KEL_API extern RtosTime gStartTime;
KEL_API extern uint32_t bFIPSMode;

KEL_API int32_t LINUX_rtosInit(void);
KEL_API int32_t LINUX_rtosShutdown(void);

KEL_API int32_t LINUX_mutexCreate(MutexHandle *mutex, uint32_t type, uint32_t count);
KEL_API int32_t LINUX_mutexWait(MutexHandle mutex);
KEL_API int32_t LINUX_mutexRelease(MutexHandle mutex);
KEL_API int32_t LINUX_mutexFree(MutexHandle *mutex);

KEL_API int32_t LINUX_recursiveMutexCreate(MutexHandle *mutex, uint32_t type, uint32_t count);
KEL_API int32_t LINUX_recursiveMutexWait(MutexHandle mutex);
KEL_API int32_t LINUX_recursiveMutexRelease(MutexHandle mutex);
KEL_API int32_t LINUX_recursiveMutexFree(MutexHandle *mutex);

KEL_API int32_t LINUX_condCreate(CondHandle *cond, uint32_t type, uint32_t count);
KEL_API int32_t LINUX_condWait(CondHandle cond, MutexHandle mutex);
KEL_API int32_t LINUX_condSignal(CondHandle cond);
KEL_API int32_t LINUX_condFree(CondHandle *cond);

KEL_API int32_t LINUX_createThread(ThreadEntry entry, void *arg, uint32_t threadType, ThreadId *tid);
KEL_API void LINUX_destroyThread(ThreadId tid);
KEL_API ThreadId LINUX_currentThreadId(void);

KEL_API uint32_t LINUX_getUpTimeInMS(void);
KEL_API uint32_t LINUX_deltaMS(const RtosTime *origin, RtosTime *now);
KEL_API uint32_t LINUX_deltaConstMS(const RtosTime *origin, const RtosTime *current);
KEL_API RtosTime *LINUX_timerAddMS(RtosTime *timer, uint32_t milliseconds);
KEL_API void LINUX_sleepMS(uint32_t milliseconds);
KEL_API int32_t LINUX_timeGMT(GmtDateTime *out);

KEL_API void VORANE_setFIPSMode(uint32_t mode);
KEL_API uint32_t VORANE_getFIPSMode(void);

/* 1: every byte read (partial reads go on); 0: end of file or a read error
 * came first, and the buffer is no seed; -5800: the device could not be
 * opened. */
KEL_API int32_t LINUX_getSeed(uint8_t *buffer, int32_t length);

KEL_API int32_t VRTOS_mutexWait(MutexHandle mutex, int32_t *isLocked);
KEL_API int32_t VRTOS_mutexRelease(MutexHandle mutex, int32_t *isLocked);

KEL_END_DECLS

#endif /* KEL_OS_H */

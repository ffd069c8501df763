/* The entropy depot: a process-wide 48-byte pool of reseed material for
 * CTR-DRBG contexts, fed by pushed entropy bits and stirred by three
 * threads of its own (toggle, scramble, hash). One cycle of the threads
 * (about 24 s) hands 48 bytes to an output pool. */
#ifndef KEL_RNG_SEED_H
#define KEL_RNG_SEED_H

#include <stdint.h>

#include "kel/export.h"
#include "kel/os.h"

KEL_BEGIN_DECLS

#define ERR_RNG_SEED_STOPPED (-7103)   /* the depot has been stopped */
#define ERR_RNG_SEED_STATE (-6011)     /* mutexes not created yet (or already created) */

/* RNG_SEED_addEntropyBit pushes the lowest bit of entropyBit into the
 * depot. 0; -7103 stopped; mutex statuses. */
KEL_API int32_t RNG_SEED_addEntropyBit(uint8_t entropyBit);

/* RNG_SEED_extractDepotBits fills buffer with count bytes of the output
 * pool, starting the threads and waiting for their cycles as needed (the
 * first call of a process waits a whole cycle). 0; -6001 null buffer with a
 * non-zero count; -7103 stopped; mutex and thread statuses. */
KEL_API int32_t RNG_SEED_extractDepotBits(uint8_t *buffer, uint32_t count);

/* RNG_SEED_entropyThreadIds stores pointers to the toggle, scramble and hash
 * threads' identifier slots. 0; -6001 a null out pointer; -6011 before the
 * depot's mutexes exist. */
KEL_API int32_t RNG_SEED_entropyThreadIds(ThreadId **toggle, ThreadId **scramble, ThreadId **hash);

/* RNG_SEED_killEntropyThreads asks the threads to end and returns 0 at once. */
KEL_API int32_t RNG_SEED_killEntropyThreads(void);

/* RNG_SEED_freeMutexes frees the depot's two mutexes; 0. Call it only when
 * the threads have ended. */
KEL_API int32_t RNG_SEED_freeMutexes(void);

/* RNG_SEED_resetState clears the stop request and the created and started
 * marks, so the next push or extraction builds everything again; 0. */
KEL_API int32_t RNG_SEED_resetState(void);

KEL_END_DECLS

#endif /* KEL_RNG_SEED_H */

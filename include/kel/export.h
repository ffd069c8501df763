/* Export and C-linkage macros shared by every public header. */
#ifndef KEL_EXPORT_H
#define KEL_EXPORT_H

#if defined(__GNUC__)
#define KEL_API __attribute__((visibility("default")))
#define KEL_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define KEL_API
#define KEL_PRINTF(fmt, args)
#endif

#ifdef __cplusplus
#define KEL_BEGIN_DECLS extern "C" {
#define KEL_END_DECLS }
#else
#define KEL_BEGIN_DECLS
#define KEL_END_DECLS
#endif

#endif /* KEL_EXPORT_H */

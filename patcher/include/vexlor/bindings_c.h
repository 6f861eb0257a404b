/* Vexlor bindings patcher: the C interface of the shared library (libvexlor-bindings.so.1,
 * vexlor_bindings.dll), for installers and for programs in C, C#, Python or any other
 * language that can call C. It compiles as C99 and as C++.
 *
 * Only C types cross it. No C++ exception ever leaves a function of it: one caught inside
 * becomes a failure (VEXLOR_FAILURE_OTHER) whose text goes to the logger and into the result.
 *
 * Threads: every function may be called from any thread, and from several at once. The
 * library keeps no state between calls. Operations on the same bindings directory take turns,
 * across threads and processes alike: each holds the directory's lock, waiting for it at most
 * `lock_wait_ms` milliseconds. The logger is called on the calling thread, during the call.
 *
 * Ownership: every `char*` a function returns was allocated by the library and is released
 * with vexlor_bindings_free(), never with the caller's free(); a `const char*` it returns is
 * static and lives as long as the library is loaded. Arguments are only read, and only
 * during the call.
 *
 * Texts: paths and messages are UTF-8. On Windows every function that takes a path also has
 * a form ending in `_w` that takes it as UTF-16 (wchar_t).
 *
 * JSON results: objects with stable snake_case keys and a "format_version" (1), the same
 * objects the command-line tool prints with --json.
 */
#ifndef VEXLOR_BINDINGS_C_H_
#define VEXLOR_BINDINGS_C_H_

#include <stddef.h>

#if defined(_WIN32)
#include <wchar.h>
#if defined(VEXLOR_BINDINGS_C_BUILDING)
#define VEXLOR_BINDINGS_C_API __declspec(dllexport)
#else
#define VEXLOR_BINDINGS_C_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define VEXLOR_BINDINGS_C_API __attribute__((visibility("default")))
#else
#define VEXLOR_BINDINGS_C_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Why an operation failed. The numbers are fixed: a new kind gets a new number, and no number
 * is ever reused, so a caller may store or compare them. */
typedef enum vexlor_failure_kind {
    VEXLOR_FAILURE_NONE = 0,                    /* it succeeded */
    VEXLOR_FAILURE_MISSING = 1,                 /* no such directory; patch: no bindings file */
    VEXLOR_FAILURE_READ_ONLY = 2,               /* the bindings file may not be written */
    VEXLOR_FAILURE_DIRECTORY_NOT_WRITABLE = 3,  /* no new file may be made in the directory */
    VEXLOR_FAILURE_NO_SPACE = 4,                /* the disk or the quota is full */
    VEXLOR_FAILURE_IN_USE = 5,                  /* another program holds the file open */
    VEXLOR_FAILURE_NOT_READABLE = 6,            /* a file could not be read or examined */
    VEXLOR_FAILURE_EMPTY = 7,                   /* the bindings file is empty */
    VEXLOR_FAILURE_NOT_JSON = 8,                /* a JSON text does not parse */
    VEXLOR_FAILURE_NOT_OBJECT = 9,              /* patch: JSON, but not an object */
    VEXLOR_FAILURE_TOO_LARGE = 10,              /* too large or too deeply nested */
    VEXLOR_FAILURE_BUSY = 11,                   /* another operation held the directory */
    VEXLOR_FAILURE_KEPT_CHANGING = 12,          /* another program kept writing the file */
    VEXLOR_FAILURE_FOREIGN_LINK = 13,           /* a link leads to another user's file */
    VEXLOR_FAILURE_BACKUP_FAILED = 14,          /* patch: the backup could not be made */
    VEXLOR_FAILURE_BACKUP_UNPARSABLE = 15,      /* unpatch: the backup does not parse */
    VEXLOR_FAILURE_ACCESS_NOT_CARRIED = 16,     /* the file's access rules cannot be kept */
    VEXLOR_FAILURE_DIRECTORY_NOT_READABLE = 17, /* the directory cannot be read */
    VEXLOR_FAILURE_DIRECTORY_APPEND_ONLY = 18,  /* files in it cannot be replaced */
    VEXLOR_FAILURE_READ_ONLY_MOUNT = 19,        /* the file system is mounted read-only */
    VEXLOR_FAILURE_ABANDONED = 20,              /* stopped on request (not by this interface) */
    VEXLOR_FAILURE_COPY_FAILED = 21,            /* unpatch: the copy before an undo failed */
    VEXLOR_FAILURE_OTHER = 22 /* anything else (not a directory, say): the message says what */
} vexlor_failure_kind;

/* Receives one message (UTF-8, ending in "\n") and the `context` the caller passed along
 * with it. The message is valid only during the call. May be NULL: no messages. */
typedef void (*vexlor_log_fn)(void* context, const char* message);

/* The wait for another operation on the same directory that the tool uses when not told
 * otherwise. */
#define VEXLOR_BINDINGS_DEFAULT_LOCK_WAIT_MS 10000u

/* The library's version, "MAJOR.MINOR.PATCH". Static. */
VEXLOR_BINDINGS_C_API const char* vexlor_bindings_version(void);

/* Releases a string the library returned. NULL is allowed and does nothing. */
VEXLOR_BINDINGS_C_API void vexlor_bindings_free(char* text);

/* Patches the bindings file in `bindings_dir`, waiting at most `lock_wait_ms` for another
 * operation on it. Returns VEXLOR_FAILURE_NONE when the file is now patched (by this call or
 * an earlier one), otherwise why not. When `result_json` is not NULL it receives the result
 * object ("outcome", "files_written", "files_removed", "failure", "message", ...), to be
 * released with vexlor_bindings_free(); it receives NULL only when memory ran out. The
 * result's "message" is the tool's plain sentence for a failure, "" on success; without a
 * logger it also says the cause the logger would have been told. */
VEXLOR_BINDINGS_C_API int vexlor_bindings_patch(const char* bindings_dir, unsigned lock_wait_ms,
                                                vexlor_log_fn log, void* log_context,
                                                char** result_json);

/* Undoes the patch, as vexlor_bindings_patch() patches. VEXLOR_FAILURE_NONE also covers
 * "nothing to do" and "not ours" (see the result's "outcome"). */
VEXLOR_BINDINGS_C_API int vexlor_bindings_unpatch(const char* bindings_dir, unsigned lock_wait_ms,
                                                  vexlor_log_fn log, void* log_context,
                                                  char** result_json);

/* Writes the JSON text `json_text` to `target` so that a reader sees the old content or the
 * whole new document, never part of it. Returns VEXLOR_FAILURE_NONE, VEXLOR_FAILURE_NOT_JSON
 * when `json_text` does not parse (nothing is written), or VEXLOR_FAILURE_OTHER when the write
 * failed (`target` is then unchanged, and the logger says why). */
VEXLOR_BINDINGS_C_API int vexlor_bindings_write_json(const char* target, const char* json_text,
                                                     vexlor_log_fn log, void* log_context);

/* Reports, as JSON text, changing nothing: the state of `bindings_dir` (as the tool's
 * "status --json"), or what a patch or an unpatch would do now ("decision", and "failure"
 * with "detail" when it would fail). Release the text with vexlor_bindings_free(); NULL only
 * when memory ran out. */
VEXLOR_BINDINGS_C_API char* vexlor_bindings_status_json(const char* bindings_dir);
VEXLOR_BINDINGS_C_API char* vexlor_bindings_patch_plan_json(const char* bindings_dir);
VEXLOR_BINDINGS_C_API char* vexlor_bindings_unpatch_plan_json(const char* bindings_dir);

/* The word for `kind` in JSON results ("none", "missing", "read_only", ...), and the plain
 * words the tool says for it, "<what went wrong>. <what to do>." Both static; for a number
 * not listed above, the texts of VEXLOR_FAILURE_OTHER. The result of an operation carries
 * the fuller sentence, which also says what is on disk after the failure. */
VEXLOR_BINDINGS_C_API const char* vexlor_bindings_failure_word(int kind);
VEXLOR_BINDINGS_C_API const char* vexlor_bindings_failure_sentence(int kind);

#if defined(_WIN32)
VEXLOR_BINDINGS_C_API int vexlor_bindings_patch_w(const wchar_t* bindings_dir,
                                                  unsigned lock_wait_ms, vexlor_log_fn log,
                                                  void* log_context, char** result_json);
VEXLOR_BINDINGS_C_API int vexlor_bindings_unpatch_w(const wchar_t* bindings_dir,
                                                    unsigned lock_wait_ms, vexlor_log_fn log,
                                                    void* log_context, char** result_json);
VEXLOR_BINDINGS_C_API int vexlor_bindings_write_json_w(const wchar_t* target, const char* json_text,
                                                       vexlor_log_fn log, void* log_context);
VEXLOR_BINDINGS_C_API char* vexlor_bindings_status_json_w(const wchar_t* bindings_dir);
VEXLOR_BINDINGS_C_API char* vexlor_bindings_patch_plan_json_w(const wchar_t* bindings_dir);
VEXLOR_BINDINGS_C_API char* vexlor_bindings_unpatch_plan_json_w(const wchar_t* bindings_dir);
#endif

#ifdef __cplusplus
}
#endif

#endif /* VEXLOR_BINDINGS_C_H_ */

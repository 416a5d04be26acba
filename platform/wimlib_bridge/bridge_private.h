/*
 * bridge_private.h - declarations shared by the parts of libwim-15.dll, the
 * Windows ABI of wimlib on top of the Linux libwim.so.15.
 *
 * The Windows program calls this library exactly as it would call a Windows
 * build of wimlib: strings are UTF-16 (wimlib_tchar = wchar_t), file paths
 * are Windows paths, paths inside an image use "\", and callbacks use the
 * Windows x64 calling convention.  Each export (see libwim-15.spec) converts
 * its arguments, calls the Linux library and converts what comes back.
 *
 * Structures are laid out identically by mingw x64 and Linux x86_64 (checked
 * below); only their string fields differ.  Where wimlib hands a structure to
 * a callback, the bridge makes a copy whose string fields point to UTF-16
 * text and passes the copy, so the Windows side sees the same structure type
 * with wchar_t strings.  The UTF-16 copies live until the callback returns.
 *
 * The library is initialised for UTF-8 strings and for case-insensitive
 * paths inside images, as the Windows build of wimlib behaves.
 *
 * The parts:
 *   bridge_open.c      set-up, per-WIM state, opening and information
 *   bridge_write.c     adding, changing, exporting and writing images
 *   bridge_extract.c   extraction, directory tree and lookup table
 *   bridge_progress.c  progress messages to the Windows callback
 *   bridge_convert.c   string, path and path-list arguments
 */
#ifndef BRIDGE_PRIVATE_H
#define BRIDGE_PRIVATE_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <windows.h>

#include "winconv.h"
#include "linux_wimlib.h"

/* The layouts the Windows side relies on (mingw x64 gives the same). */
_Static_assert(sizeof(struct wimlib_wim_info) == 88, "wimlib_wim_info layout");
_Static_assert(sizeof(struct wimlib_resource_entry) == 88, "wimlib_resource_entry layout");
_Static_assert(sizeof(struct wimlib_stream_entry) == 128, "wimlib_stream_entry layout");
_Static_assert(offsetof(struct wimlib_dir_entry, attributes) == 48, "wimlib_dir_entry layout");
_Static_assert(offsetof(struct wimlib_dir_entry, creation_time) == 72, "wimlib_dir_entry layout");
_Static_assert(offsetof(struct wimlib_dir_entry, streams) == 248, "wimlib_dir_entry layout");
_Static_assert(sizeof(union wimlib_progress_info) == 112, "wimlib_progress_info layout");
_Static_assert(sizeof(struct wimlib_update_command) == 40, "wimlib_update_command layout");
_Static_assert(sizeof(struct wimlib_capture_source) == 24, "wimlib_capture_source layout");

#define PE_CALL __attribute__((ms_abi))
#define EXPORT CDECL

/* Callbacks of the Windows program. */
typedef enum wimlib_progress_status(PE_CALL *pe_progress_func)(enum wimlib_progress_msg msg,
                                                                union wimlib_progress_info *info,
                                                                void *ctx);
typedef int(PE_CALL *pe_dir_tree_func)(const struct wimlib_dir_entry *entry, void *ctx);
typedef int(PE_CALL *pe_lookup_table_func)(const struct wimlib_resource_entry *entry, void *ctx);
typedef void *(PE_CALL *pe_malloc_func)(size_t size);

/* A UTF-16 string stored in a char-typed field of a structure copy. */
#define PE_STR(w) ((char *)(w))

/* ------------------------------------------------------------------------- */
/* Per-WIM state (bridge_open.c)                                             */
/* ------------------------------------------------------------------------- */

/* A UTF-16 string that the bridge returned for a WIMStruct and keeps until
 * wimlib_free, as wimlib keeps its own strings. */
struct kept_string {
    struct kept_string *next;
    char *key;
    char *utf8;
    WCHAR *text;
};

struct wim_state {
    struct wim_state *next;
    const WIMStruct *wim;
    pe_progress_func progress;
    void *progress_ctx;
    /* Commands of a running wimlib_update_image, as the caller passed them. */
    const struct wimlib_update_command *update_pe;
    size_t update_count;
    /* A split part name chosen by the progress function. */
    char *split_part_name;
    struct kept_string *strings;
};


/* Initialises libwim once, before the first call that uses it. */
int ensure_init(void);

/* The state of wim; with create, made when there is none yet. */
struct wim_state *find_state(const WIMStruct *wim, BOOL create);

/* ------------------------------------------------------------------------- */
/* Argument conversion (bridge_convert.c)                                    */
/* ------------------------------------------------------------------------- */

/* Error for a string argument that could not be converted. */
int conv_error(int otherwise);

/* A string argument converted: text to UTF-8, a Windows file path to a Unix
 * path, a path inside an image to "/" separators.  *out stays NULL for a
 * NULL input; FALSE when a non-NULL input could not be converted. */
BOOL text_arg(const WCHAR *in, char **out);
BOOL path_arg(const WCHAR *in, char **out);
BOOL image_path_arg(const WCHAR *in, char **out);

/* Array of converted strings, freed with free_string_array. */
char **string_array(const WCHAR *const *in, size_t count, char *(*fn)(const WCHAR *));
void free_string_array(char **a, size_t count);

/* A libwim copy of a path-list file; see bridge_convert.c. */
char *unix_path_list(const WCHAR *list_file, int *err);

#endif /* BRIDGE_PRIVATE_H */

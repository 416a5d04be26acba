/*
 * wg_handles.c - the handle table and the lifetime of file and image objects.
 *
 * A handle is a tagged number: a slot of the table and the generation the
 * slot had when the handle was issued.  Looking a handle up never follows a
 * pointer supplied by the caller, so garbage, closed and foreign handles are
 * simply not found.  Every object is reference-counted: its handle holds one
 * reference, each image holds one on its file, and each running call holds
 * one on what it uses, so closing handles in any order (even while another
 * thread still works with them) is safe.
 */
#include <stdlib.h>
#include <string.h>

#include "wg_internal.h"

#define HANDLE_TAG   0x5747ULL   /* "WG" in the top bits of every handle */
#define SLOT_BITS    24
#define MAX_SLOTS    (1u << SLOT_BITS)

struct slot {
    void *obj;          /* NULL when free */
    int kind;
    uint32_t gen;
};

static CRITICAL_SECTION g_cs;
static struct slot *g_slots;
static size_t g_nslots;
static struct wg_file *g_live_files;
static bool g_wimlib_ready;

void wg_init(void)
{
    InitializeCriticalSection(&g_cs);
}

void wg_lock(void)
{
    EnterCriticalSection(&g_cs);
}

void wg_unlock(void)
{
    LeaveCriticalSection(&g_cs);
}

/* ------------------------------------------------------------------------- */
/* Objects                                                                   */
/* ------------------------------------------------------------------------- */

struct wg_file *wg_file_alloc(void)
{
    struct wg_file *f = calloc(1, sizeof(*f));

    if (!f)
        return NULL;
    f->refs = 1;
    f->lock_fd = -1;
    InitializeCriticalSection(&f->lock);
    wg_lock();
    if (!g_wimlib_ready) {
        wimlib_global_init(0);
        g_wimlib_ready = true;
    }
    f->next_live = g_live_files;
    g_live_files = f;
    wg_unlock();
    return f;
}

struct wg_image *wg_image_alloc(struct wg_file *file, int index)
{
    struct wg_image *img = calloc(1, sizeof(*img));

    if (!img)
        return NULL;
    img->refs = 1;
    img->index = index;
    InterlockedIncrement(&file->refs);
    img->file = file;
    EnterCriticalSection(&file->lock);
    img->next = file->images;
    file->images = img;
    LeaveCriticalSection(&file->lock);
    return img;
}

DWORD wg_file_release(struct wg_file *f)
{
    struct wg_file **pp;
    size_t i;
    DWORD err;

    if (!f || InterlockedDecrement(&f->refs) != 0)
        return 0;

    /* The last reference is gone: nobody else can reach f any more. */
    err = wg_file_finish(f);
    /* Written: another writer may come now. */
    wg_file_unlock_writer(f);
    wg_callbacks_forget(f);
    wg_lock();
    for (pp = &g_live_files; *pp; pp = &(*pp)->next_live) {
        if (*pp == f) {
            *pp = f->next_live;
            break;
        }
    }
    wg_unlock();
    wg_file_drop(f);
    for (i = 0; i < f->ref_count; i++)
        wc_free(f->ref_paths[i]);
    free(f->ref_paths);
    free(f->win_path);
    wc_free(f->unix_path);
    free(f->temp_path);
    DeleteCriticalSection(&f->lock);
    free(f);
    return err;
}

DWORD wg_image_release(struct wg_image *img)
{
    struct wg_file *f;
    struct wg_image **pp;

    if (!img || InterlockedDecrement(&img->refs) != 0)
        return 0;
    f = img->file;
    EnterCriticalSection(&f->lock);
    for (pp = &f->images; *pp; pp = &(*pp)->next) {
        if (*pp == img) {
            *pp = img->next;
            break;
        }
    }
    LeaveCriticalSection(&f->lock);
    free(img->mount_path);
    free(img);
    return wg_file_release(f);
}

static DWORD release_object(int kind, void *obj)
{
    return kind == WG_KIND_FILE ? wg_file_release(obj) : wg_image_release(obj);
}

/* ------------------------------------------------------------------------- */
/* Handle table                                                              */
/* ------------------------------------------------------------------------- */

static HANDLE encode(size_t slot, uint32_t gen)
{
    return (HANDLE)(ULONG_PTR)((HANDLE_TAG << 48) | ((uint64_t)gen << SLOT_BITS) | slot);
}

/* Finds the slot of a handle; -1 when it is not a live handle of kind. */
static long decode(HANDLE h, int kind)
{
    uint64_t v = (uint64_t)(ULONG_PTR)h;
    size_t slot = (size_t)(v & (MAX_SLOTS - 1));
    uint32_t gen = (uint32_t)((v >> SLOT_BITS) & 0xFFFFFF);

    if ((v >> 48) != HANDLE_TAG || slot == 0 || slot >= g_nslots)
        return -1;
    if (!g_slots[slot].obj || g_slots[slot].gen != gen)
        return -1;
    if (kind && g_slots[slot].kind != kind)
        return -1;
    return (long)slot;
}

HANDLE wg_handle_new(int kind, void *obj)
{
    size_t slot;
    HANDLE h = NULL;

    wg_lock();
    for (slot = 1; slot < g_nslots; slot++)
        if (!g_slots[slot].obj)
            break;
    if (slot >= g_nslots && g_nslots < MAX_SLOTS) {
        size_t n = g_nslots ? g_nslots * 2 : 64;
        struct slot *grown = realloc(g_slots, n * sizeof(*grown));
        if (grown) {
            memset(grown + g_nslots, 0, (n - g_nslots) * sizeof(*grown));
            g_slots = grown;
            g_nslots = n;
        }
    }
    if (slot < g_nslots) {
        g_slots[slot].obj = obj;
        g_slots[slot].kind = kind;
        g_slots[slot].gen = (g_slots[slot].gen + 1) & 0xFFFFFF;
        if (!g_slots[slot].gen)
            g_slots[slot].gen = 1;
        h = encode(slot, g_slots[slot].gen);
    }
    wg_unlock();

    if (!h) {
        release_object(kind, obj);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return h;
}

static void *get(HANDLE h, int kind)
{
    void *obj = NULL;
    long slot;

    wg_lock();
    slot = decode(h, kind);
    if (slot >= 0) {
        obj = g_slots[slot].obj;
        if (kind == WG_KIND_FILE)
            InterlockedIncrement(&((struct wg_file *)obj)->refs);
        else
            InterlockedIncrement(&((struct wg_image *)obj)->refs);
    }
    wg_unlock();
    if (!obj)
        SetLastError(ERROR_INVALID_HANDLE);
    return obj;
}

struct wg_file *wg_file_get(HANDLE h)
{
    return get(h, WG_KIND_FILE);
}

struct wg_image *wg_image_get(HANDLE h)
{
    return get(h, WG_KIND_IMAGE);
}

BOOL wg_handle_close(HANDLE h)
{
    void *obj = NULL;
    int kind = 0;
    long slot;
    DWORD err;

    wg_lock();
    slot = decode(h, 0);
    if (slot >= 0) {
        obj = g_slots[slot].obj;
        kind = g_slots[slot].kind;
        g_slots[slot].obj = NULL;
    }
    wg_unlock();
    if (!obj)
        return wg_fail(ERROR_INVALID_HANDLE);
    /* The last handle of a new file writes it; report a failure of that.
     * A successful close leaves the last error alone, so a caller may close
     * its handles before it reads the error of a failed call. */
    err = release_object(kind, obj);
    return err ? wg_fail(err) : TRUE;
}

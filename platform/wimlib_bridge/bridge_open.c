/*
 * bridge_open.c - libwim-15.dll: library set-up, the state kept per WIMStruct,
 * opening, creating and freeing WIMs, and their information.
 */
#include "bridge_private.h"

/* ------------------------------------------------------------------------- */
/* Library set-up                                                            */
/* ------------------------------------------------------------------------- */

static INIT_ONCE g_init_once = INIT_ONCE_STATIC_INIT;
static int g_init_result;
static int g_init_flags;

static BOOL CALLBACK do_init(INIT_ONCE *once, void *param, void **ctx)
{
    int flags = g_init_flags | WIMLIB_INIT_FLAG_ASSUME_UTF8;

    (void)once, (void)param, (void)ctx;
    if (!(flags & WIMLIB_INIT_FLAG_DEFAULT_CASE_SENSITIVE))
        flags |= WIMLIB_INIT_FLAG_DEFAULT_CASE_INSENSITIVE;
    g_init_result = wimlib_global_init(flags);
    return TRUE;
}

/* Initialises libwim once, before the first call that uses it; the first
 * wimlib_global_init of the program chooses the flags. */
int ensure_init(void)
{
    InitOnceExecuteOnce(&g_init_once, do_init, NULL, NULL);
    return g_init_result;
}

/* ------------------------------------------------------------------------- */
/* Per-WIM state                                                             */
/* ------------------------------------------------------------------------- */

static SRWLOCK g_states_lock = SRWLOCK_INIT;
static struct wim_state *g_states;

struct wim_state *find_state(const WIMStruct *wim, BOOL create)
{
    struct wim_state *st;

    if (!wim)
        return NULL;
    AcquireSRWLockExclusive(&g_states_lock);
    for (st = g_states; st; st = st->next)
        if (st->wim == wim)
            break;
    if (!st && create) {
        st = calloc(1, sizeof(*st));
        if (st) {
            st->wim = wim;
            st->next = g_states;
            g_states = st;
        }
    }
    ReleaseSRWLockExclusive(&g_states_lock);
    return st;
}

static void drop_state(const WIMStruct *wim)
{
    struct wim_state **link, *st = NULL;
    struct kept_string *s, *next;

    AcquireSRWLockExclusive(&g_states_lock);
    for (link = &g_states; *link; link = &(*link)->next) {
        if ((*link)->wim == wim) {
            st = *link;
            *link = st->next;
            break;
        }
    }
    ReleaseSRWLockExclusive(&g_states_lock);
    if (!st)
        return;
    for (s = st->strings; s; s = next) {
        next = s->next;
        free(s->key);
        free(s->utf8);
        free(s->text);
        free(s);
    }
    free(st->split_part_name);
    free(st);
}

/*
 * Returns a UTF-16 copy of a string that libwim returned for wim, kept until
 * wimlib_free.  The same key and text give the same pointer, so asking
 * again does not use more memory.
 */
static const WCHAR *keep_string(const WIMStruct *wim, const char *key, const char *utf8)
{
    struct wim_state *st;
    struct kept_string *s;

    if (!utf8)
        return NULL;
    st = find_state(wim, TRUE);
    if (!st)
        return NULL;
    for (s = st->strings; s; s = s->next)
        if (!strcmp(s->key, key) && !strcmp(s->utf8, utf8))
            return s->text;
    s = calloc(1, sizeof(*s));
    if (!s)
        return NULL;
    s->key = strdup(key);
    s->utf8 = strdup(utf8);
    s->text = wc_from_utf8(utf8);
    if (!s->key || !s->utf8 || !s->text) {
        free(s->key);
        free(s->utf8);
        free(s->text);
        free(s);
        return NULL;
    }
    s->next = st->strings;
    st->strings = s;
    return s->text;
}

/* ------------------------------------------------------------------------- */
/* Opening, creating and freeing                                             */
/* ------------------------------------------------------------------------- */

int EXPORT bridge_global_init(int init_flags)
{
    g_init_flags = init_flags;
    return ensure_init();
}

/*
 * Other threads may still be using the library when the program cleans up
 * (the program calls this after every operation, and each operation runs on
 * a worker thread of its own), and libwim's clean-up tears down libxml2 for
 * the whole process.  The library's memory is released when the process
 * ends, so the clean-up is left to that.
 */
void EXPORT bridge_global_cleanup(void)
{
}

int EXPORT bridge_set_print_errors(bool show)
{
    ensure_init();
    return wimlib_set_print_errors(show);
}

int EXPORT bridge_open_wim(const WCHAR *path, int open_flags, WIMStruct **wim_ret)
{
    char *upath;
    int ret;

    ensure_init();
    if (!path || !wim_ret)
        return WIMLIB_ERR_INVALID_PARAM;
    *wim_ret = NULL;
    if (!path_arg(path, &upath))
        return conv_error(WIMLIB_ERR_OPEN);
    ret = wimlib_open_wim(upath, open_flags, wim_ret);
    free(upath);
    return ret;
}

int EXPORT bridge_create_new_wim(int ctype, WIMStruct **wim_ret)
{
    ensure_init();
    return wimlib_create_new_wim((enum wimlib_compression_type)ctype, wim_ret);
}

void EXPORT bridge_free(WIMStruct *wim)
{
    if (!wim)
        return;
    /* Forget the state while the address still belongs to this WIM: once
     * freed, another thread may get the same address for a new one. */
    drop_state(wim);
    wimlib_free(wim);
}


/*
 * The Unix paths one name of wimlib_reference_resource_files stands for.
 * Globs are expanded here: Windows file names ignore case, so "base*.WIM"
 * has to find "base2.wim", which glob(3) would not.  Returns 0 or a wimlib
 * error.
 */
static int expand_ref_name(const WCHAR *name, int ref_flags, char ***found, size_t *nfound)
{
    *found = NULL;
    *nfound = 0;
    if (!name)
        return WIMLIB_ERR_INVALID_PARAM;
    if (ref_flags & WIMLIB_REF_FLAG_GLOB_ENABLE) {
        DWORD err = wc_expand_glob(name, found, nfound);
        if (err)
            return err == ERROR_OUTOFMEMORY ? WIMLIB_ERR_NOMEM : WIMLIB_ERR_OPEN;
        if (!*nfound && (ref_flags & WIMLIB_REF_FLAG_GLOB_ERR_ON_NOMATCH))
            return WIMLIB_ERR_GLOB_HAD_NO_MATCHES;
    }
    if (*nfound)
        return 0;
    /* Not a glob, or one without matches: the name itself, which libwim
     * then fails to open just as with a glob of its own. */
    *found = calloc(1, sizeof(**found));
    if (*found)
        (*found)[0] = wc_unix_path(name);
    if (!*found || !(*found)[0]) {
        wc_free_list(*found, 1);
        *found = NULL;
        return conv_error(WIMLIB_ERR_OPEN);
    }
    *nfound = 1;
    return 0;
}

/* A growing list of Unix paths. */
struct path_list {
    char **paths;
    size_t n, cap;
};

/* Moves the nfound strings of found to the end of list and frees found. */
static int append_paths(struct path_list *list, char **found, size_t nfound)
{
    size_t k;

    if (list->n + nfound > list->cap) {
        size_t ncap = (list->n + nfound) * 2;
        char **grown = realloc(list->paths, ncap * sizeof(*grown));
        if (!grown) {
            wc_free_list(found, nfound);
            return WIMLIB_ERR_NOMEM;
        }
        list->paths = grown;
        list->cap = ncap;
    }
    for (k = 0; k < nfound; k++)
        list->paths[list->n++] = found[k];
    free(found);
    return 0;
}

int EXPORT bridge_reference_resource_files(WIMStruct *wim, const WCHAR *const *globs, unsigned count,
                                           int ref_flags, int open_flags)
{
    struct path_list list = {NULL, 0, 0};
    size_t i;
    int ret = 0;

    if (!wim || (count && !globs))
        return WIMLIB_ERR_INVALID_PARAM;
    for (i = 0; i < count && !ret; i++) {
        char **found;
        size_t nfound;

        ret = expand_ref_name(globs[i], ref_flags, &found, &nfound);
        if (!ret)
            ret = append_paths(&list, found, nfound);
    }
    if (!ret)
        ret = wimlib_reference_resource_files(wim, (const char *const *)list.paths, (unsigned)list.n,
                                              ref_flags & ~(WIMLIB_REF_FLAG_GLOB_ENABLE |
                                                            WIMLIB_REF_FLAG_GLOB_ERR_ON_NOMATCH),
                                              open_flags);
    wc_free_list(list.paths, list.n);
    return ret;
}

/* ------------------------------------------------------------------------- */
/* Information                                                               */
/* ------------------------------------------------------------------------- */

int EXPORT bridge_get_wim_info(WIMStruct *wim, struct wimlib_wim_info *info)
{
    return wimlib_get_wim_info(wim, info);
}

int EXPORT bridge_set_wim_info(WIMStruct *wim, const struct wimlib_wim_info *info, int which)
{
    return wimlib_set_wim_info(wim, info, which);
}

static pe_malloc_func pe_malloc(void)
{
    static pe_malloc_func fn;

    if (!fn) {
        HMODULE crt = LoadLibraryA("msvcrt.dll");
        if (crt)
            fn = (pe_malloc_func)(void (*)(void))GetProcAddress(crt, "malloc");
    }
    return fn;
}

/* The XML data (UTF-16LE, as stored in the file) in memory that the caller
 * releases with free() of msvcrt, the C runtime of mingw programs. */
int EXPORT bridge_get_xml_data(WIMStruct *wim, void **buf_ret, size_t *size_ret)
{
    void *buf = NULL, *copy;
    size_t size = 0;
    pe_malloc_func alloc = pe_malloc();
    int ret;

    if (!buf_ret || !size_ret)
        return WIMLIB_ERR_INVALID_PARAM;
    *buf_ret = NULL;
    *size_ret = 0;
    if (!alloc)
        return WIMLIB_ERR_NOMEM;
    ret = wimlib_get_xml_data(wim, &buf, &size);
    if (ret)
        return ret;
    copy = alloc(size ? size : 1);
    if (!copy) {
        free(buf);
        return WIMLIB_ERR_NOMEM;
    }
    memcpy(copy, buf, size);
    free(buf);
    *buf_ret = copy;
    *size_ret = size;
    return 0;
}

/* Image names, descriptions and properties: text, kept for the caller until
 * wimlib_free like libwim's own strings. */
const WCHAR *EXPORT bridge_get_image_name(const WIMStruct *wim, int image)
{
    char key[32];
    snprintf(key, sizeof(key), "name:%d", image);
    return keep_string(wim, key, wimlib_get_image_name(wim, image));
}

const WCHAR *EXPORT bridge_get_image_description(const WIMStruct *wim, int image)
{
    char key[32];
    snprintf(key, sizeof(key), "description:%d", image);
    return keep_string(wim, key, wimlib_get_image_description(wim, image));
}

const WCHAR *EXPORT bridge_get_image_property(const WIMStruct *wim, int image, const WCHAR *name)
{
    char *uname, *key;
    const WCHAR *ret = NULL;

    if (!text_arg(name, &uname) || !uname)
        return NULL;
    key = malloc(strlen(uname) + 32);
    if (key) {
        sprintf(key, "property:%d:%s", image, uname);
        ret = keep_string(wim, key, wimlib_get_image_property(wim, image, uname));
        free(key);
    }
    free(uname);
    return ret;
}

int EXPORT bridge_set_image_property(WIMStruct *wim, int image, const WCHAR *name, const WCHAR *value)
{
    char *uname = NULL, *uvalue = NULL;
    int ret;

    if (!text_arg(name, &uname) || !text_arg(value, &uvalue))
        ret = conv_error(WIMLIB_ERR_INVALID_PARAM);
    else
        ret = wimlib_set_image_property(wim, image, uname, uvalue);
    free(uname);
    free(uvalue);
    return ret;
}

typedef int (*text_setter)(WIMStruct *, int, const char *);

static int set_text(text_setter fn, WIMStruct *wim, int image, const WCHAR *text)
{
    char *utext;
    int ret;

    if (!text_arg(text, &utext))
        return conv_error(WIMLIB_ERR_INVALID_PARAM);
    ret = fn(wim, image, utext);
    free(utext);
    return ret;
}

int EXPORT bridge_set_image_name(WIMStruct *wim, int image, const WCHAR *name)
{
    return set_text(wimlib_set_image_name, wim, image, name);
}

/* Exported under the library's own spelling and under the correct one. */
int EXPORT bridge_set_image_descripton(WIMStruct *wim, int image, const WCHAR *description)
{
    return set_text(wimlib_set_image_descripton, wim, image, description);
}

int EXPORT bridge_set_image_flags(WIMStruct *wim, int image, const WCHAR *flags)
{
    return set_text(wimlib_set_image_flags, wim, image, flags);
}

int EXPORT bridge_resolve_image(WIMStruct *wim, const WCHAR *name_or_num)
{
    char *u;
    int ret;

    if (!text_arg(name_or_num, &u))
        return WIMLIB_NO_IMAGE;
    ret = wimlib_resolve_image(wim, u);
    free(u);
    return ret;
}

bool EXPORT bridge_image_name_in_use(const WIMStruct *wim, const WCHAR *name)
{
    char *u;
    bool ret;

    if (!text_arg(name, &u))
        return false;
    ret = wimlib_image_name_in_use(wim, u);
    free(u);
    return ret;
}

/* Static texts of libwim, converted once per code. */
#define TEXT_CACHE_SIZE 256

static const WCHAR *cached_text(WCHAR *volatile *slot, const char *utf8)
{
    WCHAR *w, *old;

    if (!utf8)
        return NULL;
    if (!slot)
        return NULL; /* outside the cache: not expected for libwim's codes */
    if (*slot)
        return *slot;
    w = wc_from_utf8(utf8);
    if (!w)
        return NULL;
    old = InterlockedCompareExchangePointer((void *volatile *)slot, w, NULL);
    if (old) {
        free(w);
        return old;
    }
    return w;
}

const WCHAR *EXPORT bridge_get_error_string(int code)
{
    static WCHAR *volatile texts[TEXT_CACHE_SIZE];
    return cached_text(code >= 0 && code < TEXT_CACHE_SIZE ? &texts[code] : NULL,
                       wimlib_get_error_string((enum wimlib_error_code)code));
}

const WCHAR *EXPORT bridge_get_compression_type_string(int ctype)
{
    static WCHAR *volatile texts[TEXT_CACHE_SIZE];
    return cached_text(ctype >= 0 && ctype < TEXT_CACHE_SIZE ? &texts[ctype] : NULL,
                       wimlib_get_compression_type_string((enum wimlib_compression_type)ctype));
}

const WCHAR *EXPORT bridge_get_version_string(void)
{
    static WCHAR *volatile text;
    return cached_text(&text, wimlib_get_version_string());
}

uint32_t EXPORT bridge_get_version(void)
{
    return wimlib_get_version();
}


/*
 * bridge_write.c - libwim-15.dll: adding, changing, exporting and deleting
 * images, and writing, splitting and verifying WIM files.
 */
#include "bridge_private.h"

/* ------------------------------------------------------------------------- */
/* Adding and changing images                                                */
/* ------------------------------------------------------------------------- */

int EXPORT bridge_add_image(WIMStruct *wim, const WCHAR *source, const WCHAR *name,
                            const WCHAR *config_file, int add_flags)
{
    char *usource = NULL, *uname = NULL, *uconfig = NULL;
    int ret;

    if (!path_arg(source, &usource) || !path_arg(config_file, &uconfig))
        ret = conv_error(WIMLIB_ERR_OPEN);
    else if (!text_arg(name, &uname))
        ret = conv_error(WIMLIB_ERR_INVALID_PARAM);
    else
        ret = wimlib_add_image(wim, usource, uname, uconfig, add_flags);
    free(usource);
    free(uname);
    free(uconfig);
    return ret;
}

int EXPORT bridge_add_image_multisource(WIMStruct *wim, const struct wimlib_capture_source *sources,
                                        size_t num_sources, const WCHAR *name,
                                        const WCHAR *config_file, int add_flags)
{
    struct wimlib_capture_source *usources;
    char *uname = NULL, *uconfig = NULL;
    size_t i, done = 0;
    int ret = 0;

    if (num_sources && !sources)
        return WIMLIB_ERR_INVALID_PARAM;
    usources = calloc(num_sources ? num_sources : 1, sizeof(*usources));
    if (!usources)
        return WIMLIB_ERR_NOMEM;
    for (; done < num_sources; done++) {
        usources[done].reserved = sources[done].reserved;
        if (!path_arg((const WCHAR *)sources[done].fs_source_path, &usources[done].fs_source_path)) {
            ret = conv_error(WIMLIB_ERR_OPEN);
            break;
        }
        if (!image_path_arg((const WCHAR *)sources[done].wim_target_path,
                            &usources[done].wim_target_path)) {
            free(usources[done].fs_source_path);
            ret = conv_error(WIMLIB_ERR_INVALID_PARAM);
            break;
        }
    }
    if (!ret && (!text_arg(name, &uname) || !path_arg(config_file, &uconfig)))
        ret = conv_error(WIMLIB_ERR_INVALID_PARAM);
    if (!ret)
        ret = wimlib_add_image_multisource(wim, usources, num_sources, uname, uconfig, add_flags);
    for (i = 0; i < done; i++) {
        free(usources[i].fs_source_path);
        free(usources[i].wim_target_path);
    }
    free(usources);
    free(uname);
    free(uconfig);
    return ret;
}

int EXPORT bridge_add_empty_image(WIMStruct *wim, const WCHAR *name, int *new_idx_ret)
{
    char *uname;
    int ret;

    if (!text_arg(name, &uname))
        return conv_error(WIMLIB_ERR_INVALID_PARAM);
    ret = wimlib_add_empty_image(wim, uname, new_idx_ret);
    free(uname);
    return ret;
}

static void free_update_commands(struct wimlib_update_command *cmds, size_t count)
{
    size_t i;

    for (i = 0; i < count; i++) {
        switch (cmds[i].op) {
        case WIMLIB_UPDATE_OP_ADD:
            free(cmds[i].add.fs_source_path);
            free(cmds[i].add.wim_target_path);
            free(cmds[i].add.config_file);
            break;
        case WIMLIB_UPDATE_OP_DELETE:
            free(cmds[i].delete_.wim_path);
            break;
        case WIMLIB_UPDATE_OP_RENAME:
            free(cmds[i].rename.wim_source_path);
            free(cmds[i].rename.wim_target_path);
            break;
        }
    }
    free(cmds);
}

/* Converts one update command; returns 0 or a wimlib error. */
static int convert_update_command(const struct wimlib_update_command *in, struct wimlib_update_command *out)
{
    out->op = in->op;
    switch (in->op) {
    case WIMLIB_UPDATE_OP_ADD:
        out->add.add_flags = in->add.add_flags;
        if (!path_arg((const WCHAR *)in->add.fs_source_path, &out->add.fs_source_path) ||
            !path_arg((const WCHAR *)in->add.config_file, &out->add.config_file))
            return conv_error(WIMLIB_ERR_OPEN);
        if (!image_path_arg((const WCHAR *)in->add.wim_target_path, &out->add.wim_target_path))
            return conv_error(WIMLIB_ERR_INVALID_PARAM);
        return 0;
    case WIMLIB_UPDATE_OP_DELETE:
        out->delete_.delete_flags = in->delete_.delete_flags;
        if (!image_path_arg((const WCHAR *)in->delete_.wim_path, &out->delete_.wim_path))
            return conv_error(WIMLIB_ERR_INVALID_PARAM);
        return 0;
    case WIMLIB_UPDATE_OP_RENAME:
        out->rename.rename_flags = in->rename.rename_flags;
        if (!image_path_arg((const WCHAR *)in->rename.wim_source_path, &out->rename.wim_source_path) ||
            !image_path_arg((const WCHAR *)in->rename.wim_target_path, &out->rename.wim_target_path))
            return conv_error(WIMLIB_ERR_INVALID_PARAM);
        return 0;
    }
    return WIMLIB_ERR_INVALID_PARAM;
}

int EXPORT bridge_update_image(WIMStruct *wim, int image, const struct wimlib_update_command *cmds,
                               size_t num_cmds, int update_flags)
{
    struct wimlib_update_command *ucmds;
    struct wim_state *st;
    size_t i;
    int ret = 0;

    if (num_cmds && !cmds)
        return WIMLIB_ERR_INVALID_PARAM;
    ucmds = calloc(num_cmds ? num_cmds : 1, sizeof(*ucmds));
    if (!ucmds)
        return WIMLIB_ERR_NOMEM;
    for (i = 0; i < num_cmds && !ret; i++)
        ret = convert_update_command(&cmds[i], &ucmds[i]);
    if (ret) {
        free_update_commands(ucmds, i);
        return ret;
    }
    /* Lets the progress messages point at the caller's commands. */
    st = find_state(wim, FALSE);
    if (st) {
        st->update_pe = cmds;
        st->update_count = num_cmds;
    }
    ret = wimlib_update_image(wim, image, ucmds, num_cmds, update_flags);
    if (st) {
        st->update_pe = NULL;
        st->update_count = 0;
    }
    free_update_commands(ucmds, num_cmds);
    return ret;
}

int EXPORT bridge_add_tree(WIMStruct *wim, int image, const WCHAR *fs_source_path,
                           const WCHAR *wim_target_path, int add_flags)
{
    struct wimlib_update_command cmd;

    memset(&cmd, 0, sizeof(cmd));
    cmd.op = WIMLIB_UPDATE_OP_ADD;
    cmd.add.fs_source_path = (char *)fs_source_path;
    cmd.add.wim_target_path = (char *)wim_target_path;
    cmd.add.add_flags = add_flags;
    return bridge_update_image(wim, image, &cmd, 1, 0);
}

int EXPORT bridge_delete_path(WIMStruct *wim, int image, const WCHAR *path, int delete_flags)
{
    struct wimlib_update_command cmd;

    memset(&cmd, 0, sizeof(cmd));
    cmd.op = WIMLIB_UPDATE_OP_DELETE;
    cmd.delete_.wim_path = (char *)path;
    cmd.delete_.delete_flags = delete_flags;
    return bridge_update_image(wim, image, &cmd, 1, 0);
}

int EXPORT bridge_rename_path(WIMStruct *wim, int image, const WCHAR *source_path, const WCHAR *dest_path)
{
    struct wimlib_update_command cmd;

    memset(&cmd, 0, sizeof(cmd));
    cmd.op = WIMLIB_UPDATE_OP_RENAME;
    cmd.rename.wim_source_path = (char *)source_path;
    cmd.rename.wim_target_path = (char *)dest_path;
    return bridge_update_image(wim, image, &cmd, 1, 0);
}

int EXPORT bridge_delete_image(WIMStruct *wim, int image)
{
    return wimlib_delete_image(wim, image);
}

int EXPORT bridge_export_image(WIMStruct *src_wim, int src_image, WIMStruct *dest_wim,
                               const WCHAR *dest_name, const WCHAR *dest_description, int export_flags)
{
    char *uname = NULL, *udesc = NULL;
    int ret;

    if (!text_arg(dest_name, &uname) || !text_arg(dest_description, &udesc))
        ret = conv_error(WIMLIB_ERR_INVALID_PARAM);
    else
        ret = wimlib_export_image(src_wim, src_image, dest_wim, uname, udesc, export_flags);
    free(uname);
    free(udesc);
    return ret;
}

/* ------------------------------------------------------------------------- */
/* Writing                                                                   */
/* ------------------------------------------------------------------------- */

int EXPORT bridge_write(WIMStruct *wim, const WCHAR *path, int image, int write_flags, unsigned num_threads)
{
    char *upath;
    int ret;

    if (!path)
        return WIMLIB_ERR_INVALID_PARAM;
    if (!path_arg(path, &upath))
        return conv_error(WIMLIB_ERR_OPEN);
    ret = wimlib_write(wim, upath, image, write_flags, num_threads);
    free(upath);
    return ret;
}

int EXPORT bridge_overwrite(WIMStruct *wim, int write_flags, unsigned num_threads)
{
    return wimlib_overwrite(wim, write_flags, num_threads);
}

int EXPORT bridge_split(WIMStruct *wim, const WCHAR *swm_name, uint64_t part_size, int write_flags)
{
    struct wim_state *st;
    char *uname;
    int ret;

    if (!swm_name)
        return WIMLIB_ERR_INVALID_PARAM;
    if (!path_arg(swm_name, &uname))
        return conv_error(WIMLIB_ERR_OPEN);
    ret = wimlib_split(wim, uname, part_size, write_flags);
    free(uname);
    st = find_state(wim, FALSE);
    if (st) {
        free(st->split_part_name);
        st->split_part_name = NULL;
    }
    return ret;
}

int EXPORT bridge_verify_wim(WIMStruct *wim, int verify_flags)
{
    return wimlib_verify_wim(wim, verify_flags);
}

int EXPORT bridge_set_output_chunk_size(WIMStruct *wim, uint32_t chunk_size)
{
    return wimlib_set_output_chunk_size(wim, chunk_size);
}

int EXPORT bridge_set_output_pack_chunk_size(WIMStruct *wim, uint32_t chunk_size)
{
    return wimlib_set_output_pack_chunk_size(wim, chunk_size);
}

int EXPORT bridge_set_output_compression_type(WIMStruct *wim, int ctype)
{
    return wimlib_set_output_compression_type(wim, (enum wimlib_compression_type)ctype);
}

int EXPORT bridge_set_output_pack_compression_type(WIMStruct *wim, int ctype)
{
    return wimlib_set_output_pack_compression_type(wim, (enum wimlib_compression_type)ctype);
}

int EXPORT bridge_set_default_compression_level(int ctype, unsigned int level)
{
    return wimlib_set_default_compression_level(ctype, level);
}

/* ------------------------------------------------------------------------- */
/* Capturing against a template                                              */
/* ------------------------------------------------------------------------- */

int EXPORT bridge_reference_template_image(WIMStruct *wim, int new_image, WIMStruct *template_wim,
                                           int template_image, int flags)
{
    return wimlib_reference_template_image(wim, new_image, template_wim, template_image, flags);
}

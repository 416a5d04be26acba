// wimlib's public header in its Windows form (UTF-16 wimlib_tchar), and the
// pointer types of the functions the program binds at run time.
#pragma once
#include <wimlib.h>

#define QUARRY_WIMLIB_PFN(name) typedef decltype(&::name) PFN_##name
QUARRY_WIMLIB_PFN(wimlib_open_wim);
QUARRY_WIMLIB_PFN(wimlib_extract_image);
QUARRY_WIMLIB_PFN(wimlib_create_new_wim);
QUARRY_WIMLIB_PFN(wimlib_reference_resource_files);
QUARRY_WIMLIB_PFN(wimlib_add_image);
QUARRY_WIMLIB_PFN(wimlib_write);
QUARRY_WIMLIB_PFN(wimlib_overwrite);
QUARRY_WIMLIB_PFN(wimlib_iterate_dir_tree);
QUARRY_WIMLIB_PFN(wimlib_extract_paths);
QUARRY_WIMLIB_PFN(wimlib_register_progress_function);
QUARRY_WIMLIB_PFN(wimlib_get_wim_info);
QUARRY_WIMLIB_PFN(wimlib_get_xml_data);
QUARRY_WIMLIB_PFN(wimlib_set_wim_info);
QUARRY_WIMLIB_PFN(wimlib_set_image_flags);
QUARRY_WIMLIB_PFN(wimlib_set_image_name);
QUARRY_WIMLIB_PFN(wimlib_set_image_descripton);
QUARRY_WIMLIB_PFN(wimlib_set_output_chunk_size);
QUARRY_WIMLIB_PFN(wimlib_delete_image);
QUARRY_WIMLIB_PFN(wimlib_split);
QUARRY_WIMLIB_PFN(wimlib_export_image);
QUARRY_WIMLIB_PFN(wimlib_verify_wim);
QUARRY_WIMLIB_PFN(wimlib_free);
QUARRY_WIMLIB_PFN(wimlib_global_cleanup);
QUARRY_WIMLIB_PFN(wimlib_get_image_property);
QUARRY_WIMLIB_PFN(wimlib_update_image);
QUARRY_WIMLIB_PFN(wimlib_set_output_compression_type);
QUARRY_WIMLIB_PFN(wimlib_set_image_property);
QUARRY_WIMLIB_PFN(wimlib_reference_template_image);
#undef QUARRY_WIMLIB_PFN

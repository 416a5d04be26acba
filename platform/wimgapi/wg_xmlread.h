/*
 * wg_xmlread.h - reading a caller's image XML with libxml2.
 *
 * wg_xmlread.c is compiled by the plain Linux compiler, not winegcc:
 * libxml2's headers (and the ICU headers they pull in) cannot be read with
 * the Windows macros winegcc defines.  So this interface uses only C types
 * that mean the same on both sides.
 */
#ifndef WG_XMLREAD_H
#define WG_XMLREAD_H

#include <stddef.h>

enum { WG_XML_OK = 0, WG_XML_MALFORMED = 1, WG_XML_NO_IMAGE = 2, WG_XML_NOMEM = 3 };

/* Every element of the image (the IMAGE element whose INDEX attribute
 * is index, else the first) that holds no element, in
 * document order: (*paths)[i] is its path below the image
 * ("WINDOWS/VERSION/BUILD"), (*values)[i] its text ("" when empty), all
 * from malloc; free them with wg_xml_free_leaves. */
int wg_xml_read_leaves(const char *xml, size_t len, int index, char ***paths, char ***values, size_t *count);
void wg_xml_free_leaves(char **paths, char **values, size_t count);

#endif /* WG_XMLREAD_H */

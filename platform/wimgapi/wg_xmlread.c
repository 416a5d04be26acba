/*
 * wg_xmlread.c - reading a caller's image XML with libxml2 (see
 * wg_xmlread.h).  Entities, character references, CDATA sections and
 * attributes mean what XML says they mean.  Nothing is ever loaded from
 * outside the text: no network, no external DTD, and external entities
 * are not substituted.
 */
#include <stdlib.h>
#include <string.h>

#include <libxml/parser.h>
#include <libxml/tree.h>

#include "wg_xmlread.h"

/* The IMAGE element whose INDEX is index, below node or after it; *first
 * gets the first IMAGE element met. */
static xmlNodePtr find_image(xmlNodePtr node, int index, xmlNodePtr *first)
{
    xmlNodePtr found = NULL;

    for (; node && !found; node = node->next) {
        if (node->type != XML_ELEMENT_NODE)
            continue;
        if (!xmlStrcmp(node->name, BAD_CAST "IMAGE")) {
            xmlChar *attr = xmlGetProp(node, BAD_CAST "INDEX");
            if (!*first)
                *first = node;
            if (attr && strtol((const char *)attr, NULL, 10) == index)
                found = node;
            xmlFree(attr);
        }
        if (!found)
            found = find_image(node->children, index, first);
    }
    return found;
}

/* Text of the child element tag of image; NULL when absent or empty. */
static char *element_value(xmlNodePtr image, const char *tag, int *oom)
{
    xmlNodePtr child;
    xmlChar *content;
    char *value = NULL;

    for (child = image->children; child; child = child->next)
        if (child->type == XML_ELEMENT_NODE && !xmlStrcmp(child->name, BAD_CAST tag))
            break;
    if (!child)
        return NULL;
    content = xmlNodeGetContent(child);
    if (content && *content) {
        value = strdup((const char *)content);
        if (!value)
            *oom = 1;
    }
    xmlFree(content);
    return value;
}

int wg_xml_read_image(const char *xml, size_t len, int index, const char *const *names, char **values,
                      size_t n)
{
    xmlNodePtr image, first = NULL;
    xmlDocPtr doc;
    int oom = 0, ret;
    size_t i;

    for (i = 0; i < n; i++)
        values[i] = NULL;
    if (len > 0x7FFFFFFF)
        return WG_XML_NOMEM;
    doc = xmlReadMemory(xml, (int)len, "image.xml", "UTF-8",
                        XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!doc)
        return WG_XML_MALFORMED;
    image = find_image(xmlDocGetRootElement(doc), index, &first);
    if (!image)
        image = first;
    for (i = 0; image && i < n && !oom; i++)
        values[i] = element_value(image, names[i], &oom);
    xmlFreeDoc(doc);
    ret = oom ? WG_XML_NOMEM : image ? WG_XML_OK : WG_XML_NO_IMAGE;
    if (ret != WG_XML_OK) {
        for (i = 0; i < n; i++) {
            free(values[i]);
            values[i] = NULL;
        }
    }
    return ret;
}

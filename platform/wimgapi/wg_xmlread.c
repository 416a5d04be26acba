/*
 * wg_xmlread.c - reading a caller's image XML with libxml2 (see
 * wg_xmlread.h).  Entities, character references, CDATA sections and
 * attributes mean what XML says they mean.  Nothing is ever loaded from
 * outside the text: no network, no external DTD, and external entities
 * are not substituted.
 */
#include <stdio.h>
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

struct leaves {
    char **paths, **values;
    size_t count, room;
    int oom;
};

static void add_leaf(struct leaves *l, const char *path, const xmlChar *text)
{
    char *p, *v;

    if (l->oom)
        return;
    if (l->count == l->room) {
        size_t room = l->room ? l->room * 2 : 16;
        char **np = realloc(l->paths, room * sizeof(char *));
        char **nv = np ? realloc(l->values, room * sizeof(char *)) : NULL;
        if (np)
            l->paths = np;
        if (!nv) {
            l->oom = 1;
            return;
        }
        l->values = nv;
        l->room = room;
    }
    p = strdup(path);
    v = strdup(text ? (const char *)text : "");
    if (!p || !v) {
        free(p);
        free(v);
        l->oom = 1;
        return;
    }
    l->paths[l->count] = p;
    l->values[l->count] = v;
    l->count++;
}

static int has_element_child(xmlNodePtr node)
{
    for (node = node->children; node; node = node->next)
        if (node->type == XML_ELEMENT_NODE)
            return 1;
    return 0;
}

static void walk_leaves(xmlNodePtr node, const char *prefix, struct leaves *l)
{
    for (; node && !l->oom; node = node->next) {
        size_t n;
        char *path;

        if (node->type != XML_ELEMENT_NODE)
            continue;
        n = strlen(prefix) + strlen((const char *)node->name) + 2;
        path = malloc(n);
        if (!path) {
            l->oom = 1;
            return;
        }
        snprintf(path, n, "%s%s%s", prefix, *prefix ? "/" : "", (const char *)node->name);
        if (has_element_child(node)) {
            walk_leaves(node->children, path, l);
        } else {
            xmlChar *content = xmlNodeGetContent(node);
            add_leaf(l, path, content);
            xmlFree(content);
        }
        free(path);
    }
}

void wg_xml_free_leaves(char **paths, char **values, size_t count)
{
    size_t i;

    for (i = 0; i < count; i++) {
        free(paths[i]);
        free(values[i]);
    }
    free(paths);
    free(values);
}

int wg_xml_read_leaves(const char *xml, size_t len, int index, char ***paths, char ***values, size_t *count)
{
    struct leaves l = {0};
    xmlNodePtr image, first = NULL;
    xmlDocPtr doc;

    *paths = NULL;
    *values = NULL;
    *count = 0;
    if (len > 0x7FFFFFFF)
        return WG_XML_NOMEM;
    doc = xmlReadMemory(xml, (int)len, "image.xml", "UTF-8",
                        XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!doc)
        return WG_XML_MALFORMED;
    image = find_image(xmlDocGetRootElement(doc), index, &first);
    if (!image)
        image = first;
    if (image)
        walk_leaves(image->children, "", &l);
    xmlFreeDoc(doc);
    if (!image || l.oom) {
        wg_xml_free_leaves(l.paths, l.values, l.count);
        return l.oom ? WG_XML_NOMEM : WG_XML_NO_IMAGE;
    }
    *paths = l.paths;
    *values = l.values;
    *count = l.count;
    return WG_XML_OK;
}

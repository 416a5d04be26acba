/* Drops one file on an X window as a file manager does (XDND, version 5):
 *
 *   xdnd_drop WINDOW X Y URI
 *
 * WINDOW is the X window id, X and Y the root coordinates of the drop, URI
 * the file as "file:///...". Prints what the target answers and ends with
 * status 0 when it took the drop ("XdndFinished accepted=1"), 1 when it
 * refused it, 2 when the window does not take drops at all. */
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static Display* d;
static Window src, target;

static void send(Atom type, long l1, long l2, long l3, long l4) {
  XEvent e;
  memset(&e, 0, sizeof e);
  e.xclient.type = ClientMessage;
  e.xclient.display = d;
  e.xclient.window = target;
  e.xclient.format = 32;
  e.xclient.message_type = type;
  e.xclient.data.l[0] = (long)src;
  e.xclient.data.l[1] = l1;
  e.xclient.data.l[2] = l2;
  e.xclient.data.l[3] = l3;
  e.xclient.data.l[4] = l4;
  XSendEvent(d, target, False, NoEventMask, &e);
  XFlush(d);
}

/* The file, for the target's request of the selection. */
static void give(XSelectionRequestEvent* r, Atom uriList, const char* uri) {
  XEvent s;
  XChangeProperty(d, r->requestor, r->property, uriList, 8, PropModeReplace, (const unsigned char*)uri,
                  (int)strlen(uri));
  memset(&s, 0, sizeof s);
  s.xselection.type = SelectionNotify;
  s.xselection.requestor = r->requestor;
  s.xselection.selection = r->selection;
  s.xselection.target = r->target;
  s.xselection.property = r->property;
  s.xselection.time = r->time;
  XSendEvent(d, r->requestor, False, NoEventMask, &s);
  XFlush(d);
}

int main(int argc, char** argv) {
  if (argc != 5 || !(d = XOpenDisplay(NULL))) {
    fprintf(stderr, "usage: xdnd_drop WINDOW X Y URI (with a display)\n");
    return 2;
  }
  target = strtoul(argv[1], NULL, 0);
  int x = atoi(argv[2]), y = atoi(argv[3]);
  const char* uri = argv[4];
  Atom aware = XInternAtom(d, "XdndAware", False), selection = XInternAtom(d, "XdndSelection", False);
  Atom enter = XInternAtom(d, "XdndEnter", False), position = XInternAtom(d, "XdndPosition", False);
  Atom status = XInternAtom(d, "XdndStatus", False), drop = XInternAtom(d, "XdndDrop", False);
  Atom finished = XInternAtom(d, "XdndFinished", False), copy = XInternAtom(d, "XdndActionCopy", False);
  Atom uriList = XInternAtom(d, "text/uri-list", False);

  Atom type;
  int format;
  unsigned long count = 0, after;
  unsigned char* version = NULL;
  XGetWindowProperty(d, target, aware, 0, 1, False, AnyPropertyType, &type, &format, &count, &after, &version);
  if (count == 0) {
    printf("the window takes no drops (no XdndAware)\n");
    return 2;
  }
  src = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
  XSetSelectionOwner(d, selection, src, CurrentTime);
  send(enter, 5L << 24, (long)uriList, 0, 0);
  send(position, 0, ((long)x << 16) | y, CurrentTime, (long)copy);

  int dropped = 0;
  for (;;) {
    XEvent e;
    XNextEvent(d, &e);
    if (e.type == ClientMessage && e.xclient.message_type == status) {
      printf("XdndStatus accept=%ld\n", e.xclient.data.l[1] & 1);
      if (!dropped) send(drop, 0, CurrentTime, 0, 0);
      dropped = 1;
    } else if (e.type == SelectionRequest) {
      give(&e.xselectionrequest, uriList, uri);
    } else if (e.type == ClientMessage && e.xclient.message_type == finished) {
      long accepted = e.xclient.data.l[1] & 1;
      printf("XdndFinished accepted=%ld\n", accepted);
      return accepted ? 0 : 1;
    }
  }
}

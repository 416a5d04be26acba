// The browser's image folders read on a worker thread. The first listing of
// an image makes wimlib read and decode the image's whole metadata, and a
// folder of many thousand entries takes as long again to walk: done on the
// window's thread, that held the window for a quarter of a second and more.
//
// One worker reads at a time, through the file the page holds open (a
// BrowsedWim is used by one thread at a time). A request made while another
// is read waits for it; a newer request replaces one that has not started.
// Only the newest request's listing is handed back, on the page's thread:
// whatever the page lists in between (its own folders, the drives) drops
// the request, and its listing is then never shown.
#pragma once
#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "engine/engine.h"

class FolderLister {
 public:
  // Runs on the page's thread with the listing and the file it was read
  // from. `listed` is false when the library cannot list folders. It should
  // hold no file of its own: the lister lets go of the file when the
  // request is dropped.
  using Done =
      std::function<void(bool listed, std::unique_ptr<FolderListing> listing, std::shared_ptr<BrowsedWim> wim)>;
  // Runs on the worker with a listing read, before it is handed back: what
  // more the page wants made of it off the window's thread. The listing
  // stays where it is from then on, so what is made may point into it.
  using Prepare = std::function<void(const FolderListing& listing)>;

  FolderLister();
  // Drops the request and waits until no worker uses a file it was given.
  ~FolderLister();
  FolderLister(const FolderLister&) = delete;
  FolderLister& operator=(const FolderLister&) = delete;

  // Reads `folder` ("\\" for the root) of `image` through `wim`, runs
  // `prepare` (when given) on the listing there, and runs `done` on the
  // thread of `page`, unless a newer request or Drop came first. False when
  // no worker could be started: nothing is then asked, and neither runs.
  bool Start(HWND page, std::shared_ptr<BrowsedWim> wim, int image, const std::wstring& folder, Prepare prepare,
             Done done);
  // The request in flight is forgotten: its `done` will not run.
  void Drop();
  // Drops the request and returns once neither a worker nor a listing
  // waiting to be handed back holds a file it was given (before that file
  // is written, or the library it came from goes).
  void Quiesce();
  // From Start until its `done` ran, or it was dropped.
  bool Busy() const;

  // What the lister shares with its worker; browser_lister.cpp alone knows it.
  struct State;

 private:
  std::shared_ptr<State> state_;
};

// Runs on the worker before each folder is read (tests hold a read with
// it); empty for none. Returns the previous hook.
using FolderReadHook = std::function<void()>;
FolderReadHook SetFolderReadHook(FolderReadHook hook);

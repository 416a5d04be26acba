// The export loop of the merge and export page: every ticked image goes,
// one after another, into one destination file, on a worker thread that
// reports to the progress page.
#pragma once
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/backend.h"
#include "engine/operation.h"

class CPage_Progress;
class Dialog;
class OperationRunner;

struct ExportJob {
  struct Image {
    std::wstring source;
    int index = 0;
  };
  std::vector<Image> images;  // the ticked rows, in list order
  std::wstring destination;
  int compression = 1;  // for a new destination
  int wimBoot = 0;      // wimlib only
  const Backends* backends = nullptr;  // bound for the program's life
  BackendChoice choice;                // copied before the operation starts
  CPage_Progress* progress = nullptr;  // where the operation reports
};

// The result of the whole loop from the results of its exports: a cancel
// wins, then any failure, so that a failed export is never hidden by a
// later success.
int CombineExportResults(int combined, int next);

// Hides the advanced host and starts the export of the job through
// `runner`; it reports to the job's progress page. Returns false (the host
// shown again) when no operation could be started.
bool StartExport(Dialog* page, OperationRunner& runner, const ExportJob& job);

// The capture options dialog for a new destination, reduced to the
// default edition: its compression type and WIMBoot choice on OK.
struct Workbench;
bool AskNewDestinationOptions(HWND owner, const Workbench& bench, const std::wstring& destination, int& compression,
                              int& wimBoot);

/* A stand-in for an older Wimgapi.dll: every function the program binds
   except WIMMountImageHandle. Each one fails harmlessly. */
#include <windows.h>

#define STUB(name) __declspec(dllexport) BOOL WINAPI name(void) { SetLastError(ERROR_CALL_NOT_IMPLEMENTED); return FALSE; }
STUB(WIMCreateFile)
STUB(WIMUnmountImageHandle)
STUB(WIMGetMountedImageHandle)
STUB(WIMCommitImageHandle)
STUB(WIMSetTemporaryPath)
STUB(WIMCloseHandle)
STUB(WIMLoadImage)
STUB(WIMRegisterMessageCallback)
STUB(WIMMountImage)
STUB(WIMApplyImage)
STUB(WIMGetAttributes)
STUB(WIMSetReferenceFile)
STUB(WIMUnregisterMessageCallback)
STUB(WIMCaptureImage)
STUB(WIMSetBootImage)
STUB(WIMGetImageInformation)
STUB(WIMExportImage)
STUB(WIMSplitFile)
STUB(WIMSetImageInformation)
STUB(WIMDeleteImage)
STUB(WIMGetMountedImages)
STUB(WIMUnmountImage)

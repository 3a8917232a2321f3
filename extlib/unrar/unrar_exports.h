#pragma once
// The entry points our RAR library exports, with the vendor's names and
// calling convention; the records and codes are the shared interface.

#include "archive/unrar_interface.h"

#ifdef _WIN32
#define UNRAR_EXPORT extern "C" __declspec(dllexport)
#else
#define UNRAR_EXPORT extern "C" __attribute__((visibility("default")))
#endif

UNRAR_EXPORT void* UNRAR_CALL RAROpenArchive(RAROpenArchiveData* data);
UNRAR_EXPORT void* UNRAR_CALL RAROpenArchiveEx(RAROpenArchiveDataEx* data);
UNRAR_EXPORT int UNRAR_CALL RARCloseArchive(void* handle);
UNRAR_EXPORT int UNRAR_CALL RARReadHeader(void* handle, RARHeaderData* header);
UNRAR_EXPORT int UNRAR_CALL RARReadHeaderEx(void* handle, RARHeaderDataEx* header);
UNRAR_EXPORT int UNRAR_CALL RARProcessFile(void* handle, int operation, char* destPath,
                                           char* destName);
UNRAR_EXPORT int UNRAR_CALL RARProcessFileW(void* handle, int operation, wchar_t* destPath,
                                            wchar_t* destName);
UNRAR_EXPORT void UNRAR_CALL RARSetCallback(void* handle, UNRARCALLBACK callback,
                                            UNRAR_LPARAM userData);
UNRAR_EXPORT void UNRAR_CALL RARSetChangeVolProc(void* handle, CHANGEVOLPROC proc);
UNRAR_EXPORT void UNRAR_CALL RARSetProcessDataProc(void* handle, PROCESSDATAPROC proc);
UNRAR_EXPORT void UNRAR_CALL RARSetPassword(void* handle, char* password);
UNRAR_EXPORT int UNRAR_CALL RARGetDllVersion();

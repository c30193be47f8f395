// Record files: one fixed-layout record per file "<name><index>.rgc" in the
// data folder (folder choice 1: the second, common folder), written through
// "<path>_tmp" and a move so readers never see a torn record; a write that
// fails (a full disk) removes its temporary and leaves the old file whole.
#pragma once

#include <stdint.h>

enum { RECORD_SECOND_FOLDER = 1 };

void GetRecordFilePath(const char *name, int index, char *path, int folderChoice);
int ReadRecordFile(const char *name, int index, void *buffer, int byteCount, int folderChoice);
int ReadRecordFileEx(const char *folder, const char *name, const char *extension, void *buffer,
                     int byteCount, int folderChoice);
int WriteRecordFile(const char *name, int index, const void *buffer, int byteCount,
                    int folderChoice);
int WriteRecordFileEx(const char *folder, const char *name, const char *extension,
                      const void *buffer, int byteCount, int folderChoice);
// The bytes written to "<path>_tmp" (folders made as needed) and moved over
// path: byteCount, or 0 with the old file untouched, no temporary left and
// the system's reason in GetLastError.
int WriteFileReplacing(const char *path, const void *buffer, int byteCount);
// The same for a copy of the file source over target: true when replaced;
// a copy that does not fit never leaves a torn target.
bool CopyFileReplacing(const char *source, const char *target);
// The same for a writer of its own (an archive): it writes the temporary
// MakeReplacingPath names (false, with ERROR_FILENAME_EXCED_RANGE as the
// last error, when that name would be cut), then
// FinishReplacing moves it over path when written and true is returned;
// otherwise the temporary goes, the old file stays and GetLastError keeps
// the reason, the write's or the move's.
bool MakeReplacingPath(const char *path, char *temp);
bool FinishReplacing(const char *temp, const char *path, bool written);

enum { WRITE_TRUNCATE = 0, WRITE_APPEND = 1, WRITE_IN_PLACE = 2 };
int ReadFileData(const char *path, void *buffer, int byteCount);
int WriteFileData(const char *path, const void *buffer, int byteCount, int mode);
// The whole file in a fresh malloc'd block with a NUL after its bytes (the
// caller frees it); null when it cannot be opened or read in full, or its
// size is not below limit.
char *ReadWholeFile(const char *path, uint32_t *size, uint32_t limit);

// 0 exists or created, 1 a level could not be created, 2 empty path.
int CreateFolderPath(const char *path, bool sleepOnFailure);
// 0 a file can be created in the folder, 2 not.
int TestWriteAccess(const char *folder);

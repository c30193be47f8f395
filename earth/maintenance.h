// Start-up data maintenance: worker threads that unpack downloaded zip data
// packs into the install folder, convert "vtd" source files there into map
// files, and build the first cloud map. Each reports through
// the progress sink and ends the progress dialog with its result.
#pragma once

#include <windows.h>
#include <stdint.h>

enum {
    MAINT_OK = 0,
    MAINT_TARGET_NOT_WRITABLE = 26,   // restart elevated with "-CONVERTDATAFILES"
};

// Set by the progress dialog's cancel; cleared by the program entry before a
// conversion starts. The converter polls it.
extern volatile uint8_t gStopConversion;

// The threads first wait for the progress dialog and end it with their
// result, both through gProgressSink (framework/seams.h).

// The install folder: the text at byte 20 of the install record.
const char *InstallFolder();

// Extracts every entry of one pack into folder and deletes the pack only when
// every entry succeeded. 0, 26 when a target could not be created, or the
// first other failing code (the pack then stays).
int UnpackDataPack(const char *folder, const char *packPath);

// Every "*.zip" in folder; 0, or 26 at the first target that cannot be
// created. A pack that fails otherwise stays and the next one is tried.
int UnpackDataPacks(const char *folder);

// Every "*.vtd" in folder through the converter, each deleted after success.
// Stops at the first nonzero converter code and answers it.
int ConvertDataFiles(const char *folder, volatile uint8_t *cancel);

// Thread routines on the install folder; the exit code is the result.
DWORD WINAPI UnpackDataPacksThread(LPVOID);
DWORD WINAPI ConvertDataFilesThread(LPVOID);
DWORD WINAPI BuildCloudMapThread(LPVOID);

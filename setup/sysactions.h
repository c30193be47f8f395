// The operating-system actions behind the setup script's commands: acting as
// the user who sits at the desktop, closing the running program, starting
// programs, the logon task, links, patches, registry and file removal,
// services, files from the resource archive and the uninstaller's removal of
// itself. Every action answers 0 or a small result number.
#pragma once

#include <windows.h>
#include <stdint.h>

// The password of every resource archive; whatever builds setup programs
// packs their files with it.
#define SETUP_ARCHIVE_PASSWORD "QvtRsKstrvPkZpLk"

// The registry key whose value names are the installed programs.
#define SETUP_PROGRAMS_KEY "Software\\Kestrova"

// Shared engine flags: the wizard sets abort (a program started by "Call" is
// then terminated); a locked "CopyFile" sets restart-needed.
extern volatile LONG gSetupAbort;
extern volatile LONG gRestartNeeded;
// Where the resource archives live; 0 means the program itself.
extern HMODULE gResourceModule;

enum { SETUP_TRY_STEP_MS = 100 };

// Result numbers shared with the script runner.
enum {
    ACTION_OK = 0,
    COPY_FAILED = 8,            // also every failed extraction
    COPY_NOT_IN_ARCHIVE = 17,
    CREATEDIR_FAILED = 7,
    PATCH_FAILED = 24,
    REMOVEDIR_LATER = 20,
};

enum CopyOption { COPY_PLAIN = 0, COPY_REBOOT_IF_LOCKED = 1, COPY_SILENT = 2 };

// --- the desktop user

// On: impersonates the owner of the "Progman" window's process on this
// thread; false when any step fails (the caller goes on as itself). Off:
// reverts to the engine's own identity.
bool ActAsDesktopUser(bool on);
// A primary token of the desktop user, or 0; the caller closes it.
HANDLE DuplicateDesktopUserToken();
// A shell folder (CSIDL) of the user this thread runs as, without a
// trailing backslash; false (out empty) when it has none.
bool GetShellFolder(int csidl, char *out);
// The hive of the user this thread runs as: while impersonating, the
// desktop user's (mustClose set), else HKEY_CURRENT_USER.
HKEY OpenCurrentUserRoot(bool *mustClose);

// --- the running program

// Closes running instances of every installed program whose name contains
// name: 0, or 1 when an instance did not end.
int CloseProgram(const char *name);
// The same over the value names of another key (tests use their own).
int CloseProgramUnder(HKEY root, const char *keyPath, const char *name);
// Closes every "QRFWindow" whose title contains the text (case-insensitive)
// within timeoutMs: 0, or 1 when one did not end.
int CloseProgramWindows(const char *title, DWORD timeoutMs);

// --- starting programs

// "Run": an ".exe" (not elevated) with the desktop user's token, anything
// else through the shell: 0 started, 1 failed. Never waits.
int RunAsDesktopUser(const char *file, const char *parameters, bool elevated);
// "Call": runs "\"program\" parameters" and waits, pumping messages; a set
// abort flag terminates it with 259. 0 with its exit code, 1 not started.
int RunAndWait(const char *program, const char *parameters, const char *folder, bool hidden,
               DWORD *exitCode);

// --- logon task, links, patches

// Creates (with a program path) or deletes (without) the logon task in the
// scheduler's root folder: 0, or the number of the failing step (1 to 23).
int CreateLogonTask(const char *taskName, const char *programPath, const char *arguments);
// Up to tries attempts, delayMs apart; the last result.
int CreateLogonTaskRetrying(const char *taskName, const char *programPath, const char *arguments,
                            int tries, DWORD delayMs);
// linkPath has no extension: ".url" for "http://" targets, else ".lnk".
// 0; 1 link not made; 2 temporary link unreadable; 3 link file not written.
int CreateShellLink(const char *target, const char *linkPath, const char *arguments,
                    const char *iconFile);
// Copies source to targetFolder\patchName and applies the patch records
// {u32 offset, u32 length, bytes} of the file patchName (disk or archive).
// 0, a copy error, or 24.
int ApplyPatch(const char *source, const char *patchName, const char *targetFolder,
               DWORD tryTimeMs);

// --- registry, services, files

// True when the engine runs on a 64-bit system.
bool Is64BitSystem();
// Deletes the key with all its subkeys; view64 applies only on a 64-bit
// system. 0 or a system error code (a missing key is ERROR_FILE_NOT_FOUND).
LONG DeleteRegistryTree(HKEY root, const char *key, bool view64);
// Asks the service to stop: 0 (also when there is no such service), or 1
// when the service manager is not reachable.
int StopServiceByName(const char *name);
// Creates the folder with every missing parent: 0 or 7.
int CreateFolderTree(const char *folder);
// Removes the empty folder: 0, or 20 when it stays: scheduled for removal at
// the next restart, or not at all when it still holds files. A folder that
// does not exist is removed already.
int RemoveFolder(const char *folder);
// Deletes the file, retrying for tryTimeMs (at least 1000); a file that
// stays is scheduled for deletion at the next restart. True when gone now.
bool DeleteFileRetrying(const char *path, DWORD tryTimeMs);
// "CopyFile": from disk, or from the resource archive when source is no
// file on disk; a target that is a folder gets the source's file name.
// 0, 8 copy failed, 17 not in the archive. finalTarget (260) may be null.
int CopySetupFile(const char *source, const char *target, int option, DWORD tryTimeMs,
                  char *finalTarget);

// --- the resource archive

// Reads the file name (found case-insensitively) from the RCDATA resource
// of that name: malloc'ed bytes plus a NUL the size does not count. 0, 17
// not in the archive, 8 unreadable.
int ReadArchiveFile(const char *name, char **data, uint32_t *size);
// The file from disk, else from the archive; NUL-terminated like above.
int LoadFileOrArchive(const char *path, char **data, uint32_t *size);

// --- the system

// 600, 610, 620, 630 or 0 for the running Windows version.
int SystemVersionCode();
// Bytes free for the user on the folder's volume; 0 when unknown.
uint64_t FreeDiskSpace(const char *folder);
// Schedules the program and its folder for removal, starts the hidden
// command interpreter to delete both, and ends the process when it started.
// Answers only when it could not start it.
int RemoveSelf();

// A run without the wizard ("-SILENT" or "-INSTALL="): the phases one after
// the other, the "-USE=" files, and the log that is all a silent run leaves
// to tell how it went.
#pragma once

// Phases 0 (again), 1 and then 2 or 3, the "-USE=" files and the log: the
// final error (0 on success, also for a last error 20).
int RunSilentSetup();
// The log's path: the program's file name with ".log" for its extension, in
// the work folder or else the current folder.
void SetupLogPath(char *out);
// Overwrites the log: the error's message and the outcome line.
bool WriteSetupLog(int error);
// Overwrites the log with a message of its own (a start-up refusal) and the
// failure line.
bool WriteSetupLogMessage(int number);
// The log of a wizard cancelled while phase 1 ran: the cancel and the
// failure line.
bool WriteCancelLog();
// Copies the "-USE=" files into #INSTALLPATH#\Init: 0, or 32.
int CopyUseFiles();

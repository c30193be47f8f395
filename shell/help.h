// The program's help file: its one name and place, and opening a topic in
// it. Every dialog's Help button and the main window's help message come
// here, so that the file is looked for in one place only.
#pragma once

extern const char kHelpFileName[];   // "Veltaspar.chm"

// "<program folder>\Veltaspar.chm", cut to size.
void ProgramHelpPath(char *path, int size);

// Opens the topic (0: the start page) in the program's help file; a
// ShowHelp result (HELP_OPENED, or why not, after its message).
int ShowProgramHelp(const char *topic);

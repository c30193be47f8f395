// The engine's command line: "-SILENT", "-WORKDIR=", "-INSTALL=", "-DATA="
// and "-USE=", split into arguments the way Windows programs split theirs.
#pragma once

#include <stddef.h>

// Reads the switches into gSetup and the variables #INSTALLPATH# and
// #CUSTOMPATH#. The line is split into arguments as the C runtime splits
// argv; each argument is one switch with its value, others are ignored.
void ParseSetupCommandLine(const char *commandLine);
// The next argument after p into out[size] by those rules; the position
// after it, or null when none is left.
const char *NextCommandLineArgument(const char *p, char *out, size_t size);

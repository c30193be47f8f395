// The main program's reader of the installation record.
#include "framework/installrecord.h"

#include "framework/application.h"

static_assert((int)INSTALL_RECORD_MAIN_BYTES == (int)INSTALL_RECORD_SIZE,
              "the application object keeps the main program's part of the record");

bool ReadMainInstallRecord(const char *productName, void *out)
{
    return ReadInstallRecordPrefix(productName, out, INSTALL_RECORD_MAIN_BYTES,
                                   INSTALL_RECORD_MAIN_BYTES);
}

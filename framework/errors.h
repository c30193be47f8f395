// The framework's error codes: results of framework calls and the ids of
// their message texts in the framework string table.
#pragma once

enum {
    QRF_ERR_WINDOW = 0xF002,
    QRF_ERR_MEMORY = 0xF003,
    QRF_ERR_ICON = 0xF005,
    QRF_ERR_INDEX = 0xF006,
    QRF_ERR_NOCOMMAND = 0xF007,
    QRF_ERR_ARGUMENT = 0xF008,
    QRF_ERR_NOICON = 0xF009,
    QRF_ERR_IMAGELIST = 0xF00A,
    QRF_ERR_COMMANDTABLE = 0xF00B,
    QRF_ERR_NOMENUCOMMANDS = 0xF010,
    QRF_ERR_INSTANCE = 0xF012,
    QRF_ERR_SHORTCUT = 0xF013,
    QRF_ERR_COMCTL = 0xF015,
    QRF_ERR_INSTALLRECORD = 0xF016,
    QRF_ERR_DATAFOLDER = 0xF019,
};

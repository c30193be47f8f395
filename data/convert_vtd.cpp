// Build-time tool: turns a tiled "vtd" source file into its map file and
// miniature with the program's own converter, so the default data set goes
// through the same path as the data packs users install.
//
// usage: convert_vtd FOLDER NAME   (converts FOLDER\NAME.vtd)
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "earth/mapfile.h"

// Wine hands Unix paths through unchanged; the converter builds Windows
// paths, so a leading '/' is taken as the root of drive Z:.
static void ToWindowsPath(char *out, int size, const char *in)
{
    if (in[0] == '/')
        _snprintf(out, size, "Z:%s", in);
    else
        _snprintf(out, size, "%s", in);
    out[size - 1] = 0;
    for (char *p = out; *p; p++)
        if (*p == '/')
            *p = '\\';
    size_t n = strlen(out);
    if (n > 0 && out[n - 1] == '\\')
        out[n - 1] = 0;
}

// Removes the maps an earlier run made from this source, so a failed
// conversion can never leave old results that look current. The flags and
// width come from the header chunk, which the build writes first.
static void RemoveOldTargets(const char *folder, const char *name)
{
    char path[MAX_PATH];
    _snprintf(path, sizeof path, "%s\\%s.vtd", folder, name);
    path[sizeof path - 1] = 0;
    FILE *f = fopen(path, "rb");
    if (!f)
        return;
    uint8_t head[VTD_CHUNK_HEADER_BYTES + 12];
    size_t got = fread(head, 1, sizeof head, f);
    fclose(f);
    if (got != sizeof head || head[0] != 0 || head[1] != 0)
        return;
    uint32_t flags, width;
    memcpy(&flags, head + VTD_CHUNK_HEADER_BYTES, 4);
    memcpy(&width, head + VTD_CHUNK_HEADER_BYTES + 4, 4);
    for (int mini = 0; mini < 2; mini++) {
        MapFileName(path, sizeof path, folder, name, flags, width, mini != 0);
        DeleteFileA(path);
    }
}

static void Report(void *context, const char *status, int percent)
{
    // Only the milestones, so the build log stays short.
    if (percent == 0 || percent == 100)
        printf("convert_vtd: %s %d%%\n", status ? status : "", percent);
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: convert_vtd FOLDER NAME\n");
        return 2;
    }
    char folder[MAX_PATH];
    ToWindowsPath(folder, sizeof folder, argv[1]);
    RemoveOldTargets(folder, argv[2]);
    MapProgress progress = {Report, 0, 0};
    int result = ConvertDataFile(folder, argv[2], &progress);
    if (result != CONVERT_OK) {
        fprintf(stderr, "convert_vtd: %s\\%s.vtd failed with code %d\n", folder, argv[2], result);
        return 1;
    }
    return 0;
}

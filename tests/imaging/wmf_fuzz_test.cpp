// Metafile change test. GDI's own pictures of both formats
// (wmf_fuzz_seeds.cpp) are changed record by record (wmf_fuzz_changes.cpp)
// and each input is decoded through the image dispatcher (CImage::Decode as
// format WMF: the try-all order a background picture falls back to ends
// with that codec, and one tried before it, TGA say, could take a changed
// metafile for its own) in a worker process of this same program: under a
// crash handler, within 2 s, with a heap check after every decode. The record walk
// before GDI's player must refuse every metafile that would crash the
// player or damage its heap, and never refuse what GDI records.
//
// A crash or a hang must not lose the run, so the tests (and the long run,
// --fuzz-run, which scripts/metafuzz starts) are a parent that starts
// workers for ranges of inputs and watches a block of shared memory where
// each keeps the input it is on. The parent kills a worker past the time
// limit, notes a crash or a damaged heap from the worker's exit, and goes
// on from the next input. Each finding is written to
// findings/<seed>-<index>.wmf|.emf with a line in findings/findings.txt.
//
// The heap check: with tail checking on (GlobalFlag 0x30, tail and free
// checking, in the Image File Execution Options key of this program, which
// the parent sets in its own private prefix) Wine's heap keeps fill bytes
// after every block and HeapValidate looks at them, but a block freed is
// not looked at first, so the player's own damage would vanish with the
// block. The worker therefore routes every module's HeapFree and
// HeapReAlloc through a check of the block, and validates every heap after
// each decode.
#include "imaging_testutil.h"
#include "wmf_fuzz.h"
#include "../../framework/bytes.h"

#include <windows.h>
#include <psapi.h>
#include <stdio.h>
#include <string.h>
#include <algorithm>
#include <deque>
#include <string>
#include <vector>

static const DWORD kDecodeLimitMs = 2000;
static const DWORD kHeapFlags = 0x30;   // FLG_HEAP_ENABLE_TAIL_CHECK | FLG_HEAP_ENABLE_FREE_CHECK

// Inputs per seed in the suite, on two workers: 11 x 601 inputs take about
// 20 s under Wine on the build machine. Counted, not timed, so the same
// inputs run on every machine.
static const uint32_t kSuiteInputsPerSeed = 600;

enum { kExitDone = 0, kExitCrash = 0x70, kExitDamage = 0x71, kExitBroken = 0x72, kExitKilled = 0x73 };
enum { STATE_START, STATE_DECODING, STATE_CHECKING, STATE_CRASHED, STATE_DAMAGED, STATE_DONE };

// What a worker tells its parent, in shared memory.
struct WorkerStatus {
    volatile LONG state;
    volatile LONG index;        // the input being decoded
    volatile DWORD startTick;   // when its decode began
    volatile LONG done;         // inputs decoded and checked
    volatile LONG accepted;     // of them, decoded successfully
    volatile LONG slowestIndex, slowestMicros;
    volatile LONG seedRefused;  // input 0, the seed itself, was refused
    char detail[300];           // a crash, a damaged heap, a refused seed or why it cannot run
};

static std::string BaseName(const std::string &path)
{
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "module+0xOFFSET" of an address into `out`, or "no module" (under Wine:
// the platform's own code outside the Windows modules). It allocates
// nothing, as it runs on a heap that may be damaged.
static void ModuleOf(const void *address, char *out)
{
    HMODULE m = 0;
    char path[MAX_PATH];
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            (LPCSTR)address, &m) ||
        !GetModuleFileNameA(m, path, sizeof path)) {
        lstrcpyA(out, "no module");
        return;
    }
    const char *name = path;
    for (const char *c = path; *c; c++)
        if (*c == '\\' || *c == '/')
            name = c + 1;
    wsprintfA(out, "%s+0x%lX", name, (DWORD)((uintptr_t)address - (uintptr_t)m));
}

static bool ReadFileBytes(const std::string &path, Bytes *out)
{
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return false;
    out->clear();
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
        out->append(buffer, n);
    fclose(f);
    return true;
}

static bool WriteFileBytes(const std::string &path, const Bytes &b)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = fwrite(b.data(), 1, b.size(), f) == b.size();
    return fclose(f) == 0 && ok;
}

// ---- Seeds on disk, shared by parent and workers ---------------------------

static std::string SeedFile(const std::string &folder, const Seed &s)
{
    return folder + "\\" + s.name + (s.wmf ? ".wmf" : ".emf");
}

static bool SaveSeeds(const std::string &folder, const std::vector<Seed> &seeds)
{
    CreateDirectoryA(folder.c_str(), 0);
    std::string list;
    for (const Seed &s : seeds) {
        if (!WriteFileBytes(SeedFile(folder, s), s.bytes))
            return false;
        list += s.name + (s.wmf ? " wmf" : " emf") + (s.embedded ? " embedded\n" : " plain\n");
    }
    return WriteFileBytes(folder + "\\list.txt", list);
}

static bool LoadSeeds(const std::string &folder, std::vector<Seed> *seeds)
{
    Bytes list;
    if (!ReadFileBytes(folder + "\\list.txt", &list))
        return false;
    seeds->clear();
    size_t at = 0;
    while (at < list.size()) {
        size_t end = list.find('\n', at);
        std::string line = list.substr(at, end - at);
        at = end == std::string::npos ? list.size() : end + 1;
        char name[64], format[8], kind[16];
        if (sscanf(line.c_str(), "%63s %7s %15s", name, format, kind) != 3)
            return false;
        Seed s = {name, strcmp(format, "wmf") == 0, strcmp(kind, "embedded") == 0, Bytes()};
        if (!ReadFileBytes(SeedFile(folder, s), &s.bytes))
            return false;
        seeds->push_back(s);
    }
    return !seeds->empty();
}

// ---- The worker ---------------------------------------------------------------

static WorkerStatus *gStatus;
static volatile LONG gTailDamage;
static char gTailDetail[200];

static void DescribeException(const EXCEPTION_POINTERS *e, char *out)
{
    const EXCEPTION_RECORD *r = e->ExceptionRecord;
    char module[MAX_PATH + 16], access[64] = "";
    ModuleOf(r->ExceptionAddress, module);
    if (r->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && r->NumberParameters >= 2)
        wsprintfA(access, ", %s %08lX",
                  r->ExceptionInformation[0] == 1 ? "writing" :
                  r->ExceptionInformation[0] == 8 ? "running" : "reading",
                  (DWORD)r->ExceptionInformation[1]);
    wsprintfA(out, "exception %08lX at %08lX (%s)%s", r->ExceptionCode,
              (DWORD)(uintptr_t)r->ExceptionAddress, module, access);
}

static LONG WINAPI OnCrash(EXCEPTION_POINTERS *e)
{
    char what[200];
    DescribeException(e, what);
    wsprintfA(gStatus->detail, "crash: %s", what);
    gStatus->state = STATE_CRASHED;
    TerminateProcess(GetCurrentProcess(), kExitCrash);
    return EXCEPTION_EXECUTE_HANDLER;
}

typedef BOOLEAN(WINAPI *FreeHeapFn)(HANDLE, ULONG, PVOID);
typedef PVOID(WINAPI *ReAllocHeapFn)(HANDLE, ULONG, PVOID, SIZE_T);
static FreeHeapFn gFreeHeap;
static ReAllocHeapFn gReAllocHeap;

static void NoteDamagedBlock(const void *block, const void *caller)
{
    if (InterlockedExchange(&gTailDamage, 1))
        return;
    char module[MAX_PATH + 16];
    ModuleOf(caller, module);
    wsprintfA(gTailDetail, "heap damage: block %08lX freed by %s was overwritten past its end",
              (DWORD)(uintptr_t)block, module);
}

static BOOL WINAPI CheckedFree(HANDLE heap, DWORD flags, void *block)
{
    if (block && !HeapValidate(heap, 0, block))
        NoteDamagedBlock(block, __builtin_return_address(0));
    return gFreeHeap(heap, flags, block);
}

static void *WINAPI CheckedReAlloc(HANDLE heap, DWORD flags, void *block, SIZE_T bytes)
{
    if (block && !HeapValidate(heap, 0, block))
        NoteDamagedBlock(block, __builtin_return_address(0));
    return gReAllocHeap(heap, flags, block, bytes);
}

// Points the module's imports of the heap's free and reallocation at the
// checks above.
static void HookHeapImports(HMODULE module)
{
    uint8_t *base = (uint8_t *)module;
    IMAGE_NT_HEADERS *nt = (IMAGE_NT_HEADERS *)(base + ((IMAGE_DOS_HEADER *)base)->e_lfanew);
    IMAGE_DATA_DIRECTORY dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress || !dir.Size)
        return;
    for (IMAGE_IMPORT_DESCRIPTOR *d = (IMAGE_IMPORT_DESCRIPTOR *)(base + dir.VirtualAddress);
         d->Name; d++) {
        if (!d->OriginalFirstThunk || !d->FirstThunk)
            continue;
        IMAGE_THUNK_DATA *names = (IMAGE_THUNK_DATA *)(base + d->OriginalFirstThunk);
        IMAGE_THUNK_DATA *slots = (IMAGE_THUNK_DATA *)(base + d->FirstThunk);
        for (; names->u1.AddressOfData; names++, slots++) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const char *name =
                (const char *)((IMAGE_IMPORT_BY_NAME *)(base + names->u1.AddressOfData))->Name;
            void *hook = !strcmp(name, "HeapFree") || !strcmp(name, "RtlFreeHeap")
                             ? (void *)CheckedFree
                         : !strcmp(name, "HeapReAlloc") || !strcmp(name, "RtlReAllocateHeap")
                             ? (void *)CheckedReAlloc
                             : 0;
            DWORD old;
            if (hook && VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function,
                                       PAGE_READWRITE, &old)) {
                slots->u1.Function = (DWORD_PTR)hook;
                VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
            }
        }
    }
}

// Hooks the modules loaded since the last call.
static void HookNewModules(std::vector<HMODULE> *hooked)
{
    HMODULE modules[512];
    DWORD bytes = 0;
    if (!EnumProcessModules(GetCurrentProcess(), modules, sizeof modules, &bytes))
        return;
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    for (DWORD i = 0; i < bytes / sizeof(HMODULE) && i < 512; i++) {
        HMODULE m = modules[i];
        bool seen = m == ntdll;
        for (HMODULE h : *hooked)
            seen = seen || h == m;
        if (!seen) {
            HookHeapImports(m);
            hooked->push_back(m);
        }
    }
}

// With tail checking a block is followed by fill bytes (0xAB).
static bool TailCheckingOn()
{
    HANDLE heap = GetProcessHeap();
    bool on = true;
    for (SIZE_T n : {1, 5, 13, 24, 100}) {
        volatile uint8_t *p = (uint8_t *)HeapAlloc(heap, 0, n);
        on = on && p && p[n] == 0xAB;
        HeapFree(heap, 0, (void *)p);
    }
    return on;
}

static bool HeapsSound(char *why)
{
    if (gTailDamage) {
        lstrcpyA(why, gTailDetail);
        return false;
    }
    HANDLE heaps[256];
    DWORD n = GetProcessHeaps(256, heaps);
    for (DWORD i = 0; i < n && i < 256; i++) {
        if (!HeapValidate(heaps[i], 0, 0)) {
            wsprintfA(why, "heap damage: heap %lu of %lu (%08lX) fails validation", i + 1, n,
                      (DWORD)(uintptr_t)heaps[i]);
            return false;
        }
    }
    return true;
}

// Plays an EMF with GDI straight, as the reader would without its walk.
static bool PlayDirect(const Bytes &b)
{
    HENHMETAFILE emf = SetEnhMetaFileBits((UINT)b.size(), (const BYTE *)b.data());
    if (!emf)
        return false;
    HDC screen = GetDC(0);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 200, 100);
    HDC dc = CreateCompatibleDC(screen);
    ReleaseDC(0, screen);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT all = {0, 0, 200, 100};
    BOOL played = PlayEnhMetaFile(dc, emf, &all);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    DeleteEnhMetaFile(emf);
    return played != FALSE;
}

// What a worker does with one input: decode it (the test), or, to prove
// the harness, play it without the walk, crash or hang.
static bool RunOne(const Bytes &b, const std::string &mode, char *error)
{
    if (mode == "play")
        return PlayDirect(b);
    if (mode == "crash") {
        volatile uintptr_t address = 16;
        *(volatile int *)address = 1;
    }
    if (mode == "hang")
        Sleep(3 * kDecodeLimitMs);
    CImage im;
    bool ok = im.Decode((const unsigned char *)b.data(), (int)b.size(), FORMAT_WMF);
    lstrcpynA(error, im.GetLastError(), 100);
    return ok;
}

static std::string Arg(int argc, char **argv, const char *key)
{
    size_t n = strlen(key);
    for (int i = 1; i < argc; i++)
        if (!strncmp(argv[i], key, n) && argv[i][n] == '=')
            return argv[i] + n + 1;
    return "";
}

static int WorkerMain(int argc, char **argv)
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, Arg(argc, argv, "status").c_str());
    gStatus = mapping ? (WorkerStatus *)MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0) : 0;
    if (!gStatus)
        return kExitBroken;
    SetUnhandledExceptionFilter(OnCrash);
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    gFreeHeap = (FreeHeapFn)(void *)GetProcAddress(ntdll, "RtlFreeHeap");
    gReAllocHeap = (ReAllocHeapFn)(void *)GetProcAddress(ntdll, "RtlReAllocateHeap");
    std::vector<Seed> seeds;
    std::string file = Arg(argc, argv, "file"), mode = Arg(argc, argv, "mode");
    int which = atoi(Arg(argc, argv, "seed").c_str());
    uint32_t from = strtoul(Arg(argc, argv, "from").c_str(), 0, 10);
    uint32_t to = strtoul(Arg(argc, argv, "to").c_str(), 0, 10);
    Bytes fileBytes;
    if (!file.empty() ? !ReadFileBytes(file, &fileBytes)
                      : !LoadSeeds(Arg(argc, argv, "seeds"), &seeds) || which < 0 ||
                            which >= (int)seeds.size()) {
        lstrcpyA(gStatus->detail, "the worker cannot read its seeds or input");
        return kExitBroken;
    }
    if (!file.empty()) {
        from = 0;
        to = 1;
    }
    if (!gFreeHeap || !gReAllocHeap || !TailCheckingOn()) {
        lstrcpyA(gStatus->detail, "the heap's tail checking is off (GlobalFlag in the program's "
                                  "Image File Execution Options)");
        return kExitBroken;
    }
    std::vector<HMODULE> hooked;
    HookNewModules(&hooked);
    char why[300];
    if (!HeapsSound(why)) {
        wsprintfA(gStatus->detail, "the heap is damaged before the first input: %s", why);
        return kExitBroken;
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    for (uint32_t index = from; index < to; index++) {
        Bytes input = file.empty() ? MakeInput(seeds, which, index) : fileBytes;
        gStatus->startTick = GetTickCount();
        gStatus->index = (LONG)index;
        MemoryBarrier();
        gStatus->state = STATE_DECODING;
        LARGE_INTEGER t0, t1;
        QueryPerformanceCounter(&t0);
        char error[100] = "";
        bool ok = RunOne(input, mode, error);
        QueryPerformanceCounter(&t1);
        gStatus->state = STATE_CHECKING;
        if (!HeapsSound(why)) {
            lstrcpyA(gStatus->detail, why);
            gStatus->state = STATE_DAMAGED;
            TerminateProcess(GetCurrentProcess(), kExitDamage);
        }
        LONG micros = (LONG)((t1.QuadPart - t0.QuadPart) * 1000000 / frequency.QuadPart);
        if (micros > gStatus->slowestMicros) {
            gStatus->slowestMicros = micros;
            gStatus->slowestIndex = (LONG)index;
        }
        gStatus->accepted += ok;
        if (index == 0 && file.empty() && !ok) {
            gStatus->seedRefused = 1;
            wsprintfA(gStatus->detail, "GDI-recorded seed refused: %s", error);
        }
        if (!file.empty() && !ok)
            lstrcpyA(gStatus->detail, error);
        gStatus->done++;
        if (index % 64 == 63)
            HookNewModules(&hooked);
    }
    gStatus->state = STATE_DONE;
    return kExitDone;
}

// ---- The parent -------------------------------------------------------------------

// Inputs from..to-1 of a seed, or one file (seed -1) in a mode.
struct Task {
    int seed;
    uint32_t from, to;
    std::string file, mode;
    uint32_t retried;   // an input that ran out of time once and runs again
};

struct Tally {
    uint64_t run, accepted, crashes, damaged, timeouts, refused;
    uint32_t slowestMicros, slowestIndex;
};

struct Finding {
    std::string file, what;
};

struct FuzzRun {
    std::string exe, seedsDir, findingsDir;
    std::vector<Seed> seeds;
    int jobs;
    bool progress;
    std::vector<Tally> tallies;   // per seed, then one for files
    std::vector<Finding> findings;
    std::string error;
    uint64_t total;
};

struct Slot {
    bool busy;
    Task task;
    HANDLE process, mapping;
    WorkerStatus *status;
};

static const uint32_t kNoRetry = 0xFFFFFFFF;

// Sets the heap checks for this program's workers; the prefix is this
// run's own.
static bool SetHeapChecks(const std::string &exe)
{
    std::string key =
        "Software\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options\\" +
        BaseName(exe);
    HKEY k;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, 0, 0, KEY_SET_VALUE, 0, &k, 0))
        return false;
    DWORD flags = kHeapFlags;
    bool ok = !RegSetValueExA(k, "GlobalFlag", 0, REG_DWORD, (const BYTE *)&flags, 4);
    RegCloseKey(k);
    return ok;
}

static bool StartRun(FuzzRun &run, const std::string &out, int jobs)
{
    char exe[MAX_PATH];
    GetModuleFileNameA(0, exe, sizeof exe);
    run.exe = exe;
    run.jobs = jobs < 1 ? 1 : jobs;
    run.progress = false;
    run.total = 0;
    CreateDirectoryA(out.c_str(), 0);
    run.seedsDir = out + "\\seeds";
    run.findingsDir = out + "\\findings";
    CreateDirectoryA(run.findingsDir.c_str(), 0);
    DeleteFileA((run.findingsDir + "\\findings.txt").c_str());
    if (!RecordSeeds(&run.seeds)) {
        run.error = "GDI could not record the seeds";
        return false;
    }
    if (!SaveSeeds(run.seedsDir, run.seeds)) {
        run.error = "the seeds cannot be written to " + run.seedsDir;
        return false;
    }
    if (!SetHeapChecks(run.exe)) {
        run.error = "the heap checks cannot be set in the registry";
        return false;
    }
    run.tallies.assign(run.seeds.size() + 1, Tally());
    return true;
}

static std::string InputName(const FuzzRun &run, const Task &t, uint32_t index)
{
    if (t.seed < 0)
        return BaseName(t.file);
    const Seed &s = run.seeds[t.seed];
    char name[96];
    wsprintfA(name, "%s-%lu%s", s.name.c_str(), (unsigned long)index, s.wmf ? ".wmf" : ".emf");
    return name;
}

static void AddFinding(FuzzRun &run, const Task &t, uint32_t index, const std::string &what)
{
    std::string name = InputName(run, t, index);
    if (t.seed >= 0)
        WriteFileBytes(run.findingsDir + "\\" + name, MakeInput(run.seeds, t.seed, index));
    Finding f = {name, what};
    run.findings.push_back(f);
    FILE *list = fopen((run.findingsDir + "\\findings.txt").c_str(), "ab");
    if (list) {
        fprintf(list, "%s: %s\n", name.c_str(), what.c_str());
        fclose(list);
    }
    if (run.progress)
        printf("metafuzz: %s: %s\n", name.c_str(), what.c_str());
}

static bool StartWorker(FuzzRun &run, Slot &s, const Task &t)
{
    static LONG counter;
    char name[80];
    wsprintfA(name, "Local\\VeltasparMetafuzz-%lu-%ld", GetCurrentProcessId(),
              InterlockedIncrement(&counter));
    s.mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, 0, PAGE_READWRITE, 0,
                                   sizeof(WorkerStatus), name);
    s.status = s.mapping ? (WorkerStatus *)MapViewOfFile(s.mapping, FILE_MAP_WRITE, 0, 0, 0) : 0;
    if (!s.status) {
        run.error = "no shared memory for a worker";
        return false;
    }
    memset((void *)s.status, 0, sizeof *s.status);
    s.status->index = -1;
    char range[200];
    if (t.seed >= 0)
        wsprintfA(range, "seed=%d from=%lu to=%lu", t.seed, (unsigned long)t.from,
                  (unsigned long)t.to);
    else
        range[0] = 0;
    std::string command = "\"" + run.exe + "\" --fuzz-worker status=" + name + " seeds=\"" +
                          run.seedsDir + "\" " + range;
    if (t.seed < 0)
        command += " \"file=" + t.file + "\" mode=" + t.mode;
    STARTUPINFOA si = {sizeof si};
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(run.exe.c_str(), &command[0], 0, 0, FALSE, 0, 0, 0, &si, &pi)) {
        run.error = "a worker cannot be started";
        UnmapViewOfFile((void *)s.status);
        CloseHandle(s.mapping);
        return false;
    }
    CloseHandle(pi.hThread);
    s.process = pi.hProcess;
    s.task = t;
    s.busy = true;
    return true;
}

static void CloseSlot(Slot &s)
{
    CloseHandle(s.process);
    UnmapViewOfFile((void *)s.status);
    CloseHandle(s.mapping);
    s.busy = false;
}

// Books what the worker did before it ended; true unless it cannot run.
static bool WorkerEnded(FuzzRun &run, Slot &s, DWORD code, bool timedOut, std::deque<Task> &tasks)
{
    const Task &t = s.task;
    WorkerStatus *st = s.status;
    Tally &tally = run.tallies[t.seed < 0 ? run.seeds.size() : (size_t)t.seed];
    tally.run += st->done;
    run.total += st->done;
    tally.accepted += st->accepted;
    if ((uint32_t)st->slowestMicros > tally.slowestMicros) {
        tally.slowestMicros = st->slowestMicros;
        tally.slowestIndex = st->slowestIndex;
    }
    if (st->seedRefused) {
        tally.refused++;
        AddFinding(run, t, 0, st->detail);
    }
    bool decoding = st->state == STATE_DECODING || st->state == STATE_CHECKING ||
                    st->state == STATE_CRASHED || st->state == STATE_DAMAGED;
    // A worker that ends without saying it is done ended in a decode, whatever
    // its exit code says.
    if (code == kExitDone && !timedOut && st->state == STATE_DONE) {
        if (t.seed < 0 && run.progress)
            printf("metafuzz: %s: %s%s\n", BaseName(t.file).c_str(),
                   st->accepted ? "decoded" : "refused: ", st->accepted ? "" : st->detail);
        return true;
    }
    if (code == kExitBroken || (!decoding && code != kExitDone) || st->index < (LONG)t.from) {
        char text[400];
        wsprintfA(text, "a worker ended with code %08lX before its inputs: %s", code, st->detail);
        run.error = text;
        return false;
    }
    uint32_t index = (uint32_t)st->index;
    Task next = t;
    next.retried = kNoRetry;
    next.from = index + 1;
    if (timedOut && t.retried != index) {
        next.from = index;   // once more, in case the machine was only busy
        next.retried = index;
    } else {
        char what[400];
        if (timedOut) {
            tally.timeouts++;
            wsprintfA(what, "timeout: the decode ran past %lu ms, twice", kDecodeLimitMs);
        } else if (code == kExitDamage) {
            tally.damaged++;
            lstrcpynA(what, st->detail, sizeof what);
        } else {
            tally.crashes++;
            if (code == kExitCrash)
                lstrcpynA(what, st->detail, sizeof what);
            else
                wsprintfA(what, "crash: the worker ended with code %08lX", code);
        }
        tally.run++;
        run.total++;
        AddFinding(run, t, index, what);
    }
    if (next.from < next.to)
        tasks.push_front(next);
    return true;
}

static void PrintProgress(const FuzzRun &run, uint64_t planned, DWORD started)
{
    DWORD seconds = (GetTickCount() - started) / 1000;
    printf("metafuzz: %llu of %llu inputs, %lu s, %.0f a second, %u findings\n",
           (unsigned long long)run.total, (unsigned long long)planned, seconds,
           seconds ? (double)run.total / seconds : 0.0, (unsigned)run.findings.size());
    fflush(stdout);
}

// Runs the tasks on `run.jobs` workers at a time; false when workers cannot run.
static bool RunTasks(FuzzRun &run, std::deque<Task> tasks)
{
    uint64_t planned = run.total;
    for (const Task &t : tasks)
        planned += t.to - t.from;
    std::vector<Slot> slots(run.jobs);
    for (Slot &s : slots)
        s.busy = false;
    DWORD started = GetTickCount(), printed = started;
    bool ok = true;
    for (;;) {
        for (Slot &s : slots) {
            if (ok && !s.busy && !tasks.empty()) {
                Task t = tasks.front();
                tasks.pop_front();
                ok = StartWorker(run, s, t);
            }
        }
        bool any = false;
        for (Slot &s : slots) {
            if (!s.busy)
                continue;
            any = true;
            DWORD code = 0;
            if (WaitForSingleObject(s.process, 0) == WAIT_OBJECT_0) {
                GetExitCodeProcess(s.process, &code);
                ok = WorkerEnded(run, s, code, false, tasks) && ok;
                CloseSlot(s);
            } else if (!ok || (s.status->state == STATE_DECODING &&
                               GetTickCount() - s.status->startTick > kDecodeLimitMs)) {
                TerminateProcess(s.process, kExitKilled);
                WaitForSingleObject(s.process, 10000);
                if (ok)
                    ok = WorkerEnded(run, s, kExitKilled, true, tasks);
                CloseSlot(s);
            }
        }
        if (!any && (tasks.empty() || !ok))
            break;
        Sleep(10);
        if (run.progress && GetTickCount() - printed > 10000) {
            printed = GetTickCount();
            PrintProgress(run, planned, started);
        }
    }
    return ok;
}

// Every seed's inputs 0..perSeed, in tasks of at most `chunk`.
static std::deque<Task> SeedTasks(const FuzzRun &run, uint32_t perSeed, uint32_t chunk)
{
    std::deque<Task> tasks;
    for (uint32_t from = 0; from <= perSeed; from += chunk) {
        for (size_t k = 0; k < run.seeds.size(); k++) {
            uint32_t to = perSeed + 1 - from < chunk ? perSeed + 1 : from + chunk;
            Task t = {(int)k, from, to, "", "", kNoRetry};
            tasks.push_back(t);
        }
    }
    return tasks;
}

static void PrintSummary(const FuzzRun &run)
{
    printf("%-18s %9s %9s %8s %8s %8s %12s %16s\n", "seed", "inputs", "decoded", "crashes",
           "damaged", "timeouts", "seed refused", "slowest decode");
    for (size_t k = 0; k <= run.seeds.size(); k++) {
        const Tally &t = run.tallies[k];
        if (!t.run)
            continue;
        printf("%-18s %9llu %9llu %8llu %8llu %8llu %12llu %9.1f ms #%lu\n",
               k < run.seeds.size() ? run.seeds[k].name.c_str() : "(files)",
               (unsigned long long)t.run, (unsigned long long)t.accepted,
               (unsigned long long)t.crashes, (unsigned long long)t.damaged,
               (unsigned long long)t.timeouts, (unsigned long long)t.refused,
               t.slowestMicros / 1000.0, (unsigned long)t.slowestIndex);
    }
    printf("%u findings%s%s\n", (unsigned)run.findings.size(),
           run.findings.empty() ? "" : ", listed in ",
           run.findings.empty() ? "" : (run.findingsDir + "\\findings.txt").c_str());
    fflush(stdout);
}

static int ProcessorCount()
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return (int)info.dwNumberOfProcessors;
}

// The long run: --fuzz-run [inputs=N] [jobs=J] [out=FOLDER] [files=FOLDER];
// with make=SEED-INDEX it only writes that input into the out folder.
static int LongRun(int argc, char **argv)
{
    std::string inputs = Arg(argc, argv, "inputs"), jobs = Arg(argc, argv, "jobs");
    std::string out = Arg(argc, argv, "out"), files = Arg(argc, argv, "files");
    std::string make = Arg(argc, argv, "make");
    if (!make.empty()) {
        std::vector<Seed> seeds;
        size_t dash = make.rfind('-');
        if (dash == std::string::npos || !RecordSeeds(&seeds)) {
            printf("metafuzz: no input %s\n", make.c_str());
            return 2;
        }
        std::string count = Arg(argc, argv, "count");
        uint32_t index = strtoul(make.c_str() + dash + 1, 0, 10);
        uint32_t many = count.empty() ? 1 : strtoul(count.c_str(), 0, 10);
        for (size_t k = 0; k < seeds.size(); k++) {
            if (seeds[k].name != make.substr(0, dash))
                continue;
            for (uint32_t i = index; i - index < many; i++) {
                char name[48];
                wsprintfA(name, "%s-%lu%s", seeds[k].name.c_str(), (unsigned long)i,
                          seeds[k].wmf ? ".wmf" : ".emf");
                std::string path = (out.empty() ? "." : out) + "\\" + name;
                if (!WriteFileBytes(path, MakeInput(seeds, k, i))) {
                    printf("metafuzz: %s cannot be written\n", path.c_str());
                    return 2;
                }
            }
            printf("metafuzz: wrote %lu inputs from %s on\n", (unsigned long)many, make.c_str());
            return 0;
        }
        printf("metafuzz: no input %s\n", make.c_str());
        return 2;
    }
    uint32_t perSeed = inputs.empty() ? 200000 : strtoul(inputs.c_str(), 0, 10);
    FuzzRun run;
    if (!StartRun(run, out.empty() ? "metafuzz" : out,
                  jobs.empty() ? ProcessorCount() : atoi(jobs.c_str()))) {
        printf("metafuzz: %s\n", run.error.c_str());
        return 2;
    }
    run.progress = true;
    std::deque<Task> tasks;
    if (!files.empty()) {
        // Every .wmf and .emf file of the folder again, as the decoder takes it.
        WIN32_FIND_DATAA entry;
        HANDLE find = FindFirstFileA((files + "\\*.?mf").c_str(), &entry);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                Task t = {-1, 0, 1, files + "\\" + entry.cFileName, "decode", kNoRetry};
                tasks.push_back(t);
            } while (FindNextFileA(find, &entry));
            FindClose(find);
        }
    } else {
        tasks = SeedTasks(run, perSeed, 5000);
    }
    printf("metafuzz: %u tasks on %d workers, findings in %s\n", (unsigned)tasks.size(),
           run.jobs, run.findingsDir.c_str());
    bool ok = RunTasks(run, tasks);
    PrintSummary(run);
    if (!ok)
        printf("metafuzz: %s\n", run.error.c_str());
    return !ok ? 2 : run.findings.empty() ? 0 : 1;
}

// ---- Tests -----------------------------------------------------------------------

static std::vector<uint32_t> RecordTypes(const Seed &s)
{
    std::vector<uint32_t> types;
    const Bytes &b = s.bytes;
    if (s.wmf) {
        for (size_t at = 22 + 18; at + 6 <= b.size() && Le32((const uint8_t *)&b[at]) >= 3;
             at += 2 * (size_t)Le32((const uint8_t *)&b[at]))
            types.push_back(Le16((const uint8_t *)&b[at + 4]));
    } else {
        for (size_t at = 0; at + 8 <= b.size() && Le32((const uint8_t *)&b[at + 4]) >= 8;
             at += Le32((const uint8_t *)&b[at + 4]))
            types.push_back(Le32((const uint8_t *)&b[at]));
    }
    return types;
}

static const Seed *FindSeed(const std::vector<Seed> &seeds, const char *name)
{
    for (const Seed &s : seeds)
        if (s.name == name)
            return &s;
    return 0;
}

// The seeds hold what GDI records for the calls they make, are framed as
// the changes keep them, a few KB each, and sit inside the ranges the
// changes keep coordinates, extents and transforms in.
TEST(MetafileChanges, SeedsAreGdisOwnPictures)
{
    std::vector<Seed> seeds;
    ASSERT_TRUE(RecordSeeds(&seeds));
    ASSERT_EQ(seeds.size(), 11u);
    for (const Seed &s : seeds) {
        std::string why;
        EXPECT_TRUE(Framed(s, s.bytes, &why)) << s.name << ": " << why;
        EXPECT_TRUE(ClampLeavesSeed(s, &why)) << why;
        EXPECT_GT(s.bytes.size(), 300u) << s.name;
        EXPECT_LT(s.bytes.size(), 48000u) << s.name;
    }
    const struct { const char *seed; std::vector<uint32_t> types; } expected[] = {
        {"wmf-shapes", {META_CREATEPENINDIRECT, META_CREATEBRUSHINDIRECT, META_DIBCREATEPATTERNBRUSH,
                        META_ROUNDRECT, META_ARC, META_CHORD, META_PIE, META_POLYPOLYGON,
                        META_SETPIXEL, META_EXTFLOODFILL, META_SCALEWINDOWEXT,
                        META_SCALEVIEWPORTEXT, META_SETVIEWPORTEXT, META_SAVEDC, META_RESTOREDC,
                        META_SETLAYOUT, META_SETRELABS}},
        {"wmf-text", {META_CREATEFONTINDIRECT, META_EXTTEXTOUT, META_SETTEXTALIGN,
                      META_SETTEXTCHAREXTRA, META_SETTEXTJUSTIFICATION}},
        {"wmf-bitmaps", {META_DIBBITBLT, META_DIBSTRETCHBLT, META_STRETCHDIB, META_SETDIBTODEV,
                         META_PATBLT, META_CREATEPALETTE, META_SELECTPALETTE, META_REALIZEPALETTE,
                         META_DIBCREATEPATTERNBRUSH}},
        {"wmf-regions", {META_CREATEREGION, META_FILLREGION, META_FRAMEREGION, META_INVERTREGION,
                         META_PAINTREGION, META_INTERSECTCLIPRECT,
                         META_EXCLUDECLIPRECT, META_OFFSETCLIPRGN, META_ESCAPE}},
        {"wmf-carried-emf", {META_ESCAPE}},
        {"emf-shapes", {EMR_CREATEPEN, EMR_CREATEBRUSHINDIRECT, EMR_CREATEMONOBRUSH, EMR_ANGLEARC,
                        EMR_ARCTO, EMR_POLYBEZIER16, EMR_POLYBEZIERTO16, EMR_POLYLINETO16,
                        EMR_POLYDRAW16, EMR_POLYPOLYLINE16, EMR_POLYPOLYGON16, EMR_POLYGON16,
                        EMR_SETARCDIRECTION, EMR_SETPIXELV, EMR_EXTFLOODFILL, EMR_SETLAYOUT}},
        {"emf-paths", {EMR_BEGINPATH, EMR_ENDPATH, EMR_CLOSEFIGURE, EMR_STROKEANDFILLPATH,
                       EMR_FILLPATH, EMR_FLATTENPATH, EMR_STROKEPATH, EMR_WIDENPATH,
                       EMR_ABORTPATH, EMR_SELECTCLIPPATH, EMR_SETWORLDTRANSFORM,
                       EMR_MODIFYWORLDTRANSFORM, EMR_SCALEWINDOWEXTEX, EMR_SCALEVIEWPORTEXTEX,
                       EMR_SETVIEWPORTEXTEX, EMR_INTERSECTCLIPRECT, EMR_EXCLUDECLIPRECT,
                       EMR_OFFSETCLIPRGN, EMR_SAVEDC, EMR_RESTOREDC}},
        {"emf-bitmaps", {EMR_BITBLT, EMR_STRETCHBLT, EMR_MASKBLT, EMR_PLGBLT, EMR_STRETCHDIBITS,
                         EMR_SETDIBITSTODEVICE, EMR_ALPHABLEND, EMR_TRANSPARENTBLT,
                         EMR_CREATEDIBPATTERNBRUSHPT, EMR_CREATEMONOBRUSH, EMR_CREATEPALETTE,
                         EMR_GRADIENTFILL}},
        {"emf-text", {EMR_EXTCREATEFONTINDIRECTW, EMR_EXTTEXTOUTW, EMR_SETTEXTALIGN}},
        {"emf-regions", {EMR_FILLRGN, EMR_FRAMERGN, EMR_INVERTRGN, EMR_PAINTRGN,
                         EMR_EXTSELECTCLIPRGN, EMR_GDICOMMENT, EMR_SELECTPALETTE}},
        {"emf-stock", {EMR_SELECTOBJECT, EMR_RECTANGLE, EMR_ELLIPSE, EMR_ROUNDRECT}}};
    for (const auto &e : expected) {
        const Seed *s = FindSeed(seeds, e.seed);
        ASSERT_TRUE(s) << e.seed;
        std::vector<uint32_t> types = RecordTypes(*s);
        for (uint32_t type : e.types)
            EXPECT_NE(std::find(types.begin(), types.end(), type), types.end())
                << e.seed << " lacks record type 0x" << std::hex << type;
    }
}

// An input is the same every time it is made, and each is framed so that
// it reaches the rules for single records.
TEST(MetafileChanges, InputsAreRepeatableAndFramed)
{
    std::vector<Seed> seeds;
    ASSERT_TRUE(RecordSeeds(&seeds));
    for (size_t k = 0; k < seeds.size(); k++) {
        int changed = 0;
        for (uint32_t i = 1; i <= 300; i++) {
            Bytes b = MakeInput(seeds, k, i);
            std::string why;
            ASSERT_TRUE(Framed(seeds[k], b, &why)) << seeds[k].name << " #" << i << ": " << why;
            ASSERT_EQ(b, MakeInput(seeds, k, i)) << seeds[k].name << " #" << i;
            changed += b != seeds[k].bytes;
        }
        EXPECT_GT(changed, 270) << seeds[k].name;
        EXPECT_EQ(MakeInput(seeds, k, 0), seeds[k].bytes);
    }
}

static const Finding *FindingFor(const FuzzRun &run, const std::string &file)
{
    for (const Finding &f : run.findings)
        if (f.file == file)
            return &f;
    return 0;
}

// The harness reports what it must: a crash with its exception code, a
// hang, and the known damage of the platform's player, which writes slot 0
// of a handle table of no slots when the header counts no handles (played
// here without the walk); the same picture with its handle counted is clean.
TEST(MetafileFuzzHarness, CatchesCrashesHangsAndHeapDamage)
{
    FuzzRun run;
    ASSERT_TRUE(StartRun(run, "harness", 4)) << run.error;
    Bytes clean = RecordStockEmf();
    ASSERT_GT(clean.size(), 108u);
    ASSERT_EQ(Le16((const uint8_t *)&clean[56]), 1u);   // slot 0: the metafile itself
    Bytes noHandles = clean;
    Put16((uint8_t *)&noHandles[56], 0);
    ASSERT_TRUE(WriteFileBytes("harness\\clean.emf", clean));
    ASSERT_TRUE(WriteFileBytes("harness\\no-handles.emf", noHandles));
    std::deque<Task> tasks;
    const struct { const char *file, *mode; } probes[] = {
        {"harness\\clean.emf", "crash"}, {"harness\\clean.emf", "hang"},
        {"harness\\no-handles.emf", "play"}, {"harness\\clean.emf", "play"},
        {"harness\\clean.emf", "decode"}};
    for (const auto &p : probes) {
        Task t = {-1, 0, 1, p.file, p.mode, kNoRetry};
        tasks.push_back(t);
    }
    ASSERT_TRUE(RunTasks(run, tasks)) << run.error;
    // Findings are named after their file; the two clean runs leave none.
    ASSERT_EQ(run.findings.size(), 3u);
    const Tally &t = run.tallies[run.seeds.size()];
    EXPECT_EQ(t.crashes, 1u);
    EXPECT_EQ(t.timeouts, 1u);
    EXPECT_EQ(t.damaged, 1u);
    EXPECT_EQ(t.accepted, 2u);   // the clean picture played and decoded
    std::string crash, hang, damage;
    for (const Finding &f : run.findings) {
        if (f.what.find("crash: exception C0000005") == 0)
            crash = f.what;
        else if (f.what.find("timeout:") == 0)
            hang = f.what;
        else if (f.what.find("heap damage:") == 0 && f.file == "no-handles.emf")
            damage = f.what;
    }
    EXPECT_NE(crash.find("writing 00000010"), std::string::npos) << crash;
    EXPECT_FALSE(hang.empty());
    EXPECT_NE(damage.find("gdi32.dll"), std::string::npos) << damage;
    EXPECT_TRUE(FindingFor(run, "no-handles.emf"));
}

// GDI's pictures decode, and none of their changes crashes the player,
// hangs it or damages its heap.
TEST(MetafileChanges, NoChangedRecordCrashesHangsOrDamagesTheHeap)
{
    FuzzRun run;
    ASSERT_TRUE(StartRun(run, ".", 2)) << run.error;
    ASSERT_TRUE(RunTasks(run, SeedTasks(run, kSuiteInputsPerSeed, kSuiteInputsPerSeed + 1)))
        << run.error;
    PrintSummary(run);
    EXPECT_EQ(run.total, (uint64_t)(kSuiteInputsPerSeed + 1) * run.seeds.size());
    std::string list;
    for (const Finding &f : run.findings)
        list += "  findings\\" + f.file + ": " + f.what + "\n";
    EXPECT_TRUE(run.findings.empty()) << run.findings.size() << " findings:\n" << list;
    for (size_t k = 0; k < run.seeds.size(); k++)
        EXPECT_GT(run.tallies[k].accepted, 0u) << run.seeds[k].name;
}

int main(int argc, char **argv)
{
    if (argc > 1 && !strcmp(argv[1], "--fuzz-worker"))
        return WorkerMain(argc, argv);
    if (argc > 1 && !strcmp(argv[1], "--fuzz-run"))
        return LongRun(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

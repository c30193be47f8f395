// Monitor tables, window placement helpers, the file and folder pickers,
// unelevated shell execution and small system checks.
#include "framework/utilities.h"

#include <windows.h>
#include <commdlg.h>
#include <exdisp.h>
#include <shldisp.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <shobjidl.h>
#include <string.h>

#include "framework/application.h"

MonitorTable gMonitors;
MonitorTable gPrevMonitors;

// Casting through this type keeps the compiler quiet about GetProcAddress.
typedef void (*AnyFunction)(void);

// ---------------------------------------------------------------- DPI

typedef HRESULT(WINAPI *GetDpiForMonitorFunction)(HMONITOR, int, UINT *, UINT *);
enum { EFFECTIVE_DPI = 0 };   // MDT_EFFECTIVE_DPI

SystemProc SystemFunction(const char *module, const char *name)
{
    HMODULE library = GetModuleHandleA(module);
    if (!library)
        library = LoadLibraryA(module);
    return library ? (SystemProc)(void *)GetProcAddress(library, name) : 0;
}

static GetDpiForMonitorFunction LookUpGetDpiForMonitor()
{
    static GetDpiForMonitorFunction function;
    static bool lookedUp;
    if (!lookedUp) {
        function = (GetDpiForMonitorFunction)SystemFunction("shcore", "GetDpiForMonitor");
        lookedUp = true;
    }
    return function;
}

int QueryMonitorDpi(HMONITOR monitor)
{
    GetDpiForMonitorFunction getDpi = LookUpGetDpiForMonitor();
    if (!getDpi)
        return -1;
    UINT dpiX = 0, dpiY = 0;
    if (!monitor || FAILED(getDpi(monitor, EFFECTIVE_DPI, &dpiX, &dpiY)))
        return 0;
    return (int)dpiY;
}

int GetScreenDpi()
{
    HDC screen = GetDC(0);
    int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen)
        ReleaseDC(0, screen);
    return dpi > 0 ? dpi : 96;
}

int GetMonitorDpi(HMONITOR monitor)
{
    int dpi = QueryMonitorDpi(monitor);
    return dpi > 0 ? dpi : GetScreenDpi();
}

// ---------------------------------------------------------------- monitor table

// "\\.\DISPLAY1" -> "DISPLAY1".
static void CopyDeviceName(char *out, const char *device)
{
    while (*device == '\\' || *device == '.')
        device++;
    CopyText(out, device, 32);
}

static BOOL CALLBACK EnumMonitorProc(HMONITOR monitor, HDC, LPRECT rect, LPARAM data)
{
    MonitorTable *table = (MonitorTable *)data;
    if (table->count >= MONITOR_TABLE_SIZE || !monitor || !rect)
        return FALSE;
    int i = table->count++;
    table->rect[i] = *rect;
    table->dpi[i] = GetMonitorDpi(monitor);
    MONITORINFOEXA info;
    memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    if (GetMonitorInfoA(monitor, (MONITORINFO *)&info)) {
        table->work[i] = info.rcWork;
        table->flags[i] = info.dwFlags;
        CopyDeviceName(table->device[i], info.szDevice);
    } else {
        table->work[i] = *rect;
    }
    return TRUE;
}

static void AddDesktopEntry(MonitorTable *table)
{
    RECT rect = {0, 0, 0, 0};
    GetWindowRect(GetDesktopWindow(), &rect);
    table->rect[0] = rect;
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &table->work[0], 0))
        table->work[0] = rect;
    table->dpi[0] = GetScreenDpi();
    table->flags[0] = MONITORINFOF_PRIMARY;
    table->device[0][0] = 0;
    table->count = 1;
}

void RefreshMonitors()
{
    MonitorTable table;
    memset(&table, 0, sizeof table);
    EnumDisplayMonitors(0, 0, EnumMonitorProc, (LPARAM)&table);
    if (table.count == 0)
        AddDesktopEntry(&table);
    table.virtualX = GetSystemMetrics(SM_XVIRTUALSCREEN);
    table.virtualY = GetSystemMetrics(SM_YVIRTUALSCREEN);
    table.virtualWidth = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    table.virtualHeight = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    SetRect(&table.virtualRect, table.virtualX, table.virtualY,
            table.virtualX + table.virtualWidth, table.virtualY + table.virtualHeight);
    gMonitors = table;
}

static bool Contains(const RECT *r, int x, int y)
{
    return x >= r->left && x < r->right && y >= r->top && y < r->bottom;
}

static long long SquaredDistance(int x, int y, int cornerX, int cornerY)
{
    long long dx = (long long)x - cornerX, dy = (long long)y - cornerY;
    return dx * dx + dy * dy;
}

static long long NearestCornerDistance(const RECT *r, int x, int y)
{
    long long best = SquaredDistance(x, y, r->left, r->top), d;
    if ((d = SquaredDistance(x, y, r->right, r->top)) < best)
        best = d;
    if ((d = SquaredDistance(x, y, r->left, r->bottom)) < best)
        best = d;
    if ((d = SquaredDistance(x, y, r->right, r->bottom)) < best)
        best = d;
    return best;
}

// The monitor containing the point, else the one with the nearest corner
// (the first of equal distances).
static int FindMonitor(const MonitorTable *table, int count, int x, int y)
{
    for (int i = 0; i < count; i++)
        if (Contains(&table->rect[i], x, y))
            return i;
    int best = 0;
    long long bestDistance = NearestCornerDistance(&table->rect[0], x, y);
    for (int i = 1; i < count; i++) {
        long long d = NearestCornerDistance(&table->rect[i], x, y);
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return best;
}

// The search runs in the table the rectangle comes from, so the index always
// names an entry of that table. An empty previous table (no display change
// yet) stands for the current one.
int GetMonitorRect(int x, int y, RECT *out, int table, int selector)
{
    RefreshMonitors();
    const MonitorTable *chosen = (table == 1 && gPrevMonitors.count > 0) ? &gPrevMonitors
                                                                         : &gMonitors;
    int count = chosen->count > MONITOR_TABLE_SIZE ? MONITOR_TABLE_SIZE : chosen->count;
    int index = count > 1 ? FindMonitor(chosen, count, x, y) : 0;
    if (out)
        *out = selector == 1 ? chosen->work[index] : chosen->rect[index];
    return index;
}

// ---------------------------------------------------------------- windows

static int KeepInside(int position, int size, int low, int high)
{
    if (position + size > high)
        position = high - size;
    return position < low ? low : position;   // too large: the start wins
}

void CenterWindow(HWND window, RECT *rect, HWND reference)
{
    RECT own;
    if (rect)
        own = *rect;
    else if (!window || !GetWindowRect(window, &own))
        return;
    if (!reference && window)
        reference = GetParent(window);
    RECT over;
    if (!reference || !GetWindowRect(reference, &over))
        GetWindowRect(GetDesktopWindow(), &over);

    int width = own.right - own.left, height = own.bottom - own.top;
    RECT work;
    GetMonitorRect(over.left, over.top, &work, 0, 1);
    int left = KeepInside(over.left + (over.right - over.left - width) / 2, width, work.left,
                          work.right);
    int top = KeepInside(over.top + (over.bottom - over.top - height) / 2, height, work.top,
                         work.bottom);
    if (rect) {
        OffsetRect(rect, left - rect->left, top - rect->top);   // keeps its size
        return;
    }
    POINT position = {left, top};
    if (GetWindowLongA(window, GWL_STYLE) & WS_CHILD)   // placed in its parent's client area
        MapWindowPoints(HWND_DESKTOP, GetParent(window), &position, 1);
    SetWindowPos(window, 0, position.x, position.y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool SetTopmostLikeParent(HWND window)
{
    if (!window || (GetWindowLongA(window, GWL_STYLE) & WS_CHILD))
        return false;
    HWND parent = GetParent(window);
    if (!parent || !(GetWindowLongA(parent, GWL_EXSTYLE) & WS_EX_TOPMOST))
        return false;
    return SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0,
                        SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE) != 0;
}

bool IsCursorOver(HWND window)
{
    POINT cursor;
    return window && GetCursorPos(&cursor) && WindowFromPoint(cursor) == window;
}

static void InvalidateStrip(HWND window, int left, int top, int right, int bottom)
{
    RECT strip = {left, top, right, bottom};
    if (!IsRectEmpty(&strip))
        InvalidateRect(window, &strip, FALSE);
}

void InvalidateNewArea(HWND window, int newWidth, int newHeight, int *storedWidth,
                       int *storedHeight)
{
    if (!storedWidth || !storedHeight) {
        if (window)
            InvalidateRect(window, 0, FALSE);
        return;
    }
    if (window) {
        if (newWidth == *storedWidth) {
            InvalidateRect(window, 0, FALSE);
        } else {
            InvalidateStrip(window, *storedWidth, 0, newWidth, newHeight);
            InvalidateStrip(window, 0, *storedHeight, newWidth, newHeight);
        }
    }
    *storedWidth = newWidth;
    *storedHeight = newHeight;
}

struct InstanceSearch {
    const char *title;
    HWND found;
};

static BOOL CALLBACK MatchInstanceWindow(HWND window, LPARAM data)
{
    InstanceSearch *search = (InstanceSearch *)data;
    char name[64], title[MAX_TEXT + 1];
    if (!GetClassNameA(window, name, sizeof name) || _stricmp(name, "QRFPhantom") != 0)
        return TRUE;
    title[0] = 0;
    GetWindowTextA(window, title, sizeof title);
    if (strcmp(title, search->title) != 0)
        return TRUE;
    search->found = window;
    return FALSE;
}

HWND FindInstanceWindow(const char *title)
{
    if (!title)
        return 0;
    InstanceSearch search = {title, 0};
    EnumWindows(MatchInstanceWindow, (LPARAM)&search);
    return search.found;
}

// ---------------------------------------------------------------- system checks

bool CheckComctl32Version()
{
    HMODULE library = LoadLibraryA("comctl32.dll");
    if (!library)
        return false;
    DLLGETVERSIONPROC getVersion =
        (DLLGETVERSIONPROC)(AnyFunction)GetProcAddress(library, "DllGetVersion");
    bool recent = false;
    if (getVersion) {
        DLLVERSIONINFO info;
        memset(&info, 0, sizeof info);
        info.cbSize = sizeof info;
        if (SUCCEEDED(getVersion(&info)))
            recent = info.dwMajorVersion > 4 ||
                     (info.dwMajorVersion == 4 && info.dwMinorVersion > 70);
    }
    FreeLibrary(library);
    return recent;
}

bool GetSpecialFolderPath(int csidl, char *out)
{
    if (!out)
        return false;
    char path[MAX_PATH];
    path[0] = 0;
    if (SHGetFolderPathA(0, csidl, 0, SHGFP_TYPE_CURRENT, path) != S_OK || !path[0]) {
        out[0] = 0;
        return false;
    }
    CopyText(out, path, MAX_TEXT);
    return true;
}

// ---------------------------------------------------------------- file dialog

static char gFileDialogPath[MAX_TEXT];

// Default extension of the chosen filter pair: its pattern's first extension
// ("*.jpg;*.jpeg" -> "jpg"); none for "*.*" or a pattern without one.
static void DefaultExtension(const char *filters, int index, char *out, int size)
{
    out[0] = 0;
    if (!filters || index < 0)
        return;
    const char *text = filters;
    for (int skip = 0; skip < 2 * index + 1; skip++) {
        if (!*text)
            return;   // the list ended before that pair
        text += strlen(text) + 1;
    }
    const char *dot = strchr(text, '.');
    if (!dot)
        return;
    int n = 0;
    for (dot++; dot[n] && !strchr(";*?. ", dot[n]); n++)
        if (n == size - 1)
            return;
    memcpy(out, dot, (size_t)n);
    out[n] = 0;
}

static BOOL RunFileDialog(bool save, OPENFILENAMEA *dialog)
{
    return save ? GetSaveFileNameA(dialog) : GetOpenFileNameA(dialog);
}

const char *ShowFileDialog(bool save, const char *filters, int filterIndex, int *indexOut,
                           char *folder, const char *initialPath)
{
    char extension[32];
    DefaultExtension(filters, filterIndex, extension, sizeof extension);
    CopyText(gFileDialogPath, initialPath, MAX_TEXT);

    OPENFILENAMEA dialog;
    memset(&dialog, 0, sizeof dialog);
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = GetActiveWindow();
    dialog.lpstrFilter = filters;
    dialog.nFilterIndex = (DWORD)(filterIndex < 0 ? 1 : filterIndex + 1);
    dialog.lpstrFile = gFileDialogPath;
    dialog.nMaxFile = MAX_TEXT;
    dialog.lpstrInitialDir = (folder && *folder) ? folder : 0;
    dialog.lpstrDefExt = extension[0] ? extension : 0;
    dialog.Flags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_EXPLORER | OFN_ENABLESIZING |
                   (save ? OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST : OFN_FILEMUSTEXIST);

    BOOL chosen = RunFileDialog(save, &dialog);
    if (!chosen && CommDlgExtendedError() == FNERR_INVALIDFILENAME) {
        gFileDialogPath[0] = 0;   // the initial name was rejected: try without it
        chosen = RunFileDialog(save, &dialog);
    }
    if (!chosen)
        return 0;
    if (indexOut)
        *indexOut = (int)dialog.nFilterIndex - 1;
    if (folder) {
        int cut = dialog.nFileOffset < MAX_TEXT ? dialog.nFileOffset : MAX_TEXT - 1;
        CopyText(folder, gFileDialogPath, cut + 1);
    }
    return gFileDialogPath;
}

// ---------------------------------------------------------------- COM helpers

static void Release(IUnknown *object)
{
    if (object)
        object->Release();
}

// COM for the length of one call; an apartment already set up by the caller
// is used as it is.
static bool EnterCom()
{
    return SUCCEEDED(CoInitializeEx(0, COINIT_APARTMENTTHREADED));
}

static void LeaveCom(bool entered)
{
    if (entered)
        CoUninitialize();
}

static bool ToWide(const char *text, WCHAR *out, int size)
{
    return MultiByteToWideChar(CP_ACP, 0, text ? text : "", -1, out, size) > 0;
}

// Fails when the text does not fit or has characters the ANSI code page
// lacks (a path with "?" in it would name another file).
static bool FromWide(const WCHAR *text, char *out, int size)
{
    BOOL lossy = FALSE;
    BOOL *lossyOut = GetACP() == CP_UTF8 ? 0 : &lossy;   // UTF-8 refuses the flag
    return WideCharToMultiByte(CP_ACP, 0, text, -1, out, size, 0, lossyOut) > 0 && !lossy;
}

// ---------------------------------------------------------------- folder picker

static void SetStartFolder(IFileOpenDialog *dialog, const char *path)
{
    WCHAR wide[MAX_TEXT];
    IShellItem *start = 0;
    if (!*path || !ToWide(path, wide, MAX_TEXT))
        return;
    if (SUCCEEDED(SHCreateItemFromParsingName(wide, 0, IID_IShellItem, (void **)&start)))
        dialog->SetFolder(start);
    Release(start);
}

static int CopyChosenFolder(IFileOpenDialog *dialog, char *path)
{
    IShellItem *item = 0;
    WCHAR *wide = 0;
    char chosen[MAX_TEXT];
    int result = 2;
    if (SUCCEEDED(dialog->GetResult(&item)) &&
        SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &wide)) &&
        FromWide(wide, chosen, MAX_TEXT)) {
        CopyText(path, chosen, MAX_TEXT);
        result = 1;
    }
    CoTaskMemFree(wide);
    Release(item);
    return result;
}

static int PickFolder(const char *title, char *path, bool fileSystemOnly)
{
    IFileOpenDialog *dialog = 0;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, 0, CLSCTX_INPROC_SERVER,
                                IID_IFileOpenDialog, (void **)&dialog)))
        return 2;
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    options |= FOS_PICKFOLDERS;
    if (fileSystemOnly)
        options |= FOS_FORCEFILESYSTEM;
    dialog->SetOptions(options);
    WCHAR wideTitle[MAX_TEXT];
    if (title && ToWide(title, wideTitle, MAX_TEXT))
        dialog->SetTitle(wideTitle);
    SetStartFolder(dialog, path);
    int result = SUCCEEDED(dialog->Show(GetActiveWindow())) ? CopyChosenFolder(dialog, path) : 2;
    Release(dialog);
    return result;
}

int BrowseForFolder(const char *title, char *path, bool fileSystemOnly)
{
    if (!path)
        return 2;
    bool entered = EnterCom();
    int result = PickFolder(title, path, fileSystemOnly);
    LeaveCom(entered);
    return result;
}

// ---------------------------------------------------------------- unelevated start

static const GUID kTopLevelBrowserService = {
    0x4c96be40, 0x915c, 0x11cf, {0x99, 0xd3, 0x00, 0xaa, 0x00, 0x4a, 0xe8, 0x37}};

// The desktop window's folder view in the shell's process, as an
// IShellFolderViewDual.
static HRESULT GetDesktopFolderView(IShellFolderViewDual **out)
{
    IShellWindows *windows = 0;
    IDispatch *desktop = 0;
    IServiceProvider *services = 0;
    IShellBrowser *browser = 0;
    IShellView *view = 0;
    IDispatch *background = 0;
    VARIANT location, root;
    long window = 0;
    VariantInit(&location);
    VariantInit(&root);
    location.vt = VT_I4;
    location.lVal = CSIDL_DESKTOP;

    *out = 0;
    HRESULT hr = CoCreateInstance(CLSID_ShellWindows, 0, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                  (void **)&windows);
    if (SUCCEEDED(hr))
        hr = windows->FindWindowSW(&location, &root, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH,
                                   &desktop);
    if (SUCCEEDED(hr) && !desktop)
        hr = E_FAIL;   // S_FALSE: no desktop window
    if (SUCCEEDED(hr))
        hr = desktop->QueryInterface(IID_IServiceProvider, (void **)&services);
    if (SUCCEEDED(hr))
        hr = services->QueryService(kTopLevelBrowserService, IID_IShellBrowser, (void **)&browser);
    if (SUCCEEDED(hr))
        hr = browser->QueryActiveShellView(&view);
    if (SUCCEEDED(hr))
        hr = view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, (void **)&background);
    if (SUCCEEDED(hr))
        hr = background->QueryInterface(IID_IShellFolderViewDual, (void **)out);
    Release(background);
    Release(view);
    Release(browser);
    Release(services);
    Release(desktop);
    Release(windows);
    return hr;
}

static VARIANT TextVariant(const char *text)
{
    VARIANT v;
    VariantInit(&v);
    int size = MultiByteToWideChar(CP_ACP, 0, text ? text : "", -1, 0, 0);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(0, (UINT)(size > 0 ? size - 1 : 0));
    if (v.bstrVal && size > 0)
        MultiByteToWideChar(CP_ACP, 0, text ? text : "", -1, v.bstrVal, size);
    return v;
}

static HRESULT ExecuteThroughDesktop(const char *file, const char *parameters, const char *folder,
                                     const char *verb, int show)
{
    IShellFolderViewDual *folderView = 0;
    IDispatch *application = 0;
    IShellDispatch2 *shell = 0;
    HRESULT hr = GetDesktopFolderView(&folderView);
    if (SUCCEEDED(hr))
        hr = folderView->get_Application(&application);
    if (SUCCEEDED(hr) && !application)
        hr = E_FAIL;
    if (SUCCEEDED(hr))
        hr = application->QueryInterface(IID_IShellDispatch2, (void **)&shell);
    if (SUCCEEDED(hr)) {
        VARIANT name = TextVariant(file), arguments = TextVariant(parameters),
                directory = TextVariant(folder), operation = TextVariant(verb), showCommand;
        VariantInit(&showCommand);
        showCommand.vt = VT_I4;
        showCommand.lVal = show;
        if (!name.bstrVal || !arguments.bstrVal || !directory.bstrVal || !operation.bstrVal)
            hr = E_OUTOFMEMORY;
        else
            hr = shell->ShellExecute(name.bstrVal, arguments, directory, operation, showCommand);
        VariantClear(&name);
        VariantClear(&arguments);
        VariantClear(&directory);
        VariantClear(&operation);
    }
    Release(shell);
    Release(application);
    Release(folderView);
    return hr;
}

static HRESULT ExecuteHere(const char *file, const char *parameters, const char *folder,
                           const char *verb, int show)
{
    SetLastError(0);
    HINSTANCE result = ShellExecuteA(0, (verb && *verb) ? verb : 0, file, parameters, folder, show);
    if ((INT_PTR)result > 32)
        return S_OK;
    DWORD error = GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

HRESULT ShellExecuteUnelevated(const char *file, const char *parameters, const char *folder,
                               const char *verb, int show)
{
    if (!file || !*file)
        return E_INVALIDARG;
    bool entered = EnterCom();
    HRESULT hr = ExecuteThroughDesktop(file, parameters, folder, verb, show);
    if (FAILED(hr))
        hr = ExecuteHere(file, parameters, folder, verb, show);
    LeaveCom(entered);
    return hr;
}

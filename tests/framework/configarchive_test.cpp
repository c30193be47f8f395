// The configuration archive: template expansion and the record's layout,
// export checked with Info-ZIP unzip, archives made by Info-ZIP zip restored,
// the refusals (wrong product, unsafe names, damaged data) that must leave
// the configuration alone, reset, the schedule and the rotation with the
// clock handed to them, the settings dialog, and the import at start-up in a
// child copy acting as the program. Backup and restore show the real open
// and save dialogs, which a helper thread fills in as a user would.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "framework/application.h"
#include "framework/configarchive.h"
#include "framework/framelist.h"
#include "framework/messages.h"
#include "framework/recordfile.h"
#include "framework/ui/framewindow.h"
#include "framework/utilities.h"
#include "framework/zip.h"
#include "resources/resource.h"
#include "testutil.h"

namespace {

const char kProduct[] = "VtArchive";
int64_t gNow = 1804248000;   // 2027-03-05 12:00 UTC, the clock handed to the archive
std::string gPicked;         // what the user picks in the file dialog; empty: Cancel
bool gPickerSeen;            // the last exchange showed the file dialog
bool gPickerSave;            // ... and it was the save dialog

bool Exists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// ---------------------------------------------------------------- message boxes

struct BoxAnswer {
    int answer;
    std::string text;   // first line + "|" + the rest
    bool found;
};

DWORD WINAPI AnswerBox(LPVOID parameter)
{
    BoxAnswer *box = (BoxAnswer *)parameter;
    for (int waited = 0; waited < 10000; waited += 20) {
        HWND found = FindWindowA("#32770", gApp.productName);
        if (found && IsWindowVisible(found)) {
            Sleep(50);
            char line1[512] = "", lines[512] = "";
            GetDlgItemTextA(found, IDC_MSGBOX_LINE1, line1, sizeof line1);
            GetDlgItemTextA(found, IDC_MSGBOX_LINES, lines, sizeof lines);
            box->text = std::string(line1) + "|" + lines;
            box->found = true;
            PostMessageA(found, WM_COMMAND, (WPARAM)box->answer, 0);
            return 0;
        }
        Sleep(20);
    }
    return 0;
}

// Runs the call while a helper thread answers the one message box it shows.
template <typename Call> int WithAnswer(int answer, BoxAnswer *box, Call call)
{
    box->answer = answer;
    box->found = false;
    HANDLE thread = CreateThread(0, 0, AnswerBox, box, 0, 0);
    int result = call();
    WaitForSingleObject(thread, 15000);
    CloseHandle(thread);
    return result;
}

// ---------------------------------------------------------------- the file dialog

// A visible dialog of this process other than exclude and the product's
// message boxes: the open or save dialog the exchange shows.
struct FileDialogSearch {
    HWND exclude, found;
};

BOOL CALLBACK FindFileDialog(HWND window, LPARAM data)
{
    FileDialogSearch *search = (FileDialogSearch *)data;
    char cls[16], title[128] = "";
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (window == search->exclude || process != GetCurrentProcessId() || !IsWindowVisible(window) ||
        !GetClassNameA(window, cls, sizeof cls) || strcmp(cls, "#32770") != 0)
        return TRUE;
    GetWindowTextA(window, title, sizeof title);
    if (!strcmp(title, gApp.productName))
        return TRUE;
    search->found = window;
    return FALSE;
}

HWND WaitForFileDialog(HWND exclude, int milliseconds)
{
    FileDialogSearch search = {exclude, 0};
    for (int waited = 0;; waited += 50) {
        EnumWindows(FindFileDialog, (LPARAM)&search);
        if (search.found || waited >= milliseconds)
            return search.found;
        Sleep(50);
    }
}

// Does in the file dialog what a user does: types gPicked into the file
// name box and presses its OK button (Yes to a question about overwriting
// an existing file), or presses Cancel when gPicked is empty.
DWORD WINAPI DriveFileDialog(LPVOID)
{
    HWND dialog = WaitForFileDialog(0, 10000);
    if (!dialog)
        return 1;
    gPickerSeen = true;
    Sleep(200);
    char ok[64] = "";
    GetDlgItemTextA(dialog, IDOK, ok, sizeof ok);
    gPickerSave = strstr(ok, "Save") != 0;
    if (gPicked.empty()) {
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     (LPARAM)GetDlgItem(dialog, IDCANCEL));
    } else {
        EnumChildWindows(dialog, TypeIntoFirstEdit, (LPARAM)gPicked.c_str());
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     (LPARAM)GetDlgItem(dialog, IDOK));
    }
    for (int i = 0; i < 100 && IsWindow(dialog); i++) {
        Sleep(50);
        HWND question = WaitForFileDialog(dialog, 0);
        if (question && GetWindow(question, GW_OWNER) == dialog)
            PostMessageA(question, WM_COMMAND, IDYES, 0);
    }
    if (IsWindow(dialog)) {   // never hang the test on a dialog that stays
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        return 2;
    }
    return 0;
}

// The exchange in mode, with the file dialog answered from gPicked and the
// one message box that may follow answered with answer (0: none expected).
int Exchange(int mode, int answer = 0, BoxAnswer *box = 0)
{
    gPickerSeen = gPickerSave = false;
    // The dialogs open in the current folder: the small one of the test's
    // file, not the build folder.
    char here[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, here);
    std::string pickedFolder = gPicked.substr(0, gPicked.rfind('\\'));
    if (!pickedFolder.empty())
        SetCurrentDirectoryA(pickedFolder.c_str());
    HANDLE picker = CreateThread(0, 0, DriveFileDialog, 0, 0, 0);
    BoxAnswer unused;
    int result = answer ? WithAnswer(answer, box ? box : &unused,
                                     [mode] { return ExchangeConfigArchive(0, mode, 0); })
                        : ExchangeConfigArchive(0, mode, 0);
    WaitForSingleObject(picker, 20000);
    CloseHandle(picker);
    SetCurrentDirectoryA(here);
    return result;
}

// ---------------------------------------------------------------- archives

std::vector<std::string> EntryNames(const std::string &path)
{
    std::vector<std::string> names;
    ZipHandle *zip = CZipReader::Open(path.c_str(), 0);
    if (!zip)
        return names;
    ZipEntryInfo info;
    CZipReader::GetEntry(zip, -1, &info);
    int count = info.index;
    for (int i = 0; i < count; i++)
        if (CZipReader::GetEntry(zip, i, &info) == ZIP_OK)
            names.push_back(info.name);
    CZipReader::Close(zip);
    return names;
}

std::string EntryData(const std::string &path, const char *name)
{
    ZipHandle *zip = CZipReader::Open(path.c_str(), 0);
    if (!zip)
        return "<no archive>";
    ZipEntryInfo info;
    int index = -1;
    std::string data = "<no entry>";
    if (CZipReader::FindEntry(zip, name, 0, &index, &info) == ZIP_OK) {
        data.assign(info.uncompressedSize, '\0');
        if (CZipReader::ExtractToMemory(zip, index, &data[0], info.uncompressedSize) != ZIP_OK)
            data = "<unreadable>";
    }
    CZipReader::Close(zip);
    return data;
}

void Put16(std::string *s, uint32_t v)
{
    s->push_back((char)(v & 0xFF));
    s->push_back((char)(v >> 8 & 0xFF));
}
void Put32(std::string *s, uint32_t v)
{
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}

// A stored archive written byte by byte, with whatever names it is given.
std::string StoredZip(const std::vector<std::pair<std::string, std::string>> &entries)
{
    InitCrc32Table();
    std::string out, central;
    for (const auto &e : entries) {
        uint32_t crc = e.second.empty() ? 0 : Crc32(e.second.data(), (int)e.second.size());
        uint32_t offset = (uint32_t)out.size();
        Put32(&out, 0x04034B50);
        Put16(&out, 20), Put16(&out, 0), Put16(&out, 0), Put16(&out, 0), Put16(&out, 0x5A65);
        Put32(&out, crc), Put32(&out, (uint32_t)e.second.size()), Put32(&out, (uint32_t)e.second.size());
        Put16(&out, (uint32_t)e.first.size()), Put16(&out, 0);
        out += e.first + e.second;
        Put32(&central, 0x02014B50);
        Put16(&central, 20), Put16(&central, 20), Put16(&central, 0), Put16(&central, 0);
        Put16(&central, 0), Put16(&central, 0x5A65);
        Put32(&central, crc), Put32(&central, (uint32_t)e.second.size());
        Put32(&central, (uint32_t)e.second.size());
        Put16(&central, (uint32_t)e.first.size()), Put16(&central, 0), Put16(&central, 0);
        Put16(&central, 0), Put16(&central, 0), Put32(&central, 0x20), Put32(&central, offset);
        central += e.first;
    }
    uint32_t start = (uint32_t)out.size();
    out += central;
    Put32(&out, 0x06054B50);
    Put16(&out, 0), Put16(&out, 0);
    Put16(&out, (uint32_t)entries.size()), Put16(&out, (uint32_t)entries.size());
    Put32(&out, (uint32_t)central.size()), Put32(&out, start), Put16(&out, 0);
    return out;
}

std::string Identity(const std::string &keep = "") { return keep + std::string(1, '\0') + "3.4.5"; }

// ---------------------------------------------------------------- fixture

class Archive : public ::testing::Test {
protected:
    std::string folder, data, installer;
    void SetUp() override
    {
        folder = FreshTempFolder(std::string("arc-") +
                                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        data = folder + "\\data";
        CreateDirectoryA(data.c_str(), 0);
        CopyText(gApp.dataFolder, data.c_str(), MAX_TEXT);
        CopyText(gApp.productName, kProduct, MAX_TEXT);
        gApp.versionMajor = 3;
        gApp.versionMinor = 4;
        gApp.versionBuild = 5;
        gApp.instance = GetModuleHandleA(0);
        gApp.SetConfigFileTypes("*.vtp;*.vtc", "");
        // The installing account's folder: never this user's backups.
        installer = folder + "\\installer";
        CopyText((char *)gApp.installRecord + INSTALL_RECORD_CUSTOM_PATH, installer.c_str(),
                 INSTALL_RECORD_TEXT_BYTES);
        gPicked.clear();
        gNow = 1804248000;
    }
    void TearDown() override
    {
        for (int i = 0; i < 500 && gArchiveRunning; i++)
            Sleep(10);
        RemoveTree(folder);
    }
    void MakeConfiguration()
    {
        CreateDirectoryA((data + "\\Profiles").c_str(), 0);
        CreateDirectoryA((data + "\\Paths").c_str(), 0);
        WriteWhole(data + "\\(QRF)App.rgc", "app record");
        WriteWhole(data + "\\Profiles\\main.vtp", "profile");
        WriteWhole(data + "\\Paths\\tour.vtc", "camera path");
        WriteWhole(data + "\\notes.txt", "not configuration");
    }
    std::string Pending() { return data + "\\" + kProduct + ".KestrovaConfig"; }
    // The data folder's files and contents, for "nothing changed" checks.
    std::string Snapshot()
    {
        std::string all;
        for (const char *name : {"(QRF)App.rgc", "Profiles\\main.vtp", "Paths\\tour.vtc", "notes.txt"})
            all += std::string(name) + "=" + ReadWhole(data + "\\" + name) + ";";
        return all;
    }
    void StoreRecord(int64_t last, bool enabled, int interval, int keep, const char *folderTemplate)
    {
        ArchiveRecord record = {};
        CopyText(record.folderTemplate, folderTemplate, 260);
        record.lastArchive = last;
        record.enabled = enabled;
        record.intervalDays = interval;
        record.keepCount = keep;
        ASSERT_EQ(544, WriteRecordFile("(QRF)Archive", -1, &record, sizeof record, 0));
    }
};

// A folder below the working directory, which the host sees through Z:.
std::string HostFolder(const std::string &name)
{
    char here[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, here);
    std::string path = std::string(here) + "\\" + name;
    RemoveTree(path);
    CreateDirectoryA(path.c_str(), 0);
    return path;
}

std::wstring LongForm(const std::string &path)
{
    return L"\\\\?\\" + std::wstring(path.begin(), path.end());
}

void ListLong(const std::wstring &folder, const std::string &prefix, std::vector<std::string> *out)
{
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..")
            continue;
        std::string relative = prefix + std::string(name.begin(), name.end());
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out->push_back(relative + "\\");
            ListLong(folder + L"\\" + name, relative + "\\", out);
        } else {
            out->push_back(relative + " " + std::to_string(entry.nFileSizeLow));
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
}

// Every folder and file (with its size) below the folder, however deep: the
// wide API's long-path form sees what a MAX_PATH walk cannot.
std::string LongListing(const std::string &folder)
{
    std::vector<std::string> lines;
    ListLong(LongForm(folder), "", &lines);
    std::sort(lines.begin(), lines.end());
    std::string all;
    for (const std::string &line : lines)
        all += line + "\n";
    return all;
}

}  // namespace

// ---------------------------------------------------------------- templates and record

TEST_F(Archive, TemplatesExpandInOrderAndFailWhenTooLong)
{
    char out[MAX_TEXT];
    ASSERT_TRUE(ExpandVariables("%PROGRAM%-%YEAR%.%MONTH%.%DAY%", out, MAX_TEXT, gNow));
    EXPECT_STREQ(out, "VtArchive-2027.03.05");
    ASSERT_TRUE(ExpandVariables("%CONFIGDIR%\\Backup", out, MAX_TEXT, gNow));
    EXPECT_EQ(std::string(out), data + "\\Backup");
    ASSERT_TRUE(ExpandVariables("%PROGVER% %DATE%", out, MAX_TEXT, gNow));
    EXPECT_STREQ(out, "3.4.5 05.03.2027");
    SetEnvironmentVariableA("VTARCHIVEVAR", "from-env");
    ASSERT_TRUE(ExpandVariables("%HOUR%%MINUTE%%SECOND%|%TIME%|%VTARCHIVEVAR%", out, MAX_TEXT, gNow));
    SYSTEMTIME local;
    GetLocalTime(&local);   // only the shape: the zone is the host's
    std::string text = out;
    ASSERT_EQ(text.size(), 6 + 1 + 8 + 1 + 8u) << text;
    EXPECT_EQ(text.substr(0, 2) + "-" + text.substr(2, 2) + "-" + text.substr(4, 2), text.substr(7, 8));
    EXPECT_EQ(text.substr(16), "from-env");

    // The product name 200 long, twelve times: past the 2048 working buffer.
    CopyText(gApp.productName, std::string(200, 'p').c_str(), MAX_TEXT);
    std::string many;
    for (int i = 0; i < 12; i++)
        many += "%PROGRAM%";
    strcpy(out, "stale");
    EXPECT_FALSE(ExpandVariables(many.c_str(), out, MAX_TEXT, gNow));
    EXPECT_STREQ(out, "");
    EXPECT_FALSE(ExpandVariables("%PROGRAM%", out, 100, gNow));   // fits the buffer, not the output
    EXPECT_TRUE(ExpandVariables("%PROGRAM%", out, 201, gNow));
}

TEST_F(Archive, RecordLayoutAndDefaults)
{
    unsigned char bytes[544] = {};
    bytes[520] = 0x80, bytes[521] = 0x51, bytes[522] = 0x01;   // 86400
    bytes[528] = 1;
    bytes[536] = 0xFF, bytes[537] = 0xFF, bytes[538] = 0xFF, bytes[539] = 0xFF;   // keep -1
    ASSERT_EQ(544, WriteRecordFile("(QRF)Archive", -1, bytes, sizeof bytes, 0));
    LoadArchiveSettings();
    EXPECT_STREQ(gArchiveRecord.folderTemplate, "%CONFIGDIR%\\Backup");
    EXPECT_STREQ(gArchiveRecord.nameTemplate, "%PROGRAM%-%YEAR%.%MONTH%.%DAY%");
    EXPECT_EQ(gArchiveRecord.lastArchive, 86400);
    EXPECT_EQ(gArchiveRecord.enabled, 1);
    EXPECT_EQ(gArchiveRecord.intervalDays, 14);
    EXPECT_EQ(gArchiveRecord.keepCount, 30);

    strcpy(gArchiveRecord.folderTemplate, "F");
    strcpy(gArchiveRecord.nameTemplate, "N");
    gArchiveRecord.intervalDays = 9;
    gArchiveRecord.keepCount = 0x0203;
    SaveArchiveSettings();
    std::string stored = ReadWhole(data + "\\(QRF)Archive.rgc");
    ASSERT_EQ(stored.size(), 544u);
    EXPECT_EQ(stored[0], 'F');
    EXPECT_EQ(stored[260], 'N');
    EXPECT_EQ(stored[532], 9);
    EXPECT_EQ(stored[536], 3);
    EXPECT_EQ(stored[537], 2);
}

// ---------------------------------------------------------------- export and interop

TEST_F(Archive, ExportHoldsIdentityAndConfigurationAndUnzipAgrees)
{
    MakeConfiguration();
    std::string host = HostFolder("arc-export");
    std::string target = host + "\\out.KestrovaConfig";
    ASSERT_EQ(ARCHIVE_OK, ExchangeConfigArchive(0, ARCHIVE_MODE_EXPORT, target.c_str()));
    EXPECT_EQ(EntryData(target, kProduct), Identity());
    std::vector<std::string> names = EntryNames(target);
    EXPECT_EQ(names.size(), 4u);   // identity and three files; notes.txt stays out

    std::string report;
    int ran = RunHostScript(host,
                            "unzip -Z1 out.KestrovaConfig | LC_ALL=C sort\n"
                            "unzip -t out.KestrovaConfig >/dev/null && echo tested\n"
                            "mkdir x && (cd x && unzip -q ../out.KestrovaConfig && "
                            "od -An -c VtArchive | tr -s ' ' && cat Profiles/main.vtp '(QRF)App.rgc')",
                            &report);
    ASSERT_EQ(ran, 0) << report;
    EXPECT_EQ(report, "(QRF)App.rgc\nPaths/tour.vtc\nProfiles/main.vtp\nVtArchive\ntested\n"
                      " \\0 3 . 4 . 5\nprofileapp record");
    RemoveTree(host);
}

TEST_F(Archive, FileInUseIsReportedButTheRestIsArchived)
{
    MakeConfiguration();
    std::string target = folder + "\\busy.KestrovaConfig";
    HANDLE busy = CreateFileA((data + "\\Profiles\\main.vtp").c_str(), GENERIC_READ | GENERIC_WRITE,
                              0, 0, OPEN_EXISTING, 0, 0);
    ASSERT_NE(busy, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ARCHIVE_FILES_FAILED, ExchangeConfigArchive(0, ARCHIVE_MODE_EXPORT, target.c_str()));
    EXPECT_EQ(EntryNames(target).size(), 3u);
    EXPECT_EQ(EntryData(target, "Paths/tour.vtc"), "camera path");

    // The backup tells the user.
    gPicked = folder + "\\chosen.KestrovaConfig";
    BoxAnswer box;
    int result = Exchange(ARCHIVE_MODE_BACKUP, IDOK, &box);
    CloseHandle(busy);
    EXPECT_EQ(result, ARCHIVE_FILES_FAILED);
    EXPECT_TRUE(gPickerSeen);
    EXPECT_TRUE(gPickerSave);
    EXPECT_EQ(box.text, "Some file(s) could not be backed up!|Maybe they are in use by the program.");
    EXPECT_EQ(EntryNames(gPicked).size(), 3u);

    // A file that cannot be written: another program holds it open.
    gPicked = folder + "\\held.KestrovaConfig";
    WriteWhole(gPicked, "held");
    HANDLE held = CreateFileA(gPicked.c_str(), GENERIC_READ, 0, 0, OPEN_EXISTING, 0, 0);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    result = Exchange(ARCHIVE_MODE_BACKUP, IDOK, &box);
    CloseHandle(held);
    EXPECT_EQ(result, ARCHIVE_NOT_CREATED);
    EXPECT_EQ(box.text, "Configuration file error!|");
    EXPECT_EQ(ReadWhole(gPicked), "held");
    gPicked.clear();
    EXPECT_EQ(ARCHIVE_CANCELLED, Exchange(ARCHIVE_MODE_BACKUP));
    EXPECT_TRUE(gPickerSeen);
}

TEST_F(Archive, InfoZipArchiveRestoresAndImportReplacesTheConfiguration)
{
    MakeConfiguration();
    std::string host = HostFolder("arc-infozip");
    std::string report;
    int ran = RunHostScript(host,
                            "mkdir src && (cd src && mkdir Profiles && printf '\\0009.9.9' > VtArchive &&\n"
                            "printf restored > Profiles/main.vtp && printf new > extra.vtc &&\n"
                            "printf keep > '(QRF)App.rgc' &&\n"
                            "zip -q -r ../made.KestrovaConfig . && echo made)",
                            &report);
    ASSERT_EQ(ran, 0) << report;
    ASSERT_EQ(report, "made\n");
    gPicked = host + "\\made.KestrovaConfig";

    BoxAnswer box;
    EXPECT_EQ(ARCHIVE_CANCELLED, Exchange(ARCHIVE_MODE_RESTORE, IDNO, &box));
    EXPECT_EQ(box.text, "Warning: your current configuration will be overwritten!|Do you want to continue?");
    EXPECT_FALSE(Exists(Pending()));
    EXPECT_EQ(ARCHIVE_OK, Exchange(ARCHIVE_MODE_RESTORE, IDYES, &box));
    EXPECT_TRUE(gPickerSeen);
    EXPECT_FALSE(gPickerSave);
    ASSERT_EQ(ReadWhole(Pending()), ReadWhole(gPicked));
    EXPECT_EQ(Snapshot(), "(QRF)App.rgc=app record;Profiles\\main.vtp=profile;Paths\\tour.vtc=camera "
                          "path;notes.txt=not configuration;");   // nothing before the next start

    EXPECT_EQ(IMPORT_DONE, ImportConfigArchive(Pending().c_str()));
    EXPECT_EQ(ReadWhole(data + "\\Profiles\\main.vtp"), "restored");
    EXPECT_EQ(ReadWhole(data + "\\extra.vtc"), "new");
    EXPECT_EQ(ReadWhole(data + "\\(QRF)App.rgc"), "keep");
    EXPECT_FALSE(Exists(data + "\\notes.txt"));         // recycled: the keep list is empty
    EXPECT_FALSE(Exists(data + "\\Paths\\tour.vtc"));
    EXPECT_FALSE(Exists(data + "\\VtArchive"));          // the identity is not unpacked
    EXPECT_FALSE(Exists(Pending() + ".import"));
    EXPECT_TRUE(Exists(Pending()));                      // start-up deletes it
    RemoveTree(host);
}

TEST_F(Archive, KeepListOfTheIdentitySurvivesTheImport)
{
    MakeConfiguration();
    WriteWhole(Pending(), StoredZip({{kProduct, Identity("*.txt;*.vtc")}, {"a.rgc", "A"}}));
    EXPECT_EQ(IMPORT_DONE, ImportConfigArchive(Pending().c_str()));
    EXPECT_EQ(ReadWhole(data + "\\notes.txt"), "not configuration");
    EXPECT_EQ(ReadWhole(data + "\\Paths\\tour.vtc"), "camera path");
    EXPECT_FALSE(Exists(data + "\\(QRF)App.rgc"));
    EXPECT_EQ(ReadWhole(data + "\\a.rgc"), "A");
}

// ---------------------------------------------------------------- refusals

TEST_F(Archive, WrongProductIsRefusedAndChangesNothing)
{
    MakeConfiguration();
    gPicked = folder + "\\other.KestrovaConfig";
    WriteWhole(gPicked, StoredZip({{"OtherProduct", Identity()}, {"(QRF)App.rgc", "x"}}));
    BoxAnswer box;
    EXPECT_EQ(ARCHIVE_WRONG_PRODUCT, Exchange(ARCHIVE_MODE_RESTORE, IDOK, &box));
    EXPECT_EQ(box.text, "Wrong product!|");
    EXPECT_FALSE(Exists(Pending()));
    // Not a zip file: no message.
    WriteWhole(gPicked, "not a zip archive at all");
    EXPECT_EQ(ARCHIVE_NOT_CREATED, Exchange(ARCHIVE_MODE_RESTORE));
    gPicked.clear();
    EXPECT_EQ(ARCHIVE_CANCELLED, Exchange(ARCHIVE_MODE_RESTORE));
    // Put in place by hand, the import skips it as well.
    WriteWhole(Pending(), StoredZip({{"OtherProduct", Identity()}, {"(QRF)App.rgc", "x"}}));
    EXPECT_EQ(IMPORT_NO_IDENTITY, ImportConfigArchive(Pending().c_str()));
    EXPECT_EQ(ReadWhole(data + "\\(QRF)App.rgc"), "app record");
}

TEST_F(Archive, NamesLeavingTheDataFolderAreRefused)
{
    MakeConfiguration();
    std::string before = Snapshot();
    const char *names[] = {"../escaped.rgc",   "..\\escaped.rgc", "Profiles/../../escaped.rgc",
                           "/escaped.rgc",     "\\escaped.rgc",   "C:escaped.rgc",
                           "C:/escaped.rgc",   ". ./escaped.rgc", ".../escaped.rgc"};
    for (const char *name : names) {
        WriteWhole(Pending(), StoredZip({{kProduct, Identity()}, {"good.rgc", "g"}, {name, "evil"}}));
        EXPECT_EQ(IMPORT_UNSAFE_NAME, ImportConfigArchive(Pending().c_str())) << name;
        EXPECT_EQ(Snapshot(), before) << name;
        EXPECT_FALSE(Exists(data + "\\good.rgc")) << name;
        EXPECT_FALSE(Exists(data + "\\escaped.rgc")) << name;
        EXPECT_FALSE(Exists(folder + "\\escaped.rgc")) << name;

        gPicked = folder + "\\evil.KestrovaConfig";
        CopyFileA(Pending().c_str(), gPicked.c_str(), FALSE);
        DeleteFileA(Pending().c_str());
        BoxAnswer box;
        EXPECT_EQ(ARCHIVE_NOT_CREATED, Exchange(ARCHIVE_MODE_RESTORE, IDOK, &box)) << name;
        EXPECT_EQ(box.text, "Configuration file error!|");
        EXPECT_FALSE(Exists(Pending()));
    }
    // Dots inside names are fine.
    WriteWhole(Pending(), StoredZip({{kProduct, Identity()}, {"a..b/c.d.rgc", "dots"}}));
    EXPECT_EQ(IMPORT_DONE, ImportConfigArchive(Pending().c_str()));
    EXPECT_EQ(ReadWhole(data + "\\a..b\\c.d.rgc"), "dots");
}

TEST_F(Archive, DamagedArchiveLeavesTheConfigurationAlone)
{
    MakeConfiguration();
    std::string before = Snapshot();
    std::string zip = StoredZip({{kProduct, Identity()}, {"first.rgc", "first"}, {"second.rgc", "second"}});
    size_t at = zip.find("second", zip.find("second.rgc") + 10);
    ASSERT_NE(at, std::string::npos);
    zip[at] = 'S';   // the CRC no longer matches
    WriteWhole(Pending(), zip);
    EXPECT_EQ(IMPORT_BAD_ENTRY, ImportConfigArchive(Pending().c_str()));
    EXPECT_EQ(Snapshot(), before);
    EXPECT_FALSE(Exists(data + "\\first.rgc"));
    EXPECT_FALSE(Exists(Pending() + ".import"));
    WriteWhole(Pending(), "garbage");
    EXPECT_EQ(IMPORT_NOT_AN_ARCHIVE, ImportConfigArchive(Pending().c_str()));
    EXPECT_EQ(Snapshot(), before);
}

// Two archives made to hurt. One holds a name so deep that its staging
// path passes what the system creates and the scanner lists; the other
// hides in its comment a second end record (another disk, no entries) that
// showed an empty directory instead of the one the reader unpacks, where
// "../../x.rgc" stands. Both are refused on restore and on import, and
// nothing below the test's folder changes: no "*.import", no x.rgc.
TEST_F(Archive, DeepNamesAndAFakeEndRecordAreRefusedAndLeaveNothing)
{
    MakeConfiguration();
    std::string deep;
    for (int i = 0; i < 120; i++)
        deep += "a/";
    deep += "x.rgc";
    std::string fake =
        StoredZip({{kProduct, Identity()}, {"good.rgc", "g"}, {"../../x.rgc", "evil"}});
    fake[fake.size() - 2] = 22;   // the comment's length
    Put32(&fake, 0x06054B50);
    Put16(&fake, 1), Put16(&fake, 1), Put16(&fake, 0), Put16(&fake, 0);
    Put32(&fake, 0), Put32(&fake, 0), Put16(&fake, 0);
    struct {
        const char *what;
        std::string zip;
        int refusal;
    } cases[] = {
        {"deep", StoredZip({{kProduct, Identity()}, {"good.rgc", "g"}, {deep, "deep"}}),
         IMPORT_BAD_ENTRY},
        {"fake end record", fake, IMPORT_UNSAFE_NAME},
    };
    gPicked = folder + "\\hurt.KestrovaConfig";
    for (const auto &c : cases) {
        WriteWhole(Pending(), c.zip);
        std::string before = LongListing(folder);
        EXPECT_EQ(c.refusal, ImportConfigArchive(Pending().c_str())) << c.what;
        EXPECT_EQ(LongListing(folder), before) << c.what;

        MoveFileExA(Pending().c_str(), gPicked.c_str(), MOVEFILE_REPLACE_EXISTING);
        before = LongListing(folder);
        BoxAnswer box;   // Cancel closes any box, also a question where none belongs
        EXPECT_EQ(ARCHIVE_NOT_CREATED, Exchange(ARCHIVE_MODE_RESTORE, IDCANCEL, &box)) << c.what;
        EXPECT_EQ(box.text, "Configuration file error!|") << c.what;
        EXPECT_EQ(LongListing(folder), before) << c.what;
    }
    RemoveTreeW(LongForm(Pending() + ".import"));
}

// The deepest entry an import takes: a folder of 247 characters (room for
// an 8.3 name below it, as CreateDirectory wants) and a file path of 259;
// one more character in either is refused before anything is written.
TEST_F(Archive, EntryPathsUpToTheLimitsImportAndOneMoreIsRefused)
{
    std::string staging = Pending() + ".import";
    size_t below = staging.size() + 1;
    ASSERT_LT(below, 200u);
    std::string folderPart(247 - below, 'd');
    std::string fits = folderPart + "/abcdefg.rgc";
    ASSERT_EQ(below + fits.size(), 259u);
    for (const std::string &over : {folderPart + "d/abcdef.rgc", folderPart + "/abcdefgh.rgc"}) {
        WriteWhole(Pending(), StoredZip({{kProduct, Identity()}, {over, "over"}}));
        std::string before = LongListing(folder);
        EXPECT_EQ(IMPORT_BAD_ENTRY, ImportConfigArchive(Pending().c_str())) << over.size();
        EXPECT_EQ(LongListing(folder), before) << over.size();
    }
    WriteWhole(Pending(), StoredZip({{kProduct, Identity()}, {fits, "fits"}}));
    EXPECT_EQ(IMPORT_DONE, ImportConfigArchive(Pending().c_str()));
    EXPECT_EQ(ReadWhole(data + "\\" + folderPart + "\\abcdefg.rgc"), "fits");
    EXPECT_FALSE(Exists(staging));
}

// An older version, cut short, left its staging folder with a chain of
// folders as deep as an ANSI call goes, and deeper still a read-only file:
// the next import removes all of it first, and none of it reaches the data
// folder.
TEST_F(Archive, LeftoverDeepStagingTreeIsRemovedByTheNextImport)
{
    MakeConfiguration();
    std::string staging = Pending() + ".import", chain = staging;
    ASSERT_TRUE(CreateDirectoryA(staging.c_str(), 0));
    WriteWhole(staging + "\\stale.rgc", "stale");
    for (int i = 0; i < 200 && CreateDirectoryA((chain + "\\a").c_str(), 0); i++)
        chain += "\\a";
    EXPECT_GT(chain.size(), 240u);
    std::wstring deeper = LongForm(chain);
    for (int i = 0; i < 60; i++) {
        deeper += L"\\b";
        CreateDirectoryW(deeper.c_str(), 0);
    }
    HANDLE file = CreateFileW((deeper + L"\\old.rgc").c_str(), GENERIC_WRITE, 0, 0, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_READONLY, 0);
    VT_REQUIRE_OR_SKIP(file != INVALID_HANDLE_VALUE,
                       "this system cannot make paths beyond 259 characters");
    CloseHandle(file);

    WriteWhole(Pending(), StoredZip({{kProduct, Identity("*.txt")}, {"new.rgc", "new"}}));
    EXPECT_EQ(IMPORT_DONE, ImportConfigArchive(Pending().c_str()));
    EXPECT_EQ(GetFileAttributesW(LongForm(staging).c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ReadWhole(data + "\\new.rgc"), "new");
    EXPECT_EQ(LongListing(data), "Paths\\\nProfiles\\\nVtArchive.KestrovaConfig " +
                                     std::to_string(ReadWhole(Pending()).size()) +
                                     "\nnew.rgc 3\nnotes.txt 17\n");
    RemoveTreeW(LongForm(staging));
}

// What an older run left in the staging folder and cannot go now would be
// placed as configuration: the import is refused instead.
TEST_F(Archive, LeftoverThatCannotBeRemovedRefusesTheImport)
{
    MakeConfiguration();
    std::string staging = Pending() + ".import", before = Snapshot();
    ASSERT_TRUE(CreateDirectoryA(staging.c_str(), 0));
    WriteWhole(staging + "\\stale.rgc", "stale");
    HANDLE held = CreateFileA((staging + "\\stale.rgc").c_str(), GENERIC_READ, FILE_SHARE_READ, 0,
                              OPEN_EXISTING, 0, 0);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    WriteWhole(Pending(), StoredZip({{kProduct, Identity("*.txt")}, {"new.rgc", "new"}}));
    EXPECT_EQ(IMPORT_BAD_ENTRY, ImportConfigArchive(Pending().c_str()));
    CloseHandle(held);
    EXPECT_EQ(Snapshot(), before);
    EXPECT_FALSE(Exists(data + "\\new.rgc"));
    EXPECT_FALSE(Exists(data + "\\stale.rgc"));
}

// A link left in the staging folder, and the staging folder as a link, go as
// links: the folder outside they lead to keeps its attributes and contents,
// and so it does when the tests' own tree removal meets them. Wine makes no
// link itself (its symbolic link call makes nothing, junctions it refuses),
// so the host makes them. Wine follows a link even through a handle opened
// on the link; a link it cannot remove without touching the target stays,
// and the import whose staging folder it keeps is refused.
TEST_F(Archive, LinksInTheStagingFolderAreRemovedNeverFollowed)
{
    std::string root = HostFolder("vt-arc-links-" + std::to_string(GetCurrentProcessId()));
    std::string outside = root + "\\outside", kept = outside + "\\kept.rgc";
    std::string staging = std::string(kProduct) + ".KestrovaConfig.import", report;
    for (const char *name : {"\\outside", "\\inner", "\\whole", "\\tree"})
        CreateDirectoryA((root + name).c_str(), 0);
    CreateDirectoryA((root + "\\inner\\" + staging).c_str(), 0);
    WriteWhole(root + "\\inner\\" + staging + "\\stale.rgc", "stale");
    WriteWhole(kept, "outside");
    SetFileAttributesA(kept.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    SetFileAttributesA(outside.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    std::string links = "inner/" + staging + "/link whole/" + staging + " tree/link";
    int made = RunHostScript(root, "chmod a-w outside && for l in " + links +
                                       "; do ln -sfn \"$PWD/outside\" $l; done && echo made", &report);
    VT_REQUIRE_OR_SKIP(made == 0 && report.find("made") != std::string::npos,
                       "the host cannot make the links (Wine makes none): " + report);
    DWORD linkIs = GetFileAttributesA((root + "\\tree\\link").c_str());
    ASSERT_TRUE(linkIs != INVALID_FILE_ATTRIBUTES && (linkIs & FILE_ATTRIBUTE_REPARSE_POINT)) << linkIs;
    DWORD folderWas = GetFileAttributesA(outside.c_str()), fileWas = GetFileAttributesA(kept.c_str());
    EXPECT_TRUE(folderWas & fileWas & FILE_ATTRIBUTE_READONLY);
    auto untouched = [&](const std::string &after) {
        EXPECT_EQ(GetFileAttributesA(outside.c_str()), folderWas) << after;
        EXPECT_EQ(GetFileAttributesA(kept.c_str()), fileWas) << after;
        EXPECT_EQ(ReadWhole(kept), "outside") << after;
        std::string names;
        WalkTree(outside, [&](const std::string &name, bool) { names += name + ";"; });
        EXPECT_EQ(names, "kept.rgc;") << after;
    };

    for (std::string name : {"inner", "whole"}) {
        data = root + "\\" + name;
        CopyText(gApp.dataFolder, data.c_str(), MAX_TEXT);
        MakeConfiguration();
        std::string before = Snapshot(), link = data + "\\" + staging + (name == "inner" ? "\\link" : "");
        WriteWhole(Pending(), StoredZip({{kProduct, Identity("*.txt")}, {"new.rgc", "new"}}));
        int result = ImportConfigArchive(Pending().c_str());
        untouched("import, " + name);
        if (GetFileAttributesA(link.c_str()) != INVALID_FILE_ATTRIBUTES) {   // stayed, as under Wine
            EXPECT_EQ(result, IMPORT_BAD_ENTRY) << name;
            EXPECT_EQ(Snapshot(), before) << name;
            EXPECT_FALSE(Exists(data + "\\new.rgc")) << name;
        } else {
            EXPECT_EQ(result, IMPORT_DONE) << name;
            EXPECT_FALSE(Exists(data + "\\" + staging)) << name;
        }
        EXPECT_FALSE(Exists(data + "\\" + staging + "\\stale.rgc")) << name;
    }
    RemoveTreeW(LongForm(root + "\\tree"));
    untouched("RemoveTreeW");
    RemoveTreeW(LongForm(root + "\\whole\\" + staging));
    untouched("RemoveTreeW of a link");

    RunHostScript(root, "rm -f " + links + " && chmod u+w outside", &report);
    RemoveTree(root);
}

// Links inside the data folder are entries of it, never ways out of it.
// The host makes them (Wine makes none): "Profiles" leads to a folder
// outside holding main.vtp and other.txt, "shared.rgc" to a file in another
// folder outside, and later a link to a file there is left in the staging
// folder of an import cut short. Wine shows a link to a folder as a reparse point but
// follows it through every handle, and shows a link to a file as a plain
// file, which it recycles or deletes by deleting the target.
TEST_F(Archive, LinksInTheDataFolderNeverReachOutside)
{
    std::string root = HostFolder("vt-arc-datalinks-" + std::to_string(GetCurrentProcessId()));
    std::string outside = root + "\\outside", elsewhere = root + "\\elsewhere", report;
    data = root + "\\data";
    CopyText(gApp.dataFolder, data.c_str(), MAX_TEXT);
    CreateDirectoryA(outside.c_str(), 0);
    CreateDirectoryA(elsewhere.c_str(), 0);
    CreateDirectoryA(data.c_str(), 0);
    CreateDirectoryA((data + "\\Paths").c_str(), 0);
    WriteWhole(outside + "\\main.vtp", "outside profile");
    WriteWhole(outside + "\\other.txt", "outside other");
    WriteWhole(elsewhere + "\\shared.rgc", "outside shared");
    WriteWhole(elsewhere + "\\stale.rgc", "outside stale");
    SetFileAttributesA((elsewhere + "\\shared.rgc").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    WriteWhole(data + "\\(QRF)App.rgc", "app record");
    WriteWhole(data + "\\Paths\\tour.vtc", "camera path");
    WriteWhole(data + "\\notes.txt", "not configuration");
    int made = RunHostScript(root, "ln -s \"$PWD/outside\" data/Profiles && "
                                   "ln -s \"$PWD/elsewhere/shared.rgc\" data/shared.rgc && echo made", &report);
    VT_REQUIRE_OR_SKIP(made == 0 && report.find("made") != std::string::npos,
                       "the host cannot make the links (Wine makes none): " + report);
    DWORD sharedWas = GetFileAttributesA((elsewhere + "\\shared.rgc").c_str());
    auto untouched = [&](const std::string &after) {
        std::string names;
        WalkTree(outside, [&](const std::string &name, bool) { names += name + ";"; });
        WalkTree(elsewhere, [&](const std::string &name, bool) { names += name + ";"; });
        EXPECT_EQ(names, "main.vtp;other.txt;shared.rgc;stale.rgc;") << after;
        EXPECT_EQ(ReadWhole(outside + "\\main.vtp"), "outside profile") << after;
        EXPECT_EQ(ReadWhole(outside + "\\other.txt"), "outside other") << after;
        EXPECT_EQ(ReadWhole(elsewhere + "\\shared.rgc"), "outside shared") << after;
        EXPECT_EQ(GetFileAttributesA((elsewhere + "\\shared.rgc").c_str()), sharedWas) << after;
        EXPECT_EQ(ReadWhole(elsewhere + "\\stale.rgc"), "outside stale") << after;
        DWORD link = GetFileAttributesA((data + "\\Profiles").c_str());
        EXPECT_TRUE(link != INVALID_FILE_ATTRIBUTES && (link & FILE_ATTRIBUTE_REPARSE_POINT)) << after;
    };
    std::string staging = Pending() + ".import";

    // An ordinary archive with a profile would place it through the link:
    // refused before anything is recycled.
    WriteWhole(Pending(), StoredZip({{kProduct, Identity()},
                                     {"Profiles/main.vtp", "archive profile"},
                                     {"(QRF)App.rgc", "archive app"}}));
    EXPECT_EQ(IMPORT_UNSAFE_NAME, ImportConfigArchive(Pending().c_str()));
    untouched("profile through the link");
    EXPECT_EQ(ReadWhole(data + "\\(QRF)App.rgc"), "app record");
    EXPECT_EQ(ReadWhole(data + "\\notes.txt"), "not configuration");
    EXPECT_FALSE(Exists(staging));

    // One that places nothing there recycles the data folder's own files and
    // nothing the links lead to; the folder link stays, an entry of its own.
    WriteWhole(Pending(), StoredZip({{kProduct, Identity("*.vtc")}, {"new.rgc", "new"}}));
    EXPECT_EQ(IMPORT_DONE, ImportConfigArchive(Pending().c_str()));
    untouched("nothing through the link");
    EXPECT_FALSE(Exists(data + "\\notes.txt"));
    EXPECT_FALSE(Exists(data + "\\(QRF)App.rgc"));
    EXPECT_EQ(ReadWhole(data + "\\Paths\\tour.vtc"), "camera path");
    EXPECT_EQ(ReadWhole(data + "\\new.rgc"), "new");

    // A file placed where a link to a file is (Wine could not remove it)
    // replaces the link: the target keeps its contents and attributes.
    WriteWhole(Pending(), StoredZip({{kProduct, Identity("*.vtc")}, {"shared.rgc", "archive shared"}}));
    EXPECT_EQ(IMPORT_DONE, ImportConfigArchive(Pending().c_str()));
    untouched("over a link to a file");
    EXPECT_EQ(ReadWhole(data + "\\shared.rgc"), "archive shared");

    // A link to a file left in the staging folder goes as a link, or stays
    // and refuses the import.
    made = RunHostScript(root, "mkdir 'data/" + std::string(kProduct) + ".KestrovaConfig.import' && "
                               "ln -s \"$PWD/elsewhere/stale.rgc\" 'data/" + kProduct +
                               ".KestrovaConfig.import/stale.rgc' && echo made", &report);
    ASSERT_TRUE(made == 0 && report.find("made") != std::string::npos) << report;
    WriteWhole(Pending(), StoredZip({{kProduct, Identity("*.vtc")}, {"new.rgc", "newer"}}));
    int result = ImportConfigArchive(Pending().c_str());
    untouched("link left in the staging folder");
    if (Exists(staging + "\\stale.rgc")) {   // stayed, as under Wine
        EXPECT_EQ(result, IMPORT_BAD_ENTRY);
        EXPECT_FALSE(Exists(data + "\\new.rgc"));
        EXPECT_EQ(ReadWhole(data + "\\shared.rgc"), "archive shared");
    } else {
        EXPECT_EQ(result, IMPORT_DONE);
        EXPECT_EQ(ReadWhole(data + "\\new.rgc"), "newer");
    }

    RunHostScript(root, "rm -f data/Profiles data/shared.rgc 'data/" + std::string(kProduct) +
                            ".KestrovaConfig.import/stale.rgc'", &report);
    RemoveTree(root);
}

// ---------------------------------------------------------------- reset

TEST_F(Archive, ResetWritesIdentityOnlyAndImportEmptiesTheFolder)
{
    MakeConfiguration();
    BoxAnswer box;
    EXPECT_EQ(ARCHIVE_CANCELLED,
              WithAnswer(IDCANCEL, &box, [] { return ExchangeConfigArchive(0, ARCHIVE_MODE_RESET, 0); }));
    EXPECT_FALSE(Exists(Pending()));
    EXPECT_EQ(ARCHIVE_OK,
              WithAnswer(IDYES, &box, [] { return ExchangeConfigArchive(0, ARCHIVE_MODE_RESET, 0); }));
    EXPECT_EQ(box.text, "Warning: your current configuration will be overwritten!|Do you want to continue?");
    std::vector<std::string> names = EntryNames(Pending());
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0], kProduct);
    EXPECT_EQ(EntryData(Pending(), kProduct), Identity());
    EXPECT_EQ(IMPORT_DONE, ImportConfigArchive(Pending().c_str()));
    for (const char *name : {"(QRF)App.rgc", "Profiles\\main.vtp", "Paths\\tour.vtc", "notes.txt"})
        EXPECT_FALSE(Exists(data + "\\" + name)) << name;
}

// Backups made by the schedule into the default folder below the data
// folder, and one saved by hand next to the configuration, outlive a reset
// and a restore: the user can still go back to them afterwards.
TEST_F(Archive, ResetAndRestoreKeepTheUsersBackups)
{
    MakeConfiguration();
    StoreRecord(0, true, 1, 5, "");
    LoadArchiveSettings();
    ASSERT_EQ(ARCHIVE_THREAD_DONE, (int)ArchiveThread(&gNow));
    std::string backup = data + "\\Backup\\VtArchive-2027.03.05.KestrovaConfig";
    ASSERT_TRUE(Exists(backup));
    std::string byHand = data + "\\before-the-trip.KestrovaConfig";
    ASSERT_EQ(ARCHIVE_OK, ExchangeConfigArchive(0, ARCHIVE_MODE_EXPORT, byHand.c_str()));

    BoxAnswer box;
    ASSERT_EQ(ARCHIVE_OK,
              WithAnswer(IDYES, &box, [] { return ExchangeConfigArchive(0, ARCHIVE_MODE_RESET, 0); }));
    ASSERT_EQ(IMPORT_DONE, ImportConfigArchive(Pending().c_str()));
    DeleteFileA(Pending().c_str());   // as start-up does
    EXPECT_FALSE(Exists(data + "\\(QRF)App.rgc"));
    EXPECT_FALSE(Exists(data + "\\notes.txt"));
    EXPECT_TRUE(Exists(backup));
    EXPECT_TRUE(Exists(byHand));

    // Restoring the automatic backup brings the configuration back and keeps both.
    CopyFileA(backup.c_str(), Pending().c_str(), FALSE);
    ASSERT_EQ(IMPORT_DONE, ImportConfigArchive(Pending().c_str()));
    EXPECT_EQ(ReadWhole(data + "\\Profiles\\main.vtp"), "profile");
    EXPECT_EQ(ReadWhole(data + "\\Paths\\tour.vtc"), "camera path");
    EXPECT_TRUE(Exists(backup));
    EXPECT_TRUE(Exists(byHand));
}

// Two users of one installation: "%CONFIGDIR%" is each one's own data
// folder, not the installing account's, so neither's archives land in a
// shared folder where same-day names collide and the rotation of one
// deletes the other's.
TEST_F(Archive, ConfigDirIsTheRunningUsersDataFolder)
{
    std::string second = folder + "\\second-user";
    CreateDirectoryA(second.c_str(), 0);
    std::string users[2] = {data, second};
    for (const std::string &user : users) {
        CopyText(gApp.dataFolder, user.c_str(), MAX_TEXT);
        WriteWhole(user + "\\(QRF)App.rgc", "settings of " + user);
        StoreRecord(0, true, 1, 1, "");   // the default template, keep one
        LoadArchiveSettings();
        ASSERT_EQ(ARCHIVE_THREAD_DONE, (int)ArchiveThread(&gNow));
    }
    for (const std::string &user : users) {
        std::string made = user + "\\Backup\\VtArchive-2027.03.05.KestrovaConfig";
        ASSERT_TRUE(Exists(made)) << user;
        EXPECT_EQ(EntryData(made, "(QRF)App.rgc"), "settings of " + user);
    }
    EXPECT_FALSE(Exists(installer));
    char out[MAX_TEXT];
    ASSERT_TRUE(ExpandVariables("%CONFIGDIR%", out, MAX_TEXT, gNow));
    EXPECT_EQ(std::string(out), second);
}

// ---------------------------------------------------------------- schedule and rotation

TEST_F(Archive, ScheduleFollowsIntervalAndFailureIsRetried)
{
    MakeConfiguration();
    int64_t day = gNow / 86400 * 86400;
    gNow = day + 12 * 3600 - 1;   // now - last = 3.5 days minus a second: due
    StoreRecord(gNow - 3 * 86400, true, 3, 0, "");
    EXPECT_EQ(ARCHIVE_NOT_DUE, StartArchive(gNow));   // exactly the interval: not yet
    StoreRecord(gNow - 3 * 86400 - 1, false, 3, 0, "");
    EXPECT_EQ(ARCHIVE_NOT_DUE, StartArchive(gNow));   // disabled
    StoreRecord(gNow - 3 * 86400 - 1, true, 3, 0, "");
    ASSERT_EQ(ARCHIVE_STARTED, StartArchive(gNow));
    for (int i = 0; i < 500 && gArchiveRunning; i++)
        Sleep(10);
    ASSERT_FALSE(gArchiveRunning);
    std::string made = data + "\\Backup\\VtArchive-2027.03.05.KestrovaConfig";
    EXPECT_EQ(EntryNames(made).size(), 5u);   // the archive record itself as well
    EXPECT_EQ(EntryData(made, "Paths/tour.vtc"), "camera path");
    LoadArchiveSettings();
    EXPECT_EQ(gArchiveRecord.lastArchive, day);
    EXPECT_EQ(ARCHIVE_NOT_DUE, StartArchive(gNow));

    // A folder that cannot be made: no archive, the time stays, the byte clears.
    StoreRecord(day - 20 * 86400, true, 0, 0, "%CONFIGDIR%\\notes.txt\\Backup");
    ASSERT_EQ(ARCHIVE_STARTED, StartArchive(gNow));
    for (int i = 0; i < 500 && gArchiveRunning; i++)
        Sleep(10);
    ASSERT_FALSE(gArchiveRunning);
    LoadArchiveSettings();
    EXPECT_EQ(gArchiveRecord.lastArchive, day - 20 * 86400);
    EXPECT_EQ(gArchiveRecord.intervalDays, 14);
    EXPECT_EQ(ARCHIVE_THREAD_FAILED, (int)ArchiveThread(&gNow));
    gArchiveRecord.folderTemplate[0] = 0;
    EXPECT_EQ(ARCHIVE_THREAD_NO_FOLDER, (int)ArchiveThread(&gNow));
    EXPECT_FALSE(gArchiveRunning);
}

TEST_F(Archive, RotationKeepsTheNewestOfThisProductOnly)
{
    MakeConfiguration();
    std::string backup = folder + "\\rotate";
    CreateDirectoryA(backup.c_str(), 0);
    const char *old[] = {"VtArchive-2027.01.01", "vtarchive-2027.01.02", "x-VTARCHIVE-2027.01.03",
                         "VtArchive-2027.01.04"};
    for (int i = 0; i < 4; i++) {
        std::string path = backup + "\\" + old[i] + ".KestrovaConfig";
        WriteWhole(path, "old");
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, 0, OPEN_EXISTING, 0, 0);
        FILETIME when;
        int64_t ticks = (1577836800LL + i * 86400) * 10000000LL + 116444736000000000LL;
        when.dwLowDateTime = (DWORD)ticks;
        when.dwHighDateTime = (DWORD)(ticks >> 32);
        SetFileTime(file, 0, 0, &when);
        CloseHandle(file);
    }
    WriteWhole(backup + "\\Other-2020.01.01.KestrovaConfig", "foreign");
    WriteWhole(backup + "\\VtArchive-notes.txt", "not an archive");
    StoreRecord(0, true, 1, 3, (backup + "\\").c_str());
    LoadArchiveSettings();
    ASSERT_EQ(ARCHIVE_THREAD_DONE, (int)ArchiveThread(&gNow));
    EXPECT_TRUE(Exists(backup + "\\VtArchive-2027.03.05.KestrovaConfig"));
    EXPECT_TRUE(Exists(backup + "\\VtArchive-2027.01.04.KestrovaConfig"));
    EXPECT_TRUE(Exists(backup + "\\x-VTARCHIVE-2027.01.03.KestrovaConfig"));
    EXPECT_FALSE(Exists(backup + "\\vtarchive-2027.01.02.KestrovaConfig"));
    EXPECT_FALSE(Exists(backup + "\\VtArchive-2027.01.01.KestrovaConfig"));
    EXPECT_TRUE(Exists(backup + "\\Other-2020.01.01.KestrovaConfig"));
    EXPECT_TRUE(Exists(backup + "\\VtArchive-notes.txt"));
}

// ---------------------------------------------------------------- dialog

namespace {

struct DialogScript {
    std::string seenFolder, seenShown, seenKeep, boxText;
    bool enabledInterval;
};

HWND WaitForArchiveDialog()
{
    for (int i = 0; i < 500; i++) {
        HWND found = FindWindowA("#32770", "Configuration Archive");
        if (found && IsWindowVisible(found))
            return found;
        Sleep(20);
    }
    return 0;
}

std::string ItemText(HWND dialog, int id)
{
    char text[1024] = "";
    SendMessageTimeoutA(GetDlgItem(dialog, id), WM_GETTEXT, sizeof text, (LPARAM)text,
                        SMTO_ABORTIFHUNG, 2000, 0);
    return text;
}

void SetItemText(HWND dialog, int id, const std::string &text)
{
    SendMessageTimeoutA(GetDlgItem(dialog, id), WM_SETTEXT, 0, (LPARAM)text.c_str(), SMTO_ABORTIFHUNG,
                        2000, 0);
}

// Reads the dialog, asks OK with a folder that does not expand (a message
// box answers), then OK with good settings.
DWORD WINAPI DriveDialog(LPVOID parameter)
{
    DialogScript *script = (DialogScript *)parameter;
    HWND dialog = WaitForArchiveDialog();
    if (!dialog)
        return 0;
    Sleep(100);
    script->seenFolder = ItemText(dialog, IDC_ARC_FOLDER);
    script->seenShown = ItemText(dialog, IDC_ARC_FOLDER_SHOWN);
    script->seenKeep = ItemText(dialog, IDC_ARC_KEEP);
    script->enabledInterval = IsWindowEnabled(GetDlgItem(dialog, IDC_ARC_INTERVAL)) != 0;
    SendMessageTimeoutA(GetDlgItem(dialog, IDC_ARC_ENABLED), BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 2000, 0);
    std::string grows;   // short itself, too long once expanded
    for (int i = 0; i < 20; i++)
        grows += "%CONFIGDIR%";
    SetItemText(dialog, IDC_ARC_FOLDER, grows);
    BoxAnswer box;
    box.answer = IDOK;
    box.found = false;
    HANDLE answer = CreateThread(0, 0, AnswerBox, &box, 0, 0);
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    WaitForSingleObject(answer, 15000);
    CloseHandle(answer);
    script->boxText = box.text;
    Sleep(200);
    SetItemText(dialog, IDC_ARC_FOLDER, "%CONFIGDIR%\\Saved");
    SetItemText(dialog, IDC_ARC_INTERVAL, "20000");
    SetItemText(dialog, IDC_ARC_KEEP, "0");
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    return 0;
}

}  // namespace

TEST_F(Archive, DialogShowsSettingsRefusesBadPathAndStores)
{
    StoreRecord(gNow, false, 5, 7, "");
    DialogScript script = {};
    HANDLE driver = CreateThread(0, 0, DriveDialog, &script, 0, 0);
    int ended = OpenArchiveDialog(0);
    WaitForSingleObject(driver, 20000);
    CloseHandle(driver);
    EXPECT_EQ(ended, IDOK);
    EXPECT_EQ(script.seenFolder, "%CONFIGDIR%\\Backup");
    EXPECT_EQ(script.seenShown, data + "\\Backup");
    EXPECT_EQ(script.seenKeep, "7");
    EXPECT_FALSE(script.enabledInterval);
    EXPECT_EQ(script.boxText, "Please enter a valid path!|");
    ArchiveRecord stored = {};
    ReadRecordFile("(QRF)Archive", -1, &stored, sizeof stored, 0);
    EXPECT_EQ(stored.enabled, 1);
    EXPECT_STREQ(stored.folderTemplate, "%CONFIGDIR%\\Saved");
    EXPECT_EQ(stored.intervalDays, 9999);
    EXPECT_EQ(stored.keepCount, 1);
    EXPECT_EQ(gArchiveDialog, (HWND)0);
}

namespace {

HWND gHelpedFrame;   // the frame that got QRFM_HELP, and how often, with which topic
int gHelpCount;
std::string gHelpTopic;

LRESULT CALLBACK HelpFrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == QRFM_HELP) {
        gHelpedFrame = window;
        gHelpCount++;
        gHelpTopic = wParam ? (const char *)wParam : "";
        return 0;
    }
    return DefFrameWindowProc(window, message, wParam, lParam);
}

// Help by its button, then by F1's WM_HELP, then Cancel.
DWORD WINAPI DriveHelp(LPVOID)
{
    HWND dialog = WaitForArchiveDialog();
    if (!dialog)
        return 0;
    SendMessageTimeoutA(GetDlgItem(dialog, 9), BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 2000, 0);
    HELPINFO help = {sizeof help};
    SendMessageTimeoutA(dialog, WM_HELP, 0, (LPARAM)&help, SMTO_ABORTIFHUNG, 2000, 0);
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    return 0;
}

}  // namespace

// Help asks the first frame window for "About", as the update dialog does,
// even when a later frame is the one that takes the main window's messages.
TEST_F(Archive, HelpGoesToTheFirstFrame)
{
    ASSERT_EQ(0, CreateFrameWindow(0, HelpFrameProc, "First", 1, 0, 0, 0, 200, 100));
    ASSERT_EQ(1, CreateFrameWindow(1, HelpFrameProc, "Main", 1, FRAME_MAINRECEIVER, 0, 0, 200,
                                   100));
    HWND first = gFrames.data[0]->window;
    gHelpedFrame = 0;
    gHelpCount = 0;
    StoreRecord(gNow, true, 14, 30, "");
    HANDLE driver = CreateThread(0, 0, DriveHelp, 0, 0, 0);
    int ended = OpenArchiveDialog(0);
    WaitForSingleObject(driver, 20000);
    CloseHandle(driver);
    DestroyFrameWindows();
    EXPECT_EQ(ended, IDCANCEL);
    EXPECT_EQ(gHelpCount, 2);
    EXPECT_EQ(gHelpedFrame, first);
    EXPECT_EQ(gHelpTopic, "About");
}

namespace {

struct BrowseScript {
    std::string chosen, before, after, shownAfter;
    bool pickerSeen;
    int screenshot;
};

struct PickerSearch {
    DWORD thread;
    HWND exclude, found;
};

BOOL CALLBACK FindPicker(HWND window, LPARAM data)
{
    PickerSearch *search = (PickerSearch *)data;
    char cls[16];
    if (window == search->exclude || GetWindowThreadProcessId(window, 0) != search->thread ||
        !IsWindowVisible(window) || !GetClassNameA(window, cls, sizeof cls) ||
        strcmp(cls, "#32770") != 0)
        return TRUE;
    search->found = window;
    return FALSE;
}

// Presses "Browse...", picks the folder in the picker as a user would (types
// it and presses OK), reads the dialog, takes a screenshot, then cancels.
DWORD WINAPI DriveBrowse(LPVOID parameter)
{
    BrowseScript *script = (BrowseScript *)parameter;
    HWND dialog = WaitForArchiveDialog();
    if (!dialog)
        return 0;
    Sleep(100);
    script->before = ItemText(dialog, IDC_ARC_FOLDER);
    PostMessageA(GetDlgItem(dialog, IDC_ARC_BROWSE), BM_CLICK, 0, 0);
    PickerSearch search = {GetWindowThreadProcessId(dialog, 0), dialog, 0};
    for (int i = 0; i < 400 && !search.found; i++) {
        Sleep(50);
        EnumWindows(FindPicker, (LPARAM)&search);
    }
    script->pickerSeen = search.found != 0;
    if (search.found) {
        Sleep(300);
        EnumChildWindows(search.found, TypeIntoFirstEdit, (LPARAM)script->chosen.c_str());
        PostMessageA(search.found, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     (LPARAM)GetDlgItem(search.found, IDOK));
        for (int i = 0; i < 100 && IsWindow(search.found); i++)
            Sleep(50);
        if (IsWindow(search.found))
            PostMessageA(search.found, WM_COMMAND, IDCANCEL, 0);   // never hang
    }
    Sleep(200);
    script->after = ItemText(dialog, IDC_ARC_FOLDER);
    script->shownAfter = ItemText(dialog, IDC_ARC_FOLDER_SHOWN);
    std::string report, shots = HostFolder("arc-shot");
    script->screenshot = RunHostScript(
        shots, "command -v import >/dev/null && import -window root ../archive-browse.png", &report);
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    return 0;
}

}  // namespace

TEST_F(Archive, BrowseButtonPutsTheChosenFolderIntoTheDialog)
{
    StoreRecord(gNow, true, 14, 30, "");
    std::string target = folder + "\\chosen backups";
    CreateDirectoryA(target.c_str(), 0);
    BrowseScript script = {};
    script.chosen = target;
    HANDLE driver = CreateThread(0, 0, DriveBrowse, &script, 0, 0);
    int ended = OpenArchiveDialog(0);
    WaitForSingleObject(driver, 30000);
    CloseHandle(driver);
    EXPECT_EQ(ended, IDCANCEL);
    ASSERT_TRUE(script.pickerSeen) << "the folder picker never opened";
    EXPECT_EQ(script.before, "%CONFIGDIR%\\Backup");
    EXPECT_TRUE(_stricmp(script.after.c_str(), target.c_str()) == 0) << script.after;
    EXPECT_TRUE(_stricmp(script.shownAfter.c_str(), target.c_str()) == 0) << script.shownAfter;
    if (getenv("CI") && !strcmp(getenv("CI"), "true"))
        EXPECT_EQ(script.screenshot, 0) << "no screenshot of the dialog";
}

// ---------------------------------------------------------------- start-up

namespace {

// The child: "-VTARCHIVE <product> <folder>", the program's start with the hooks.
StringTableRecord gChildStrings[] = {{0, {0}}, {STRING_TABLE_END, {0}}};

int RunChild(char **argv)
{
    gChildStrings[0].text[0] = argv[2];
    gApp.SetConfigFileTypes("*.vtp;*.vtc", "");
    return gApp.Startup(GetModuleHandleA(0), 0, gChildStrings, false, 400, "");
}

void WriteInstallRecord(const std::string &product, const std::string &dataPath,
                        const std::string &installPath)
{
    unsigned char record[1328] = {};
    record[0] = 1;
    record[16] = 1;
    CopyText((char *)record + 20, installPath.c_str(), 260);
    CopyText((char *)record + 280, dataPath.c_str(), 260);
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Kestrova", 0, 0, 0, KEY_SET_VALUE, 0,
                              &key, 0),
              ERROR_SUCCESS);
    RegSetValueExA(key, product.c_str(), 0, REG_BINARY, record, sizeof record);
    RegCloseKey(key);
}

int RunProgramCopy(const std::string &product, const std::string &folder)
{
    char own[MAX_PATH];
    GetModuleFileNameA(0, own, MAX_PATH);
    std::string line = "\"" + std::string(own) + "\" -VTARCHIVE " + product + " " + folder;
    std::vector<char> text(line.begin(), line.end());
    text.push_back(0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(0, text.data(), 0, 0, FALSE, 0, 0, 0, &startup, &process))
        return -2;
    CloseHandle(process.hThread);
    DWORD code = (DWORD)-1;
    if (WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0)
        TerminateProcess(process.hProcess, 99);
    else
        GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    return (int)code;
}

}  // namespace

TEST_F(Archive, StartupImportsPendingResetBeforeTheFirstRunCopy)
{
    const char product[] = "VtArchiveStart";
    std::string install = folder + "\\install";
    CreateDirectoryA(install.c_str(), 0);
    CreateDirectoryA((install + "\\Init").c_str(), 0);
    WriteWhole(install + "\\Init\\default.vtp", "first run");
    WriteInstallRecord(product, data, install);
    MakeConfiguration();
    WriteWhole(data + "\\Profiles\\main.vtp", "user profile");
    CopyText(gApp.productName, product, MAX_TEXT);
    BoxAnswer box;
    ASSERT_EQ(ARCHIVE_OK,
              WithAnswer(IDYES, &box, [] { return ExchangeConfigArchive(0, ARCHIVE_MODE_RESET, 0); }));
    std::string pending = data + "\\" + product + ".KestrovaConfig";
    ASSERT_TRUE(Exists(pending));

    EXPECT_EQ(RunProgramCopy(product, folder), 0);
    EXPECT_FALSE(Exists(pending));
    EXPECT_FALSE(Exists(data + "\\notes.txt"));
    EXPECT_FALSE(Exists(data + "\\Profiles\\main.vtp"));
    EXPECT_EQ(ReadWhole(data + "\\default.vtp"), "first run");   // copied after the import
}

// Wine sends recycled files to the host's trash: the ones from this test's
// folders (all named "vt-arc-...") are taken out again.
static void ForgetRecycledTestFiles()
{
    std::string report;
    // Two runs of this program share the working folder: one each.
    std::string host = HostFolder("arc-trash-" + std::to_string(GetCurrentProcessId()));
    RunHostScript(host, R"sh(t="${XDG_DATA_HOME:-$HOME/.local/share}/Trash"
for i in "$t"/info/*.trashinfo; do
    [ -e "$i" ] || continue
    if grep -q '^Path=.*/vt-arc-' "$i"; then
        rm -rf "$t/files/$(basename "$i" .trashinfo)" && rm -f "$i"
    fi
done)sh", &report);
    RemoveTree(host);
}

int main(int argc, char **argv)
{
    if (argc >= 4 && !strcmp(argv[1], "-VTARCHIVE"))
        return RunChild(argv);
    testing::InitGoogleTest(&argc, argv);
    int failed = RUN_ALL_TESTS();
    ForgetRecycledTestFiles();
    return failed;
}

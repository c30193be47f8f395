// Helpers shared by the test executables.
#pragma once

#include <windows.h>
#include <stdio.h>
#include <string>

// Deletes a folder and everything below it (no error when it is missing).
inline void RemoveTree(const std::string &path)
{
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = entry.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string child = path + "\\" + name;
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryA(path.c_str());
}

// A fresh, empty folder under the temp folder, named by the tag. Wine reuses
// process ids, so whatever an earlier run left there is removed first.
inline std::string FreshTempFolder(const std::string &tag)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string path = std::string(temp) + "vt-" + tag;
    RemoveTree(path);
    CreateDirectoryA(path.c_str(), 0);
    return path;
}

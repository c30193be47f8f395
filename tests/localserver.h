// The local test servers of tests/framework/http_servers.py as the
// downloading tests reach them: run_http_test.sh starts them on 127.0.0.1 and hands
// their ports and their files folder over in the environment. The helpers
// ask the servers directly, through the program's own transport.
#pragma once

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "earth/clouds.h"
#include "testutil.h"

inline int ServerPort(const char *name = "VT_HTTP_PORT")
{
    const char *value = getenv(name);
    return value ? atoi(value) : 0;
}

inline std::string ServerUrl(const std::string &path, const char *port = "VT_HTTP_PORT")
{
    return "http://127.0.0.1:" + std::to_string(ServerPort(port)) + path;
}

// Puts bytes into the servers' files folder; the URL of /files/<name>.
inline std::string ServeFile(const char *name, const std::string &bytes)
{
    const char *folder = getenv("VT_HTTP_FILES");
    EXPECT_TRUE(folder != 0) << "run through run_http_test.sh";
    WriteWhole(std::string(folder ? folder : ".") + "\\" + name, bytes);
    return ServerUrl(std::string("/files/") + name);
}

inline void UnserveFile(const char *name)
{
    const char *folder = getenv("VT_HTTP_FILES");
    if (folder)
        DeleteFileA((std::string(folder) + "\\" + name).c_str());
}

inline int CollectServerBody(void *context, const void *data, uint32_t size)
{
    ((std::string *)context)->append((const char *)data, size);
    return 0;
}

// A plain GET of one of the servers' own routes, straight, without a proxy.
inline std::string AskServer(const std::string &path)
{
    std::string body, url = ServerUrl(path);
    HttpFileRequest request;
    memset(&request, 0, sizeof request);
    request.url = url.c_str();
    request.body = CollectServerBody;
    request.context = &body;
    EXPECT_EQ(CloudsHttpGetToFile(&request), 0) << path;
    return body;
}

// Clears the request counts and the stand-in's list of URLs.
inline void ResetServer() { AskServer("/reset"); }
// Requests the servers had for a route since the last reset.
inline int ServerRequests(const char *route)
{
    return atoi(AskServer(std::string("/count?name=") + route).c_str());
}
// The head of the servers' last request.
inline std::string LastHead() { return AskServer("/lasthead"); }

// The URLs the stand-in for other hosts answered since the last reset.
inline std::vector<std::string> StandInUrls()
{
    std::vector<std::string> urls;
    std::string listed = AskServer("/requests");
    for (size_t start = 0, end; (end = listed.find('\n', start)) != std::string::npos;
         start = end + 1)
        urls.push_back(listed.substr(start, end - start));
    return urls;
}

// text as a JSON string literal.
inline std::string JsonText(const std::string &text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// CHttpRequest: one resource by HTTP/1.0 GET, directly or through a proxy
// (plain or as a CONNECT tunnel), with optional Basic authorization,
// If-Modified-Since, redirects, progress reports and cancellation. One
// object belongs to one worker thread and serves one download, redirects
// included. HTTPS authenticates the server (connection.h), also through a
// proxy, which it always crosses in a tunnel; a refused certificate answers
// a result of its own. HttpResultText gives the
// failures' texts that every status line shows.
#pragma once

#include "framework/connection.h"
#include "framework/growarray.h"

// CHttpRequest::Get's results.
enum HttpResult {
    HTTP_OK = 0,
    HTTP_SEND_FAILED = 100,
    HTTP_RECEIVE_FAILED = 101,
    HTTP_CANCELLED = 102,
    HTTP_BAD_ANSWER = 103,           // reserved for callers
    HTTP_PROXY_UNREACHABLE = 104,    // also a tunnel the proxy refused
    HTTP_SERVER_UNREACHABLE = 105,
    HTTP_BAD_URL = 106,              // no "//"
    HTTP_TOO_LARGE = 107,            // the body would exceed the caller's bound (maxBody)
    HTTP_CERT_UNTRUSTED = 108,       // the server's certificate chain is not trusted
    HTTP_CERT_OTHER_HOST = 109,      // the server's certificate names another host
    HTTP_CERT_EXPIRED = 110,         // the server's certificate expired (or is not valid yet)
    HTTP_BAD_REDIRECT = 300,         // 3xx/4xx without a usable new Location
    HTTP_NOT_MODIFIED = 304,
    HTTP_BAD_REQUEST = 400,
    HTTP_UNAUTHORIZED = 401,
    HTTP_FORBIDDEN = 403,
    HTTP_NOT_FOUND = 404,
    HTTP_PROXY_AUTH = 407,
    HTTP_SERVER_ERROR = 500,         // any status of 500 or more
};

enum {
    HTTP_TEXT_SIZE = 260,
    HTTP_URL_TEXT_SIZE = 1040,
    HTTP_INITIAL_BUFFER = 4096,
    HTTP_CONNECT_SECONDS = 30,
    HTTP_MAX_REDIRECTS = 10,         // a longer chain answers 300
    HTTP_DEFAULT_MAX_BODY = 1 << 20, // enough for any text answer (weather, versions)
    HTTP_MAX_HEADER = 65536,         // a longer response header is no answer (101)
};

struct HttpEndpoint;   // host, port and TLS of a URL (httpclient.cpp)

class CHttpRequest {
public:
    // After a 0 result the body only; after any other status the response
    // header up to and including the blank line, then a NUL (counted).
    CGrowArray<unsigned char> response;
    char host[HTTP_TEXT_SIZE];       // host of the current URL (no port)
    int port;                        // 80 at construction
    unsigned char useConnect;        // tunnel plain http through the proxy by CONNECT too
    char proxyHost[HTTP_TEXT_SIZE];  // "" = no proxy
    int proxyPort;
    char proxyUser[HTTP_TEXT_SIZE];
    char proxyPassword[HTTP_TEXT_SIZE];
    char lastUrl[HTTP_URL_TEXT_SIZE];   // the latest request's URL (after redirects, the final)
    CConnection connection;
    // The "Modified:" text of the latest answer below 300
    // ("" none), whether or not a since buffer was given.
    char lastModified[HTTP_TEXT_SIZE];
    // The largest body the caller can use (HTTP_DEFAULT_MAX_BODY at
    // construction). A longer announced or received body answers 107 before
    // anything of that size is reserved.
    int maxBody;

    CHttpRequest();
    ~CHttpRequest();

    // Null or empty host: no proxy. Null user or password clears it. HTTPS
    // always goes through a CONNECT tunnel with TLS to the server inside it;
    // useConnect tunnels plain http as well. The credentials go into a
    // tunnel's CONNECT, or into every request sent to a plain proxy.
    void SetProxy(const char *host, int port, bool useConnect, const char *user,
                  const char *password);
    void SetProgressCallback(ConnectionProgress callback, int initialTotal);
    void SetCancelFlag(const volatile unsigned char *flag);

    // One GET of url (redirects followed). user null or "": no
    // Authorization; it goes only to url's own scheme, host and port, so a
    // redirect elsewhere is followed without it. since (null: none) is sent as If-Modified-Since and,
    // for a whole body with a modification time, receives it (at most
    // sinceSize - 1 characters). A body shorter than its Content-Length is
    // 101; one longer than maxBody is 107; a refused server certificate 108
    // to 110. An HttpResult.
    int Get(const char *url, bool reportProgress, const char *user, const char *password,
            char *since, bool forceNewConnection, int sinceSize = HTTP_TEXT_SIZE);
    // Opens the connection for url (port: the default when the URL names
    // none). 0, 101, 104, 105, 108 to 110 (nothing of the connection is
    // kept) or 407.
    int Connect(const char *url, int port);

private:
    int GetChain(const char *url, bool reportProgress, const char *authLine,
                 const HttpEndpoint &owner, char *since, int sinceSize,
                 bool forceNewConnection, int redirects);
    int ServerFailure();
    int Exchange(const char *url, bool reportProgress, const char *authLine, char *since,
                 int sinceSize, bool forceNewConnection, char *location);
};

// The reason of a failed HttpResult as the user reads it ("Can't connect
// to server", "Server certificate not trusted"...); null for 0, 102, 304,
// 500 and codes that are no HttpResult (the caller has its own text).
const char *HttpResultText(int code);
// 108 to 110: the server was reached but its certificate was refused.
inline bool IsCertificateRefusal(int code)
{
    return code >= HTTP_CERT_UNTRUSTED && code <= HTTP_CERT_EXPIRED;
}

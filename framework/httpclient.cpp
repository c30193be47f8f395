// HTTP client over the socket and TLS transport, and the texts of its
// results.
#include "framework/httpclient.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "framework/application.h"
#include "framework/utilities.h"

enum { EXCHANGE_REDIRECT = -1 };

// ------------------------------------------------------------------ URL pieces

// The authority of url: the text after the first "//" (the whole URL without
// one) up to "/", "?", "#", CR, LF or the end, at most size - 1 characters.
static void AuthorityOf(const char *url, char *out, int size)
{
    const char *start = strstr(url, "//");
    start = start ? start + 2 : url;
    int n = 0;
    while (start[n] && !strchr("/?#\r\n", start[n]) && n < size - 1)
        n++;
    memcpy(out, start, (size_t)n);
    out[n] = 0;
}

// Splits "host:port" in place: the port, or 0 when the text names none.
static int SplitPort(char *authority)
{
    char *colon = strrchr(authority, ':');
    if (!colon || !colon[1] || strlen(colon + 1) > 5)
        return 0;
    for (const char *p = colon + 1; *p; p++)
        if (!isdigit((unsigned char)*p))
            return 0;
    int port = atoi(colon + 1);
    if (port < 1 || port > 65535)
        return 0;
    *colon = 0;
    return port;
}

// True when url's own scheme (not a later "https://" in its query) is https.
static bool IsHttpsUrl(const char *url)
{
    return _strnicmp(url, "https://", 8) == 0;
}

// Where a request for url goes: host, port and whether TLS carries it. The
// port is the URL's own, else defaultPort; 443, or an https URL with its own
// port or none (defaultPort 80), means TLS, and https without a port 443.
struct HttpEndpoint {
    char host[HTTP_TEXT_SIZE];
    int port;
    bool tls;
};

static void EndpointOf(const char *url, int defaultPort, HttpEndpoint *endpoint)
{
    char authority[HTTP_URL_TEXT_SIZE];
    AuthorityOf(url, authority, sizeof authority);
    int explicitPort = SplitPort(authority);
    CopyText(endpoint->host, authority, HTTP_TEXT_SIZE);
    int chosen = explicitPort ? explicitPort : defaultPort;
    endpoint->tls = chosen == 443 || (IsHttpsUrl(url) && (explicitPort || chosen == 80));
    endpoint->port = endpoint->tls && !explicitPort ? 443 : chosen;
}

// The same scheme (TLS or not), host (names are case-blind) and port.
static bool SameEndpoint(const HttpEndpoint &a, const HttpEndpoint &b)
{
    return a.tls == b.tls && a.port == b.port && _stricmp(a.host, b.host) == 0;
}

// "scheme://..." (RFC 3986 scheme characters before "://").
static bool HasScheme(const char *url)
{
    const char *p = url;
    if (!isalpha((unsigned char)*p))
        return false;
    while (isalnum((unsigned char)*p) || *p == '+' || *p == '-' || *p == '.')
        p++;
    return strncmp(p, "://", 3) == 0;
}

// A Location relative to the URL that answered with it, made absolute
// (a relative one passed on as it stands would fail with 106).
static void ResolveLocation(const char *base, const char *location, char *out, int size)
{
    if (HasScheme(location)) {
        CopyText(out, location, size);
        return;
    }
    const char *afterScheme = strstr(base, "//");
    if (strncmp(location, "//", 2) == 0) {
        int schemeLength = afterScheme ? (int)(afterScheme - base) : 0;   // "http:"
        snprintf(out, size, "%.*s%s", schemeLength, base, location);
        return;
    }
    const char *pathStart = afterScheme ? afterScheme + 2 : base;
    pathStart += strcspn(pathStart, "/?#");
    int keep;
    if (location[0] == '/' || !*pathStart || *pathStart != '/') {
        keep = (int)(pathStart - base);
        snprintf(out, size, "%.*s%s%s", keep, base, location[0] == '/' ? "" : "/", location);
        return;
    }
    // A relative path replaces the last segment of the base's path.
    const char *pathEnd = pathStart + strcspn(pathStart, "?#");
    const char *lastSlash = pathStart;
    for (const char *p = pathStart; p < pathEnd; p++)
        if (*p == '/')
            lastSlash = p;
    keep = (int)(lastSlash + 1 - base);
    snprintf(out, size, "%.*s%s", keep, base, location);
}

// The rest of the header line after find (case-insensitive), blanks skipped,
// up to CR or LF, into out; false when the header lacks it.
static bool HeaderValue(const char *header, const char *find, char *out, int size)
{
    const char *at = FindTextNoCase(header, find);
    if (!at)
        return false;
    at += strlen(find);
    while (*at == ' ' || *at == '\t')
        at++;
    int n = 0;
    while (at[n] && at[n] != '\r' && at[n] != '\n' && n < size - 1)
        n++;
    memcpy(out, at, (size_t)n);
    out[n] = 0;
    return true;
}

// "Basic" authorization line of user:password into line (empty on failure).
// A header value is one line: the encoder's line breaks are taken out.
static void BasicLine(const char *name, const char *user, const char *password, char *line,
                      int size)
{
    line[0] = 0;
    int length = (int)(strlen(user) + strlen(password ? password : "") + 2);
    char *pair = (char *)malloc((size_t)length);
    if (!pair)
        return;
    snprintf(pair, length, "%s:%s", user, password ? password : "");
    char *encoded = Base64EncodeString(pair);
    free(pair);
    if (encoded) {
        char *to = encoded;
        for (const char *from = encoded; *from; from++)
            if (*from != '\r' && *from != '\n')
                *to++ = *from;
        *to = 0;
        if (snprintf(line, size, "%s: Basic %s\r\n", name, encoded) >= size)
            line[0] = 0;   // cut, it would end the header early
    }
    free(encoded);
}

// The Content-Length value: its number, -1 when there is none or it is no
// number, or limit + 1 when it is larger than limit (no overflow).
static int ContentLengthOf(const char *header, int limit)
{
    char text[32];
    if (!HeaderValue(header, "Content-Length:", text, sizeof text) ||
        !isdigit((unsigned char)text[0]))
        return -1;
    long long value = 0;
    for (const char *p = text; isdigit((unsigned char)*p); p++) {
        value = value * 10 + (*p - '0');
        if (value > limit)
            return limit + 1;
    }
    return (int)value;
}

// A whole response header: it ends with its blank line.
static bool EndsWithBlankLine(const CGrowArray<unsigned char> &header)
{
    return header.count >= 4 && memcmp(header.data + header.count - 4, "\r\n\r\n", 4) == 0;
}

// The status number at offset 9 of a response header; 0 when the answer is
// no HTTP status line at all.
static int StatusOf(const CGrowArray<unsigned char> &header)
{
    const char *text = (const char *)header.data;
    if (header.count < 12 || strncmp(text, "HTTP/", 5) != 0)
        return 0;
    return atoi(text + 9);
}

// ------------------------------------------------------------------ object

CHttpRequest::CHttpRequest() : port(80), useConnect(0), proxyPort(0), maxBody(HTTP_DEFAULT_MAX_BODY)
{
    response.SetCapacity(HTTP_INITIAL_BUFFER, -1);
    host[0] = 0;
    proxyHost[0] = 0;
    proxyUser[0] = 0;
    proxyPassword[0] = 0;
    lastUrl[0] = 0;
    lastModified[0] = 0;
}

CHttpRequest::~CHttpRequest()
{
    if (connection.IsOpen())
        connection.Close();
    response.RemoveAll();   // leaves a borrowed block alone
}

void CHttpRequest::SetProxy(const char *hostName, int portNumber, bool connect,
                            const char *user, const char *password)
{
    CopyText(proxyHost, hostName ? hostName : "", HTTP_TEXT_SIZE);
    proxyPort = portNumber;
    useConnect = connect ? 1 : 0;
    CopyText(proxyUser, user ? user : "", HTTP_TEXT_SIZE);
    CopyText(proxyPassword, password ? password : "", HTTP_TEXT_SIZE);
}

void CHttpRequest::SetProgressCallback(ConnectionProgress callback, int initialTotal)
{
    connection.progress = callback;
    connection.total = initialTotal;
}

void CHttpRequest::SetCancelFlag(const volatile unsigned char *flag)
{
    connection.cancel = flag;
}

// ------------------------------------------------------------------ connect

// The result of a connection to the server (or TLS in the tunnel) that
// failed: a refused certificate says why; bytes that came before the
// handshake in a tunnel make it a failed tunnel (104); anything else is 105.
// Nothing read on the way (a tunnel's answer) is left for the caller after
// a refusal.
int CHttpRequest::ServerFailure()
{
    if (connection.IsOpen())
        connection.Close();
    int result = HTTP_SERVER_UNREACHABLE;
    if (connection.tlsRefusal == TLS_REFUSED_UNTRUSTED)
        result = HTTP_CERT_UNTRUSTED;
    else if (connection.tlsRefusal == TLS_REFUSED_OTHER_HOST)
        result = HTTP_CERT_OTHER_HOST;
    else if (connection.tlsRefusal == TLS_REFUSED_EXPIRED)
        result = HTTP_CERT_EXPIRED;
    else if (connection.tlsRefusal == TLS_REFUSED_EARLY_BYTES)
        result = HTTP_PROXY_UNREACHABLE;
    if (connection.tlsRefusal != TLS_REFUSED_NONE)
        response.count = 0;
    return result;
}

int CHttpRequest::Connect(const char *url, int defaultPort)
{
    HttpEndpoint target;
    EndpointOf(url, defaultPort, &target);
    CopyText(host, target.host, HTTP_TEXT_SIZE);
    port = target.port;
    bool tls = target.tls;

    if (!proxyHost[0]) {
        int result = connection.Connect(host, port, tls ? CONN_TLS_1_2 : 0, HTTP_CONNECT_SECONDS);
        return result == CONN_OK ? HTTP_OK : ServerFailure();
    }

    char authLine[HTTP_URL_TEXT_SIZE] = "";
    if (proxyUser[0])
        BasicLine("Proxy-Authorization", proxyUser, proxyPassword, authLine, sizeof authLine);
    if (connection.Connect(proxyHost, proxyPort, 0, HTTP_CONNECT_SECONDS) != CONN_OK)
        return HTTP_PROXY_UNREACHABLE;
    // HTTPS always takes the tunnel, whatever the switch says: a request
    // handed to the proxy as it stands would travel in clear, with its
    // credentials, to a server nobody authenticated.
    if (!useConnect && !tls)
        return HTTP_OK;   // the request (with the proxy's credentials) goes to the proxy

    char request[HTTP_URL_TEXT_SIZE + HTTP_TEXT_SIZE];
    snprintf(request, sizeof request, "CONNECT %s:%d HTTP/1.0\r\n%s\r\n", host, port, authLine);
    if (connection.Send(request, 0, false) != CONN_OK)
        return HTTP_PROXY_UNREACHABLE;
    if (connection.Receive(&response, "\r\n\r\n", HTTP_MAX_HEADER, false) != CONN_OK ||
        !EndsWithBlankLine(response))
        return HTTP_RECEIVE_FAILED;
    response.AppendBytes("", 1);
    int status = StatusOf(response);
    if (status == 401 || status == 407)
        return HTTP_PROXY_AUTH;
    if (status != 200)
        return HTTP_PROXY_UNREACHABLE;
    // The tunnel is ready; HTTPS starts TLS with the server inside it, which
    // must prove to be the target host, not the proxy.
    if (tls && connection.StartTls(CONN_TLS_1_2, host) != CONN_OK)
        return ServerFailure();
    return HTTP_OK;
}

// ------------------------------------------------------------------ get

int CHttpRequest::Get(const char *url, bool reportProgress, const char *user,
                      const char *password, char *since, bool forceNewConnection, int sinceSize)
{
    if (!url)
        url = "";
    char authLine[HTTP_URL_TEXT_SIZE] = "";
    if (user && user[0])
        BasicLine("Authorization", user, password, authLine, sizeof authLine);
    HttpEndpoint owner;   // the credentials are this server's alone
    EndpointOf(url, 80, &owner);
    int result = GetChain(url, reportProgress, authLine, owner, since, sinceSize,
                          forceNewConnection, 0);
    if (connection.IsOpen())
        connection.Close();
    return result;
}

int CHttpRequest::GetChain(const char *url, bool reportProgress, const char *authLine,
                           const HttpEndpoint &owner, char *since, int sinceSize,
                           bool forceNewConnection, int redirects)
{
    CopyText(lastUrl, url, HTTP_URL_TEXT_SIZE);
    // A redirect elsewhere (another host or port, or from https to http) is
    // followed without the user's credentials: a Location must not be a way
    // to collect them, nor to send them in clear.
    HttpEndpoint target;
    EndpointOf(lastUrl, 80, &target);
    char location[HTTP_URL_TEXT_SIZE];
    int result = Exchange(lastUrl, reportProgress, SameEndpoint(target, owner) ? authLine : "",
                          since, sinceSize, forceNewConnection, location);
    if (result != EXCHANGE_REDIRECT)
        return result;
    char next[HTTP_URL_TEXT_SIZE];
    ResolveLocation(lastUrl, location, next, sizeof next);
    if (strcmp(next, lastUrl) == 0 || redirects >= HTTP_MAX_REDIRECTS)
        return HTTP_BAD_REDIRECT;
    connection.Close();
    return GetChain(next, reportProgress, authLine, owner, since, sinceSize, true,
                    redirects + 1);
}

// One request and its answer on the current or a new connection: an
// HttpResult, or EXCHANGE_REDIRECT with the Location text in location.
int CHttpRequest::Exchange(const char *url, bool reportProgress, const char *authLine,
                           char *since, int sinceSize, bool forceNewConnection, char *location)
{
    lastModified[0] = 0;
    char hostLine[HTTP_URL_TEXT_SIZE];
    if (!connection.IsOpen() || forceNewConnection) {
        if (connection.IsOpen())
            connection.Close();
        if (!strstr(url, "//"))
            return HTTP_BAD_URL;
        AuthorityOf(url, hostLine, sizeof hostLine);
        int result = Connect(url, 80);
        if (result != HTTP_OK) {
            if (connection.IsOpen())
                connection.Close();
            return result;
        }
    } else if (port == 80 || port == 443) {
        CopyText(hostLine, host, sizeof hostLine);
    } else {
        snprintf(hostLine, sizeof hostLine, "%s:%d", host, port);
    }

    // A plain proxy reads the request itself, so it needs its credentials in
    // it; through a tunnel (the switch, or TLS in force) the server reads it.
    char proxyLine[HTTP_URL_TEXT_SIZE] = "";
    if (proxyHost[0] && !useConnect && !connection.tlsType && proxyUser[0])
        BasicLine("Proxy-Authorization", proxyUser, proxyPassword, proxyLine, sizeof proxyLine);
    size_t size = strlen(url) + strlen(authLine) + strlen(proxyLine) + strlen(hostLine) +
                  (since ? strlen(since) : 0) + 64;
    char *request = (char *)malloc(size);
    if (!request)
        return HTTP_SEND_FAILED;
    int length = snprintf(request, size, "GET %s HTTP/1.0\r\n%s%sHost: %s\r\n", url, authLine,
                          proxyLine, hostLine);
    if (since)
        length += snprintf(request + length, size - length, "If-Modified-Since: %s\r\n", since);
    length += snprintf(request + length, size - length, "\r\n");
    int sent = connection.Send(request, length, false);
    free(request);
    if (sent != CONN_OK)
        return HTTP_SEND_FAILED;

    int received = connection.Receive(&response, "\r\n\r\n", HTTP_MAX_HEADER, false);
    if (received != CONN_OK)
        return received == CONN_CANCELLED ? HTTP_CANCELLED : HTTP_RECEIVE_FAILED;
    if (!EndsWithBlankLine(response))
        return HTTP_RECEIVE_FAILED;   // closed in the middle, or no end within the bound
    response.AppendBytes("", 1);
    int status = StatusOf(response);
    if (status < 100)
        return HTTP_RECEIVE_FAILED;   // no HTTP answer at all
    const char *header = (const char *)response.data;

    if (status == 304 || status == 400 || status == 401 || status == 403 || status == 404 ||
        status == 407)
        return status;
    if (status >= 500)
        return HTTP_SERVER_ERROR;

    if (status < 300) {
        HeaderValue(header, "Modified:", lastModified, sizeof lastModified);
        int limit = maxBody > 0 ? maxBody : HTTP_DEFAULT_MAX_BODY;
        int contentLength = ContentLengthOf(header, limit);
        if (contentLength > limit)
            return HTTP_TOO_LARGE;   // refused before anything of its size is reserved
        if (contentLength >= 0) {
            if (contentLength > response.capacity)
                response.SetCapacity(contentLength, -1);
            connection.SetTotal(contentLength);
        }
        // Without a length: one byte past the bound tells a body that is too long.
        int body = connection.Receive(&response, 0, contentLength >= 0 ? contentLength : limit + 1,
                                      reportProgress);
        if (body != CONN_OK)
            return body == CONN_CANCELLED ? HTTP_CANCELLED : HTTP_RECEIVE_FAILED;
        // The transport ends a read well when the server closes after some
        // data; a body shorter than announced is still a broken one.
        if (contentLength >= 0 && response.count < contentLength)
            return HTTP_RECEIVE_FAILED;
        if (contentLength < 0 && response.count > limit)
            return HTTP_TOO_LARGE;
        // Only a whole body moves the caller's date: a broken one is fetched again.
        if (lastModified[0] && since && sinceSize > 0)
            CopyText(since, lastModified, sinceSize);
        return HTTP_OK;
    }

    // 300..499 others: follow a new Location (at the start of a header line).
    const char *line = FindTextNoCase(header, "\nLocation:");
    if (line && HeaderValue(line, "\nLocation:", location, HTTP_URL_TEXT_SIZE) && location[0])
        return EXCHANGE_REDIRECT;
    return HTTP_BAD_REDIRECT;
}

// ------------------------------------------------------------------ texts

static const struct {
    int code;
    const char *text;
} kResultTexts[] = {
    {HTTP_SEND_FAILED, "Can't send data"},
    {HTTP_RECEIVE_FAILED, "Can't receive data"},
    {HTTP_BAD_ANSWER, "Bad answer"},
    {HTTP_PROXY_UNREACHABLE, "Can't connect to proxy server"},
    {HTTP_SERVER_UNREACHABLE, "Can't connect to server"},
    {HTTP_BAD_URL, "Bad URL format"},
    {HTTP_TOO_LARGE, "Answer too large"},
    {HTTP_CERT_UNTRUSTED, "Server certificate not trusted"},
    {HTTP_CERT_OTHER_HOST, "Server certificate is for another host"},
    {HTTP_CERT_EXPIRED, "Server certificate expired or not yet valid"},
    {HTTP_BAD_REDIRECT, "Bad redirection"},
    {HTTP_BAD_REQUEST, "Bad request"},
    {HTTP_UNAUTHORIZED, "Authorization required"},
    {HTTP_FORBIDDEN, "Incorrect user name or password"},
    {HTTP_NOT_FOUND, "File not found"},
    {HTTP_PROXY_AUTH, "Proxy requires authorization"},
};

const char *HttpResultText(int code)
{
    for (size_t i = 0; i < sizeof kResultTexts / sizeof kResultTexts[0]; i++)
        if (kResultTexts[i].code == code)
            return kResultTexts[i].text;
    return 0;
}

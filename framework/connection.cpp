// Socket and TLS transport. Winsock first: <windows.h> must not
// bring the old <winsock.h> in before it. The trusted roots come from the
// Windows "ROOT" system store (<wincrypt.h>; OpenSSL's headers, included
// after it, take back the few names both define).
#include <winsock2.h>
#include <windows.h>
#include <wincrypt.h>

#include "framework/connection.h"

#include <stdlib.h>
#include <string.h>

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

enum {
    CONNECT_ROUND_MS = 50,        // each connect round: writable, then an error
    SEND_WAIT_MS = 10,
    READ_WAIT_MS = 10,
    TLS_WAIT_MS = 50,             // one wait of a TLS read or write for the socket
    TLS_HANDSHAKE_TRIES = 100,
    TLS_HANDSHAKE_PAUSE_MS = 100,
    CLOSE_TRIES = 200,
    CLOSE_PAUSE_MS = 50,
};

static SOCKET AsSocket(intptr_t s) { return (SOCKET)(uintptr_t)s; }

static void FillTimeout(timeval *tv, int milliseconds)
{
    tv->tv_sec = milliseconds / 1000;
    tv->tv_usec = (milliseconds % 1000) * 1000;
}

// select() on the one socket: writable (write), readable, or in the error
// set (except). > 0 ready, 0 not, SOCKET_ERROR failure.
static int SelectOne(SOCKET s, int milliseconds, bool read, bool write, bool except)
{
    fd_set readSet, writeSet, exceptSet;
    FD_ZERO(&readSet);
    FD_ZERO(&writeSet);
    FD_ZERO(&exceptSet);
    if (read)
        FD_SET(s, &readSet);
    if (write)
        FD_SET(s, &writeSet);
    if (except)
        FD_SET(s, &exceptSet);
    timeval tv;
    FillTimeout(&tv, milliseconds);
    return select(0, read ? &readSet : 0, write ? &writeSet : 0, except ? &exceptSet : 0, &tv);
}

// After a TLS call that could not finish: waits (at most milliseconds) until
// the socket can give what the session asked for, instead of polling.
static void WaitForTls(SOCKET s, int error, int milliseconds)
{
    if (SelectOne(s, milliseconds, error == SSL_ERROR_WANT_READ, error == SSL_ERROR_WANT_WRITE,
                  false) == SOCKET_ERROR)
        Sleep(1);   // never spin on a failing select
}

CConnection::CConnection()
    : socket(-1), tlsType(0), timeoutMs(CONN_DEFAULT_TIMEOUT_MS), progress(0), total(0),
      cancel(0), pendingCount(0), tlsContext(0), tlsSession(0), tlsLibraryReady(0),
      tlsRefusal(TLS_REFUSED_NONE)
{
}

CConnection::~CConnection()
{
    if (IsOpen())
        Close();
    else
        EndTls();
}

void CConnection::Report(int done)
{
    if (progress)
        progress(done, total);
}

// ------------------------------------------------------------------ connect

int CConnection::Connect(const char *host, int port, int type, int seconds)
{
    if (IsOpen())
        return CONN_ALREADY_OPEN;
    tlsRefusal = TLS_REFUSED_NONE;
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET && WSAGetLastError() == WSANOTINITIALISED) {
        WSADATA data;
        if (WSAStartup(MAKEWORD(1, 1), &data) != 0)
            return CONN_STARTUP_FAILED;
        s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    }
    if (s == INVALID_SOCKET)
        return CONN_SOCKET_ERROR;
    socket = (intptr_t)s;

    u_long nonBlocking = 1;
    if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
        Close();
        return CONN_SOCKET_ERROR;
    }
    hostent *entry = host && host[0] ? gethostbyname(host) : 0;
    if (!entry || entry->h_addrtype != AF_INET || !entry->h_addr_list || !entry->h_addr_list[0]) {
        Close();
        return CONN_HOST_NOT_RESOLVED;
    }
    sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons((u_short)port);
    memcpy(&address.sin_addr, entry->h_addr_list[0], sizeof address.sin_addr);
    if (connect(s, (sockaddr *)&address, sizeof address) == SOCKET_ERROR &&
        WSAGetLastError() != WSAEWOULDBLOCK) {
        Close();
        return CONN_CONNECT_FAILED;
    }

    bool connected = false;
    for (int round = 0; round < 10 * seconds && !connected; round++) {
        if (Cancelled()) {
            Close();
            return CONN_TIMEOUT;
        }
        if (SelectOne(s, CONNECT_ROUND_MS, false, true, false) > 0) {
            // Some stacks report a refused connection as writable: ask.
            int error = 0, size = sizeof error;
            if (getsockopt(s, SOL_SOCKET, SO_ERROR, (char *)&error, &size) == 0 && error != 0) {
                Close();
                return CONN_CONNECT_FAILED;
            }
            connected = true;
            break;
        }
        if (SelectOne(s, CONNECT_ROUND_MS, false, false, true) != 0) {
            Close();
            return CONN_CONNECT_FAILED;
        }
    }
    if (!connected) {
        Close();
        return CONN_TIMEOUT;
    }

    pendingCount = 0;
    if (type > 0 && StartTls(type, host) != CONN_OK) {
        Close();
        return CONN_TLS_FAILED;
    }
    return CONN_OK;
}

// ------------------------------------------------------------------ TLS

static const SSL_METHOD *ClientMethod(int type)
{
    switch (type) {
    case CONN_TLS_SSL3:
        return SSLv3_client_method();
    case CONN_TLS_1_0:
        return TLSv1_client_method();
    case CONN_TLS_1_1:
        return TLSv1_1_client_method();
    default:
        return TLSv1_2_client_method();
    }
}

// The trusted roots: every certificate of the Windows "ROOT" system store,
// the one users and administrators manage (under Wine it holds the host
// system's roots), in one OpenSSL store. A system store that cannot be read
// leaves it empty, so that no server verifies rather than any.
static X509_STORE *LoadSystemRoots()
{
    X509_STORE *roots = X509_STORE_new();
    if (!roots)
        return 0;
    HCERTSTORE system = CertOpenSystemStoreA(0, "ROOT");
    if (system) {
        PCCERT_CONTEXT entry = 0;
        while ((entry = CertEnumCertificatesInStore(system, entry)) != 0) {
            const unsigned char *der = entry->pbCertEncoded;
            X509 *certificate = d2i_X509(0, &der, (long)entry->cbCertEncoded);
            if (certificate) {
                X509_STORE_add_cert(roots, certificate);
                X509_free(certificate);
            }
        }
        CertCloseStore(system, 0);
    }
    ERR_clear_error();   // entries OpenSSL cannot read, or has already, are skipped
    return roots;
}

// Read once per process and shared by every TLS context (it is counted, so
// freeing a context leaves it alone); the first use is thread-safe, as
// worker threads may start their first connections at the same moment.
static X509_STORE *SystemRoots()
{
    static X509_STORE *roots = LoadSystemRoots();
    return roots;
}

// What the server's certificate must name: an IP literal its addresses,
// any other host its DNS names; a host name also goes out as the server
// name (SNI carries no addresses). False when the name cannot be set.
static bool SetPeerName(SSL *session, const char *host)
{
    X509_VERIFY_PARAM *parameters = SSL_get0_param(session);
    if (X509_VERIFY_PARAM_set1_ip_asc(parameters, host) == 1)
        return true;
    ERR_clear_error();
    X509_VERIFY_PARAM_set_hostflags(parameters, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    return X509_VERIFY_PARAM_set1_host(parameters, host, 0) == 1 &&
           SSL_set_tlsext_host_name(session, host) == 1;
}

// The TlsRefusal of a handshake's verification result.
static int RefusalOf(long verifyResult)
{
    switch (verifyResult) {
    case X509_V_OK:
        return TLS_REFUSED_NONE;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return TLS_REFUSED_OTHER_HOST;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return TLS_REFUSED_EXPIRED;
    default:
        return TLS_REFUSED_UNTRUSTED;
    }
}

int CConnection::StartTls(int type, const char *host)
{
    EndTls();
    tlsRefusal = TLS_REFUSED_NONE;
    if (!IsOpen() || !host || !host[0])
        return CONN_TLS_FAILED;   // a server nobody named cannot be authenticated
    // The server speaks only after the client's hello, so bytes already here
    // came from whoever stands in the middle (a proxy's CONNECT answer
    // followed by a made-up reply, say). ReadSome hands pending bytes out
    // first and would pass them off as the verified server's.
    if (pendingCount > 0) {
        tlsRefusal = TLS_REFUSED_EARLY_BYTES;
        return CONN_TLS_FAILED;
    }
    if (!tlsLibraryReady) {
        SSL_library_init();
        SSL_load_error_strings();
        tlsLibraryReady = 1;
    }
    const SSL_METHOD *method = ClientMethod(type);
    X509_STORE *roots = SystemRoots();
    tlsContext = method && roots ? SSL_CTX_new(method) : 0;
    if (tlsContext) {
        SSL_CTX_set1_cert_store(tlsContext, roots);
        SSL_CTX_set_verify(tlsContext, SSL_VERIFY_PEER, 0);
    }
    tlsSession = tlsContext ? SSL_new(tlsContext) : 0;
    if (!tlsSession || !SetPeerName(tlsSession, host) ||
        SSL_set_fd(tlsSession, (int)socket) != 1) {
        EndTls();
        return CONN_TLS_FAILED;
    }
    // The handshake's whole time is the old bound of 100 tries 100 ms apart;
    // each wait ends as soon as the server's next message arrives.
    DWORD start = GetTickCount();
    const DWORD bound = (DWORD)TLS_HANDSHAKE_TRIES * TLS_HANDSHAKE_PAUSE_MS;
    for (;;) {
        if (Cancelled()) {
            EndTls();
            return CONN_CANCELLED;
        }
        int answer = SSL_connect(tlsSession);
        if (answer == 1) {
            tlsType = type;
            return CONN_OK;
        }
        int error = SSL_get_error(tlsSession, answer);
        if ((error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) ||
            GetTickCount() - start >= bound)
            break;
        WaitForTls(AsSocket(socket), error, TLS_HANDSHAKE_PAUSE_MS);
    }
    // A certificate that did not verify ended the handshake: say why.
    tlsRefusal = RefusalOf(SSL_get_verify_result(tlsSession));
    EndTls();
    return CONN_TLS_FAILED;
}

void CConnection::EndTls()
{
    if (tlsSession) {
        // Best effort: a non-blocking socket may not take the alert at once.
        if (tlsType)
            SSL_shutdown(tlsSession);
        SSL_free(tlsSession);
        tlsSession = 0;
    }
    if (tlsContext) {
        SSL_CTX_free(tlsContext);
        tlsContext = 0;
    }
    // OpenSSL keeps state for every thread that used it (its error queue,
    // its random generators) until the thread says it is done, which a
    // static build never does by itself; each download runs on a thread of
    // its own (about 4.5 KB a thread otherwise). The next use makes it anew.
    if (tlsLibraryReady)
        OPENSSL_thread_stop();
    tlsType = 0;
}

// ------------------------------------------------------------------ close

int CConnection::Close()
{
    if (!IsOpen())
        return CONN_NOT_OPEN;
    EndTls();
    SOCKET s = AsSocket(socket);
    shutdown(s, SD_BOTH);
    bool closed = false;
    for (int attempt = 0; attempt < CLOSE_TRIES; attempt++) {
        if (closesocket(s) == 0) {
            closed = true;
            break;
        }
        if (WSAGetLastError() == WSAENOTSOCK)
            break;   // gone already: retrying cannot help
        Sleep(CLOSE_PAUSE_MS);
    }
    socket = -1;
    pendingCount = 0;
    return closed ? CONN_OK : CONN_SOCKET_ERROR;
}

// ------------------------------------------------------------------ send

int CConnection::Send(const void *buffer, int length, bool reportProgress)
{
    if (!IsOpen())
        return CONN_NOT_OPEN;
    const char *bytes = (const char *)buffer;
    if (length == 0)
        length = bytes ? (int)strlen(bytes) : 0;
    if (reportProgress)
        Report(0);
    DWORD lastProgress = GetTickCount();
    SOCKET s = AsSocket(socket);
    int sent = 0;
    while (sent < length) {
        int piece = length - sent < CONN_CHUNK ? length - sent : CONN_CHUNK;
        if (tlsSession) {
            for (;;) {
                if (Cancelled())
                    return CONN_CANCELLED;
                if (GetTickCount() - lastProgress > (DWORD)timeoutMs)
                    return CONN_TIMEOUT;
                int written = SSL_write(tlsSession, bytes + sent, piece);
                if (written > 0) {
                    if (written < piece)
                        return CONN_SHORT_SEND;
                    break;
                }
                int error = SSL_get_error(tlsSession, written);
                if (error != SSL_ERROR_WANT_WRITE && error != SSL_ERROR_WANT_READ)
                    return CONN_SHORT_SEND;
                WaitForTls(s, error, TLS_WAIT_MS);
            }
        } else {
            for (;;) {
                if (Cancelled())
                    return CONN_CANCELLED;
                if (GetTickCount() - lastProgress > (DWORD)timeoutMs)
                    return CONN_TIMEOUT;
                int ready = SelectOne(s, SEND_WAIT_MS, false, true, false);
                if (ready == SOCKET_ERROR)
                    return CONN_SOCKET_ERROR;
                if (ready > 0)
                    break;
            }
            int written = send(s, bytes + sent, piece, 0);
            if (written != piece)
                return CONN_SHORT_SEND;
        }
        sent += piece;
        lastProgress = GetTickCount();
        if (reportProgress)
            Report(sent);
    }
    return CONN_OK;
}

// ------------------------------------------------------------------ receive

int CConnection::WaitReadable(int milliseconds)
{
    if (!IsOpen())
        return SOCKET_ERROR;
    return SelectOne(AsSocket(socket), milliseconds, true, false, false);
}

// Bytes go back in front of what is pending.
void CConnection::PushBack(const unsigned char *bytes, int n)
{
    if (n <= 0)
        return;
    if (n + pendingCount > CONN_CHUNK)
        n = CONN_CHUNK - pendingCount;   // cannot happen: see Receive
    memmove(pending + n, pending, (size_t)pendingCount);
    memcpy(pending, bytes, (size_t)n);
    pendingCount += n;
}

int CConnection::ReadSome(void *buffer, int n)
{
    if (n > CONN_CHUNK)
        n = CONN_CHUNK;
    if (n <= 0 || !IsOpen())
        return n <= 0 ? 0 : CONN_READ_CLOSED;
    if (pendingCount == 0) {
        if (tlsSession) {
            DWORD start = GetTickCount();
            for (;;) {
                int got = SSL_read(tlsSession, pending, CONN_CHUNK);
                if (got > 0) {
                    pendingCount = got;
                    break;
                }
                int error = SSL_get_error(tlsSession, got);
                if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)
                    return CONN_READ_CLOSED;
                if (Cancelled())
                    return CONN_READ_CLOSED;
                if (GetTickCount() - start > (DWORD)timeoutMs)
                    return CONN_READ_TIMEOUT;
                WaitForTls(AsSocket(socket), error, TLS_WAIT_MS);
            }
        } else {
            SOCKET s = AsSocket(socket);
            int ready = SelectOne(s, READ_WAIT_MS, true, false, false);
            if (ready == 0)
                return 0;
            if (ready == SOCKET_ERROR)
                return CONN_READ_CLOSED;
            int got = recv(s, (char *)pending, CONN_CHUNK, 0);
            if (got == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK)
                return 0;
            if (got <= 0)
                return CONN_READ_CLOSED;
            pendingCount = got;
        }
    }
    int take = pendingCount < n ? pendingCount : n;
    memcpy(buffer, pending, (size_t)take);
    memmove(pending, pending + take, (size_t)(pendingCount - take));
    pendingCount -= take;
    return take;
}

int CConnection::Receive(CGrowArray<unsigned char> *target, const char *terminator, int count,
                         bool reportProgress)
{
    if (!IsOpen())
        return CONN_NOT_OPEN;
    target->count = 0;
    if (reportProgress)
        Report(0);
    int termLength = terminator ? (int)strlen(terminator) : 0;
    DWORD lastData = GetTickCount();
    unsigned char piece[CONN_CHUNK];
    while (count < 0 || target->count < count) {
        if (GetTickCount() - lastData > (DWORD)timeoutMs)
            return CONN_TIMEOUT;
        if (Cancelled())
            return CONN_CANCELLED;
        int want = CONN_CHUNK;
        if (count >= 0 && count - target->count < want)
            want = count - target->count;
        int got = ReadSome(piece, want);
        if (got < 0) {
            // A cancel that ended a TLS read is a cancel, not a short body.
            if (Cancelled())
                return CONN_CANCELLED;
            if (target->count > 0)
                return CONN_OK;
            return got == CONN_READ_TIMEOUT ? CONN_TIMEOUT : CONN_RECEIVE_FAILED;
        }
        if (got == 0)
            continue;
        int before = target->count;
        if (target->AppendBytes(piece, got) < 0)
            return CONN_RECEIVE_FAILED;
        lastData = GetTickCount();
        if (reportProgress)
            Report(target->count);
        if (termLength > 0) {
            int from = before - termLength > 0 ? before - termLength : 0;
            for (int at = from; at + termLength <= target->count; at++) {
                if (memcmp(target->data + at, terminator, (size_t)termLength) == 0) {
                    int end = at + termLength;
                    // Everything past the terminator came from this piece.
                    PushBack(target->data + end, target->count - end);
                    target->count = end;
                    target->growStep = -1;
                    return CONN_OK;
                }
            }
        }
    }
    return CONN_OK;
}

// ------------------------------------------------------------------ Base64

char *Base64Encode(const void *bytes, int length)
{
    if (!bytes || length <= 0)
        return 0;
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const unsigned char *in = (const unsigned char *)bytes;
    int characters = 4 * ((length + 2) / 3);
    char *out = (char *)malloc((size_t)characters + 2 * (characters / 76) + 2);
    if (!out)
        return 0;
    char *p = out;
    int groups = 0;
    for (int i = 0; i < length; i += 3) {
        int n = length - i < 3 ? length - i : 3;
        uint32_t word = (uint32_t)in[i] << 16;
        if (n > 1)
            word |= (uint32_t)in[i + 1] << 8;
        if (n > 2)
            word |= in[i + 2];
        *p++ = alphabet[(word >> 18) & 63];
        *p++ = alphabet[(word >> 12) & 63];
        *p++ = n > 1 ? alphabet[(word >> 6) & 63] : '=';
        *p++ = n > 2 ? alphabet[word & 63] : '=';
        if (++groups == 19) {
            *p++ = '\r';
            *p++ = '\n';
            groups = 0;
        }
    }
    *p = 0;
    return out;
}

char *Base64EncodeString(const char *text)
{
    return text ? Base64Encode(text, (int)strlen(text)) : 0;
}

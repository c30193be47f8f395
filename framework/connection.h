// CConnection: one TCP client connection over a non-blocking socket,
// optionally carrying a TLS session (OpenSSL), with a receive time-out, a
// cancel byte polled during every wait and a progress callback. Only the HTTP
// client (httpclient.h) uses it. Also the Base64 encoder of HTTP Basic
// credentials.
//
// A TLS session authenticates the server: its chain must lead to a root of
// the Windows "ROOT" system store and its certificate must name the host
// asked for; the host name goes out as the server name (SNI). A server
// that fails this ends the start of TLS with 13 and tlsRefusal says why.
// Bytes received before the handshake are never handed out as if they had
// come through TLS: a start of TLS that finds any refuses.
//
// The header names no socket or TLS type, so its users need neither
// <winsock2.h> nor OpenSSL's headers.
#pragma once

#include <stdint.h>

#include "framework/growarray.h"

enum ConnectionResult {
    CONN_OK = 0,
    CONN_SOCKET_ERROR = 1,
    CONN_ALREADY_OPEN = 2,
    CONN_NOT_OPEN = 3,
    CONN_HOST_NOT_RESOLVED = 4,
    CONN_CONNECT_FAILED = 5,
    CONN_TIMEOUT = 6,             // also a cancel noticed while connecting
    CONN_SHORT_SEND = 7,
    CONN_CANCELLED = 8,
    CONN_STARTUP_FAILED = 11,     // the socket library would not start
    CONN_RECEIVE_FAILED = 12,
    CONN_TLS_FAILED = 13,         // also a server certificate refused (tlsRefusal)
};

// Why TLS was refused (CConnection::tlsRefusal): the server's certificate,
// or bytes that nobody but a party in the middle can have sent.
enum TlsRefusal {
    TLS_REFUSED_NONE = 0,         // not refused (a failed TLS start had another cause)
    TLS_REFUSED_UNTRUSTED = 1,    // the chain leads to no trusted root (self-signed, unknown CA)
    TLS_REFUSED_OTHER_HOST = 2,   // a valid certificate, made out to another host
    TLS_REFUSED_EXPIRED = 3,      // expired, or not valid yet
    TLS_REFUSED_EARLY_BYTES = 4,  // bytes were pending before the handshake (after a
                                  // proxy's CONNECT answer, say): never read as the server's
};

// TLS types: 0 (or less) plain; 1 SSL 3.0, 2 TLS 1.0, 3 TLS 1.1, any other
// value TLS 1.2 (the HTTP client passes 4). No client certificate.
enum {
    CONN_TLS_NONE = 0,
    CONN_TLS_SSL3 = 1,
    CONN_TLS_1_0 = 2,
    CONN_TLS_1_1 = 3,
    CONN_TLS_1_2 = 4,

    CONN_CHUNK = 1500,             // pending buffer, send and read pieces
    CONN_DEFAULT_TIMEOUT_MS = 20000,
};

// ReadSome's answers besides a byte count.
enum { CONN_READ_CLOSED = -1, CONN_READ_TIMEOUT = -2 };

typedef void (*ConnectionProgress)(int received, int total);

struct ssl_ctx_st;
struct ssl_st;

class CConnection {
public:
    intptr_t socket;              // -1: closed
    int tlsType;                  // type in force, 0 = plain
    int timeoutMs;                // receive (and send) time-out without progress
    ConnectionProgress progress;
    int total;                    // passed to progress
    const volatile unsigned char *cancel;   // may be null; nonzero cancels
    unsigned char pending[CONN_CHUNK];      // received, not yet handed out
    int pendingCount;
    ssl_ctx_st *tlsContext;       // owned; null when plain
    ssl_st *tlsSession;
    unsigned char tlsLibraryReady;
    int tlsRefusal;               // TlsRefusal of the latest Connect or StartTls

    CConnection();
    ~CConnection();   // closes an open connection

    // Opens the connection (tlsType <= 0: plain) with a connect time-out of
    // seconds; TLS authenticates the server as host. 0, or 1, 2 (already
    // open), 4, 5, 6, 11, 13.
    int Connect(const char *host, int port, int tlsType, int seconds);
    // A TLS client session on the open socket with the server host (a name
    // or an IPv4 literal; through a proxy tunnel the target's, not the
    // proxy's): 0, 8 (cancelled) or 13 (also without a host, and when bytes
    // are already pending: tlsRefusal 4).
    int StartTls(int type, const char *host);
    void EndTls();
    // 3 when not open; 1 when the socket would not close; else 0.
    int Close();
    bool IsOpen() const { return socket != -1; }

    // length 0: the text's length. 0, 1, 3, 6, 7 or 8.
    int Send(const void *buffer, int length, bool reportProgress);
    // Empties target, then fills it: up to count bytes (-1 unlimited), up to
    // and including terminator when one is given (bytes past it stay
    // pending), or until the peer closes after some data. 0, 3, 6, 8, 12.
    int Receive(CGrowArray<unsigned char> *target, const char *terminator, int count,
                bool reportProgress);
    // Up to n (at most 1500) bytes: their count, 0 nothing yet, -1 closed or
    // error, -2 time-out.
    int ReadSome(void *buffer, int n);
    // select() for readability: > 0 readable, 0 not, < 0 failure.
    int WaitReadable(int milliseconds);
    void SetTotal(int newTotal) { total = newTotal; }

private:
    bool Cancelled() const { return cancel && *cancel; }
    void Report(int done);
    void PushBack(const unsigned char *bytes, int n);
};

// Base64 (RFC 4648 alphabet, "=" padding), CR LF after every 76 output
// characters, NUL-terminated. The result is malloc'd: the caller frees it.
// Empty or null input gives null.
char *Base64Encode(const void *bytes, int length);
char *Base64EncodeString(const char *text);

// The cloud updater's transport (CloudsHttpGetToFile, clouds.h) on the
// framework's HTTP client: one CHttpRequest per HttpFileRequest. The
// framework knows nothing of the earth model; this file joins the two.
//
// The body is handed on in pieces while it arrives: the client's progress
// callback (which carries no context) finds this thread's request through a
// thread-local pointer and passes on the bytes received since its last call.
// A nonzero answer of the body callback sets the request's cancel byte, so
// the transfer stops, and becomes the result.
#include "earth/clouds.h"

#include <string.h>

#include "framework/application.h"
#include "framework/httpclient.h"

int CloudsHttpGetToFile(HttpFileRequest *request);

namespace {

struct TransferState {
    HttpFileRequest *request;
    CHttpRequest *http;
    int delivered;                    // body bytes handed to request->body
    int bodyResult;                   // the body callback's first nonzero answer
    volatile unsigned char cancel;
};

thread_local TransferState *tTransfer = 0;

// Hands the body bytes not yet delivered to the caller.
void Deliver(TransferState *state, int received)
{
    if (received < state->delivered)
        state->delivered = 0;         // a new body started
    HttpFileRequest *request = state->request;
    if (state->bodyResult || !request->body || received <= state->delivered ||
        received > state->http->response.count)
        return;
    int answer = request->body(request->context, state->http->response.data + state->delivered,
                               (uint32_t)(received - state->delivered));
    state->delivered = received;
    if (answer) {
        state->bodyResult = answer;
        state->cancel = 1;
    }
}

void OnProgress(int received, int total)
{
    TransferState *state = tTransfer;
    if (!state)
        return;
    Deliver(state, received);
    if (state->request->progress)
        state->request->progress(state->request->context, received, total);
}

}  // namespace

int CloudsHttpGetToFile(HttpFileRequest *request)
{
    if (!request || !request->url)
        return HTTP_BAD_URL;
    request->lastModified[0] = 0;
    request->finalUrl[0] = 0;

    CHttpRequest *http = new CHttpRequest;
    if (request->proxyServer && request->proxyServer[0])
        http->SetProxy(request->proxyServer, request->proxyPort, request->proxyConnection != 0,
                       request->proxyUser, request->proxyUser ? request->proxyPassword : 0);
    if (request->maxBody > 0)
        http->maxBody = request->maxBody;
    TransferState state = {request, http, 0, 0, 0};
    http->SetCancelFlag(&state.cancel);
    http->SetProgressCallback(OnProgress, -1);   // -1: total unknown until a length comes

    // Only a given, non-empty date makes the request conditional.
    char since[HTTP_MODIFIED_SIZE];
    bool conditional = request->ifModifiedSince && request->ifModifiedSince[0];
    if (conditional)
        CopyText(since, request->ifModifiedSince, sizeof since);

    TransferState *outer = tTransfer;
    tTransfer = &state;
    int result = http->Get(request->url, true, request->user, request->password,
                           conditional ? since : 0, true, sizeof since);
    tTransfer = outer;

    if (result == HTTP_OK)
        Deliver(&state, http->response.count);   // whatever the last report left
    if (state.bodyResult)
        result = state.bodyResult;
    if (result == HTTP_OK)
        CopyText(request->lastModified, http->lastModified, HTTP_MODIFIED_SIZE);
    if (strcmp(http->lastUrl, request->url) != 0)
        CopyText(request->finalUrl, http->lastUrl, HTTP_URL_SIZE);
    delete http;
    return result;
}


#pragma once
// Why a page did not load: the network's answer, sorted into the kinds the
// callers act on. A transient failure may go away by itself (try again
// later); a permanent one will not.

#include <QNetworkReply>
#include <QString>

#include <chrono>

namespace platform {

struct FetchFailure {
    enum class Kind {
        None,              // the page loaded (any status below 400)
        NoConnection,      // refused, unreachable, no route
        ConnectionClosed,  // closed or reset before the answer was whole
        NameLookup,        // the host name could not be resolved
        Tls,               // the TLS handshake or certificate failed
        Timeout,           // no whole answer within the page time-out
        HttpStatus,        // an answer with status 400 or more (see httpStatus)
        Refused,           // not an http(s) address, a refused redirect, too many redirects
        Other,             // any other network error
    };

    Kind kind = Kind::None;
    // The answer's status for kind HttpStatus; 0 otherwise.
    int httpStatus = 0;
    // Seconds the answer's Retry-After asked for; -1 when it gave none (or
    // gave one that could not be read).
    int retryAfterS = -1;
    // The network library's own words, for logs; may be empty.
    QString detail;

    bool Failed() const { return kind != Kind::None; }
    // Network kinds, time-outs and the statuses 408, 425, 429 and 5xx.
    bool IsTransient() const;
    // A short text for the operator and the failures list: "connection
    // refused", "time-out", "HTTP 503", "HTTP 429 (Retry-After 30 s)"...
    QString Describe() const;
};

// The kind for an error of Qt's network access; NoError gives Kind::None.
FetchFailure::Kind FailureKindOf(QNetworkReply::NetworkError error);

// 408, 425, 429 and every status from 500 to 599.
bool IsTransientStatus(int status);

// The delay a Retry-After header value asks for: delta-seconds, or an HTTP
// date taken against `nowUtcSecs` (seconds since the epoch; a past date
// gives 0). -1 for an empty or unreadable value.
int ParseRetryAfter(const QByteArray& value, qint64 nowUtcSecs);

}  // namespace platform

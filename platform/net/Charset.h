#pragma once
// Decoding of fetched page bodies into text, choosing the character encoding
// the way web browsers do: the WHATWG HTML Living Standard's "Determining the
// character encoding" (anchor #determining-the-character-encoding), its
// "prescan a byte stream to determine its encoding" and "algorithm for
// extracting a character encoding from a meta element", with encoding labels
// read as the WHATWG Encoding Standard's "get an encoding" (anchor
// #concept-encoding-get).

#include <QByteArray>
#include <QString>

namespace platform {

// The canonical name of the encoding that an encoding label stands for, as
// browsers treat labels (surrounding whitespace and case ignored; e.g.
// "latin1", "iso-8859-1" and "us-ascii" all mean "windows-1252"), or an empty
// string when the label names no encoding this program can decode.
QByteArray EncodingForLabel(const QByteArray& label);

// The charset parameter of a Content-Type header value, unquoted; empty when
// there is none.
QByteArray CharsetFromContentType(const QByteArray& contentType);

// The encoding declared by a <meta charset> or <meta http-equiv=content-type>
// element within the first 1024 bytes of `body` (the browsers' prescan), as a
// canonical name; empty when none is declared or the label is unknown. A
// declared UTF-16 means UTF-8 here, because a page that really were UTF-16
// would carry a byte order mark.
QByteArray PrescanMetaCharset(const QByteArray& body);

// The encoding chosen for a body, in the browsers' order of precedence:
// a byte order mark, then the HTTP Content-Type charset, then the meta
// prescan, and "windows-1252" when nothing declares one.
QByteArray ChooseEncoding(const QByteArray& body, const QByteArray& contentType);

// `body` decoded with ChooseEncoding's choice; a byte order mark is dropped
// and malformed sequences become U+FFFD.
QString DecodeBody(const QByteArray& body, const QByteArray& contentType);

}  // namespace platform

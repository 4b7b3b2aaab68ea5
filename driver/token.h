// The request token: digest, handout (the token record) and check.
#pragma once
#include <cstddef>

constexpr int TOKEN_TEXT_MAX = 1024;

// Set when the request failed authentication or lacked its top function or modules; the token
// record then says "NG".
extern bool request_failed;
// The token and digest sent by the "Q" command.
extern char token_text[TOKEN_TEXT_MAX + 1];
extern size_t token_len;
extern char token_digest_text[TOKEN_TEXT_MAX + 1];
extern size_t token_digest_len;

// Digest of text with the 16-bit time t and the client address; returns its length, or -1 when
// it would not fit cap bytes (terminator included).
int token_digest(const char* text, size_t len, unsigned t, char* out, size_t cap);
// Whether a token key or a time interval is configured (the token record is then written).
bool token_configured();
// Writes "X" + the new token + its digest, or "X12NG12NG" for a failed request.
void write_token_record();
// Checks the "Q" token of a CGI request; raises 1775 on failure.
void check_request_token();

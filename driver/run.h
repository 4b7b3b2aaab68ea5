// The main sequence of one process: start-up, the request, the run and the tail.
#pragma once
#include <cstddef>
#include <sys/types.h>

// The request text as received (the CGI body or the first argument), zero-terminated.
extern char* body_buf;
extern size_t body_len;
// The read used for the request body (tests replace it).
extern ssize_t (*body_read)(int fd, void* buf, size_t len);

constexpr size_t BODY_STATIC_SIZE = 16384;

// Reads CONTENT_LENGTH and the body, until that many bytes or the end of the input (a shorter
// body is taken as it arrived); fatal stops on a malformed length.
void read_cgi_body();
// The whole process; returns the exit status.
int run_main(int argc, char** argv);

/* The yardstick of the web benchmark: a minimal CGI program that reads the request body and
   answers fixed bytes (ANSWER, given when it is compiled: the engine's answer to the same
   request). */
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

int main(void) {
  const char* cl = getenv("CONTENT_LENGTH");
  long want = cl ? strtol(cl, NULL, 10) : 0;
  char buf[65536];
  while (want > 0) {
    ssize_t n = read(0, buf, (size_t)want < sizeof buf ? (size_t)want : sizeof buf);
    if (n <= 0) break;
    want -= n;
  }
  fputs("Content-type: text/plane;charset=UTF-8\n\n" ANSWER, stdout);
  return 0;
}

// The debugger-link calls of the plain engine: they do nothing.

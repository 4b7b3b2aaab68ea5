// Program entry of scriptcgi and scriptcgi-debug.
int main() { return 0; }

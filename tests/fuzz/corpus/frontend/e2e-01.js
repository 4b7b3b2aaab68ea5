function late() { return 1; }

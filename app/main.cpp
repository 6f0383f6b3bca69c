// Placeholder entry; the real start-up arrives with the main window.
int main() { return 0; }

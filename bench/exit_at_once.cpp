// Stands in for TarnwickUnzip.exe in the benchmark: starts and ends.
int main() { return 0; }

// The least a C++ program starts and ends with, linked as the tool is: what the tool's start-up
// is measured against.
int main() {
    return 0;
}

// The main of a layer check: the build links it with every object of one
// library and that library's declared layers, so that a call into a layer
// above fails to link.
int main() { return 0; }

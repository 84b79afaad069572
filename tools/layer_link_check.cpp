// The program each layer's link check builds around the layer's archive, all
// of whose objects are linked in with only the layers below it: an object
// that calls up into a higher layer leaves an undefined symbol and the build
// fails. Nothing runs it.
int main() { return 0; }

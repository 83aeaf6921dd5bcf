// A module that needs a function nobody provides.
extern "C" int quarvel_nowhere_defined(int);

extern "C" __attribute__((visibility("default"))) int Unresolved_Call(int x) { return quarvel_nowhere_defined(x); }

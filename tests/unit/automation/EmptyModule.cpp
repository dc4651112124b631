// A loadable module that exports none of the server entry points.
extern "C" __attribute__((visibility("default"))) int automationTestNotAServer() { return 42; }
